#pragma once

#include <string>

// The five values the tool takes on its command line, kept as typed.
struct CheckOptions {
    std::string hostname;
    std::string port;
    std::string pguser;
    std::string mainuser;
    std::string internaluser;
};

// Reads name-value pairs from the argument vector into `options` and checks that
// hostname, port, pguser and mainuser are present. Prints the first validation
// error it meets. Returns 0 when the options are complete, 1 otherwise.
int parseOptions(int argc, const char* const argv[], CheckOptions& options);
