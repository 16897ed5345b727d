#include "system/line_input.h"

#include <cstdio>

LineRead readInputLine(std::string& line) {
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
    line.swap(text);
    return LineRead::Line;
}
