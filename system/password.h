#pragma once

#include <string>

// Asks for the database password on the console with input echo switched off and
// reads one line into `password`. Echo is restored before returning, and also when
// the process is interrupted while waiting. An empty input yields an empty password.
// Returns 0 when a line was read, 1 (after printing why) when reading failed.
int readPassword(std::string& password);
