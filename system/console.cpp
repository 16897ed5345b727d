#include "system/console.h"

#include "system/internal.h"

#include <cstdio>

LineRead readByteLine(std::string& line) {
    std::string text;
    text.reserve(256);
    int c = EOF;
    while ((c = std::getchar()) != EOF) {
        if (c == '\n')
            break;
        // A full buffer moves into one twice its size and is wiped: it may hold a password.
        if (text.size() == text.capacity()) {
            std::string larger;
            larger.reserve(2 * text.capacity());
            larger.append(text);
            wipeSecret(text);
            text.swap(larger);
        }
        text.push_back(static_cast<char>(c));
    }
    if (c == EOF && std::ferror(stdin))
        return LineRead::Error;
    if (c == EOF && text.empty())
        return LineRead::EndOfInput;
    // A line written on Windows, or typed where Enter sends CR LF.
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    line.swap(text);
    return LineRead::Line;
}

LineRead readInputLine(std::string& line) {
    bool interrupted = false;
    const LineRead outcome = readLineOrInterrupt(line, interrupted);
    if (interrupted)
        endInterruptedRun(); // nothing is run with an answer cut short
    return outcome;
}

int readPassword(std::string& password, int promptFd) {
    const bool hidden = hideTyping(promptFd);
    writePrompt(promptFd);
    bool interrupted = false;
    const LineRead outcome = readLineOrInterrupt(password, interrupted);
    if (outcome == LineRead::EndOfInput)
        password.clear();
    if (hidden)
        showTyping();
    if (interrupted) {
        password.clear();
        endInterruptedRun(); // with echo on, and no check run with a password cut short
    }
    return outcome == LineRead::Error ? 1 : 0;
}
