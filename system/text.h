#pragma once

#include <string>
#include <vector>

// The command line, its name first, as UTF-8: on Windows from the wide command line, on
// Linux and macOS read in the locale's character set (as it is in UTF-8 or C). Returns 0,
// or 1 when an argument holds bytes that are no text there.
int commandLineArguments(int argc, char* argv[], std::vector<std::string>& arguments);

// What a program of the system wrote into a pipe, as UTF-8: on Windows read in the
// console's output (or OEM) code page, kept as it is when no text there; elsewhere as is.
std::string systemOutputText(const std::string& output);
