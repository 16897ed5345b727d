#include "system/command.h"

#include "system/internal.h"

#include <algorithm>
#include <cstdio>

CommandEnd runCommandWithin(const std::string& command, int deadlineSeconds, std::string& output,
                            const std::string& programFolder, std::string* errors) {
    // What we printed must reach the console before what the command prints.
    std::fflush(nullptr);
    const CommandClock::time_point deadline =
        CommandClock::now() + std::chrono::seconds(deadlineSeconds);
    CommandStreams streams;
    streams.collectErrors = errors != nullptr;
    const CommandEnd end = runOnThisPlatform(command, programFolder, deadline, streams);
    output = end == CommandEnd::NotStarted ? "popen failed" : streams.output;
    if (errors)
        *errors = streams.errors;
    return end;
}

std::string runCommand(const std::string& command) {
    // A registry query answers at once; one that does not is given up long before the user
    // would.
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

std::string capturedText(const std::string& raw, bool crlfAsLf) {
    std::string text;
    text.reserve(raw.size());
    for (size_t at = 0; at < raw.size(); ++at)
        if (!(crlfAsLf && raw[at] == '\r' && at + 1 < raw.size() && raw[at + 1] == '\n'))
            text.push_back(raw[at]);
    std::string result;
    result.reserve(text.size());
    for (size_t from = 0; from < text.size();) {
        // One fgets: up to a line feed, or 127 bytes when the line is longer.
        size_t end = from;
        while (end < text.size() && end - from < 127)
            if (text[end++] == '\n')
                break;
        const auto chunk = text.begin() + static_cast<std::ptrdiff_t>(from);
        const auto last = text.begin() + static_cast<std::ptrdiff_t>(end);
        result.append(chunk, std::find(chunk, last, '\0'));
        from = end;
    }
    return result;
}
