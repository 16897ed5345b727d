#include "system/line_input_bytes.h"

#include <cstdio>

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
    // A line from a file written on Windows, or typed where Enter sends CR LF, ends in a
    // carriage return that is no part of the answer (on Windows the C runtime's text mode
    // has already read most CR LF as LF).
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    line.swap(text);
    return LineRead::Line;
}
