#pragma once

#include <string>

// Asks for the database password on the console with input echo switched off and
// reads one line into `password`. Echo is restored before returning, and also when
// the process is interrupted while waiting. An empty input yields an empty password.
// Returns 0 when a line was read, 1 (after printing why) when reading failed.
int readPassword(std::string& password);

// Keeps the password out of core files for the rest of the run: the core size limit
// becomes 0 (psql inherits it) and, where the system allows, this process is marked
// not dumpable, which also keeps other processes of the same user from reading its
// memory and environment. psql, once started, holds the password in its own
// environment like any program given PGPASSWORD.
void keepSecretsOutOfDumps();
