#pragma once

#include <string>
#include <vector>

// One argument of the command line: as UTF-8 text, and as typed (on Windows the same).
// `isText` is false when it is no text in the locale's character set (UTF-8 in the C
// locale); `text` then holds the bytes as they are.
struct Argument {
    std::string text;
    std::string bytes;
    bool isText = true;
};

// The command line, its name first, with PostgreSQL's name for the character set they
// were typed in: "" when it knows none (the server then reads the UTF-8 text).
struct CommandLine {
    std::vector<Argument> arguments;
    std::string encoding = "UTF8";
};

// Reads the command line: on Windows from the wide command line, on Linux and macOS in
// the locale's character set.
CommandLine readCommandLine(int argc, char* argv[]);

// What a program of the system wrote into a pipe, as UTF-8: on Windows read in the
// console's output (or OEM) code page, kept as it is when no text there.
std::string systemOutputText(const std::string& output);

// The text report's names in the locale's character set (on Windows as UTF-8): each
// character it lacks becomes ?.
std::string toLocaleText(const std::string& utf8);

// Where the locale's character set has controls beyond ASCII's (C1): as UTF-8 writes them
// (C2 80 to C2 9F), as the bytes 80 to 9F (ISO 8859), or in no byte (Shift JIS, EUC...).
enum class C1Controls { Utf8, Bytes, None };
C1Controls localeC1Controls();

// The code point that begins at `at` in UTF-8 `text`, with its length in `length`; -1
// (length 1) where no valid sequence begins.
long utf8CodePoint(const std::string& text, size_t at, size_t& length);
void appendUtf8(long codePoint, std::string& text);

// `text` split at every `separator`, empty fields kept.
std::vector<std::string> splitFields(const std::string& text, char separator);

// `text` without the line feeds and carriage returns that end it.
std::string withoutLineEnds(std::string text);
