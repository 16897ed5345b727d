#pragma once

#include <string>
#include <vector>

// The command line, its name first, as UTF-8: on Windows from the wide command line, on
// Linux and macOS read in the locale's character set (as it is in UTF-8 or C). Returns 0,
// or 1 when an argument holds bytes that are no text there.
int commandLineArguments(int argc, char* argv[], std::vector<std::string>& arguments);

// How the server is to read the names given on the command line: fills `given` with
// the arguments' bytes and returns PostgreSQL's name of their character set. On Linux
// and macOS these are the bytes as typed where the locale's character set is one
// PostgreSQL knows and not UTF-8, so that the server's conversion tables decide what
// they mean; otherwise, and on Windows, the UTF-8 `arguments` and "UTF8".
std::string argumentsForServer(int argc, char* argv[], const std::vector<std::string>& arguments,
                               std::vector<std::string>& given);

// What a program of the system wrote into a pipe, as UTF-8: on Windows read in the
// console's output (or OEM) code page, kept as it is when no text there; elsewhere as is.
std::string systemOutputText(const std::string& output);
