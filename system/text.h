#pragma once

#include <string>
#include <vector>

// The program's command line, its name first, as UTF-8 text, which is how every value
// travels inside the tool. On Windows it is read from the wide command line, so no
// character is ever replaced by a look-alike of the ANSI code page; on Linux and macOS
// it is read in the character set of the locale (LC_CTYPE), and taken as it is where
// that is UTF-8 or the plain C locale. Returns 0, or 1 when an argument holds bytes
// that are no text in that character set.
int commandLineArguments(int argc, char* argv[], std::vector<std::string>& arguments);

// How the server is to read the names given on the command line: fills `given` with
// the arguments' bytes and returns PostgreSQL's name of their character set. On Linux
// and macOS these are the bytes as typed where the locale's character set is one
// PostgreSQL knows and not UTF-8, so that the server's conversion tables decide what
// they mean; otherwise, and on Windows, the UTF-8 `arguments` and "UTF8".
std::string argumentsForServer(int argc, char* argv[], const std::vector<std::string>& arguments,
                               std::vector<std::string>& given);

// Text that a program of the system (where.exe, cmd.exe's echo) wrote into a pipe, as
// UTF-8: on Windows it comes in the console's output code page (the OEM code page when
// there is no console), and is kept as it is when it is no text there; elsewhere it
// is taken as it is.
std::string systemOutputText(const std::string& output);
