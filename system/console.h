#pragma once

#include <string>

enum class LineRead { Line, EndOfInput, Error };

// Reads one line of standard input into `line`, without its line feed and a carriage
// return before it; `line` stays as it was at the end of the input.
LineRead readInputLine(std::string& line);

// Shows the password prompt on `promptFd` and reads one line into `password` with echo off
// (back on before it returns, or when a signal ends the run); an empty one at the end of
// the input. Returns 0, or 1 when the input could not be read.
int readPassword(std::string& password, int promptFd);

// No core file (psql inherits the limit) and, on Linux, no reading of this process's
// memory by others of the user: the password is in it.
void keepSecretsOutOfDumps();

// Overwrites every byte `secret` holds, in a way the compiler may not leave out, and
// empties it.
void wipeSecret(std::string& secret);
