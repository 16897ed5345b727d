#pragma once

#include <string>

enum class LineRead { Line, EndOfInput, Error };

// Reads one line from standard input up to a line feed, which is consumed and not stored,
// and so is one carriage return before it. `line` is replaced only when a line (possibly
// empty, or ended by the end of input) was read; EndOfInput: the input was at its end.
LineRead readInputLine(std::string& line);

// Asks for the database password with input echo switched off and reads one line into
// `password`; echo is restored before returning, and when a signal ends the run meanwhile.
// An empty input yields an empty password. Returns 0, or 1 (after saying so) on a failed read.
int readPassword(std::string& password);

// Keeps the password out of core files: the core size limit becomes 0 (psql inherits it)
// and, on Linux, the process is not dumpable, so other processes of the user cannot read it.
void keepSecretsOutOfDumps();
