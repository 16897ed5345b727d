#include "system/console.h"

#include "system/internal.h"

#include <cstdio>
#include <iostream>

LineRead readByteLine(std::string& line) {
    std::string text;
    int c;
    bool any = false;
    while ((c = std::getchar()) != EOF) {
        any = true;
        if (c == '\n')
            break;
        text.push_back(static_cast<char>(c));
    }
    if (c == EOF) {
        if (std::ferror(stdin))
            return LineRead::Error;
        if (!any)
            return LineRead::EndOfInput;
    }
    // A line written on Windows, or typed where Enter sends CR LF, ends in a carriage
    // return that is no part of the answer.
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

int readPassword(std::string& password) {
    const bool hidden = hideTyping();
    std::cout << kPasswordPrompt << std::flush;
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
    if (outcome == LineRead::Error) {
        std::cout << "Could not enter database password" << std::endl;
        return 1;
    }
    return 0;
}
