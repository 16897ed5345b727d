#include "system/command.h"

#include "system/internal.h"

#include <algorithm>
#include <cstdio>

namespace {

// What fgets into a 128-byte buffer reads from a text-mode pipe holding `raw`: pieces of
// at most 127 bytes, each cut at a zero byte; with `crlfAsLf` each CR LF read as LF first.
std::string capturedText(const std::string& raw, bool crlfAsLf) {
    std::string text;
    for (size_t at = 0; at < raw.size(); ++at)
        if (!crlfAsLf || raw.compare(at, 2, "\r\n") != 0)
            text.push_back(raw[at]);
    std::string result;
    for (auto from = text.begin(); from != text.end();) {
        // One fgets: up to a line feed, or 127 bytes, the piece ending at a zero byte.
        const auto last = text.end() - from > 127 ? from + 127 : text.end();
        const auto lineEnd = std::find(from, last, '\n');
        const auto end = lineEnd == last ? last : lineEnd + 1;
        result.append(from, std::find(from, end, '\0'));
        from = end;
    }
    return result;
}

} // namespace

CommandEnd runCommandWithin(const std::string& command, int deadlineSeconds, std::string& output,
                            const std::string& programFolder, std::string* errors) {
    // What we printed must reach the console before what the command prints.
    std::fflush(nullptr);
    CommandStreams streams;
    streams.collectErrors = errors != nullptr;
    const CommandEnd end =
        runOnThisPlatform(command, programFolder,
                          CommandClock::now() + std::chrono::seconds(deadlineSeconds), streams);
    output = end == CommandEnd::NotStarted ? "popen failed"
                                           : capturedText(streams.output, streams.crlfLineEnds);
    if (errors)
        *errors = capturedText(streams.errors, streams.crlfLineEnds);
    return end;
}

std::string runCommand(const std::string& command) {
    // A registry query answers at once: one that does not is given up long before the user
    // would give up on it.
    std::string output;
    runCommandWithin(command, 20, output);
    return output;
}

int millisecondsUntil(CommandClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - CommandClock::now())
            .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void keepBytes(std::string& kept, const char* data, size_t size, size_t limit) {
    const size_t room = kept.size() < limit ? limit - kept.size() : 0;
    kept.append(data, std::min(size, room));
}
