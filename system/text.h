#pragma once

#include <string>
#include <vector>

// One argument of the command line: as UTF-8 text, and as the bytes a server is to read
// in CommandLine::encoding. `isText` is false when it is no text in the locale's
// character set; `text` then holds the bytes as they are.
struct Argument {
    std::string text;
    std::string bytes;
    bool isText = true;
};

// The command line, its name first, with PostgreSQL's name for the character set of the
// arguments' bytes.
struct CommandLine {
    std::vector<Argument> arguments;
    std::string encoding = "UTF8";
};

// Reads the command line: on Windows from the wide command line, on Linux and macOS in
// the locale's character set (as it is in a UTF-8 or the C locale). The bytes are the
// ones typed where PostgreSQL knows that character set and it is not UTF-8, else the text.
CommandLine readCommandLine(int argc, char* argv[]);

// What a program of the system wrote into a pipe, as UTF-8: on Windows read in the
// console's output (or OEM) code page, kept as it is when no text there.
std::string systemOutputText(const std::string& output);

// `text` split at every `separator`, empty fields kept.
std::vector<std::string> splitFields(const std::string& text, char separator);

// `text` without the line feeds and carriage returns that end it.
std::string withoutLineEnds(std::string text);
