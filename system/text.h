#pragma once

#include <string>
#include <vector>

// One argument of the command line, as UTF-8 text and as typed (on Windows the same);
// when it is no text in the locale's character set, `isText` is false and `text` the bytes.
struct Argument {
    std::string text;
    std::string bytes;
    bool isText = true;
};

// The command line, its name first, and PostgreSQL's name for the character set it was
// typed in ("" when it knows none: the server then reads the UTF-8 text).
struct CommandLine {
    std::vector<Argument> arguments;
    std::string encoding = "UTF8";
};

// Reads the command line: on Windows the wide one, elsewhere in the locale's character set.
CommandLine readCommandLine(int argc, char* argv[]);

// A system program's output as UTF-8: on Windows read in the console's output (or OEM)
// code page, kept as it is when no text there.
std::string systemOutputText(const std::string& output);

// UTF-8 text in the locale's character set (on Windows UTF-8), ? for what it lacks.
std::string toLocaleText(const std::string& utf8);

// The code point at `at` in UTF-8 `text` and its `length`; -1 (length 1) where none is.
long utf8CodePoint(const std::string& text, size_t at, size_t& length);
void appendUtf8(long codePoint, std::string& text);

// `text` split at every `separator`, empty fields kept.
std::vector<std::string> splitFields(const std::string& text, char separator);

// `text` without the line feeds and carriage returns that end it.
std::string withoutLineEnds(std::string text);
