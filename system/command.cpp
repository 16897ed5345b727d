#include "system/command.h"

#include <algorithm>

std::string runCommand(const std::string& command) {
    std::string output;
    runCommandWithin(command, kCommandDeadlineSeconds, output);
    return output;
}

void keepOutput(std::string& kept, const char* data, size_t size) {
    const size_t room = kept.size() < kCommandOutputLimit ? kCommandOutputLimit - kept.size() : 0;
    kept.append(data, std::min(size, room));
}

std::string capturedText(const std::string& raw, bool crlfAsLf) {
    std::string text;
    if (crlfAsLf) {
        text.reserve(raw.size());
        for (size_t at = 0; at < raw.size(); ++at)
            if (!(raw[at] == '\r' && at + 1 < raw.size() && raw[at + 1] == '\n'))
                text.push_back(raw[at]);
    } else {
        text = raw;
    }

    std::string result;
    result.reserve(text.size());
    for (size_t from = 0; from < text.size();) {
        // One fgets: up to a line feed, or 127 bytes when the line is longer.
        size_t end = from;
        while (end < text.size() && end - from < 127) {
            if (text[end++] == '\n')
                break;
        }
        const auto chunk = text.begin() + static_cast<std::ptrdiff_t>(from);
        const auto last = text.begin() + static_cast<std::ptrdiff_t>(end);
        result.append(chunk, std::find(chunk, last, '\0'));
        from = end;
    }
    return result;
}
