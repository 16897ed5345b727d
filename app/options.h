#pragma once

#include <string>
#include <vector>

enum class ReportFormat { Text, Json };

// The values the tool takes on its command line, kept as typed, and its flags.
struct CheckOptions {
    std::string hostname;
    std::string port;
    std::string pguser;
    std::string mainuser;
    std::string internaluser;
    std::string format = "text"; // "text" or "json"
    std::string psqlPath;        // psql's file, when named: no search then
    bool strict = false;         // the exit status tells the verdicts
    bool noPassword = false;     // no prompt: PGPASSWORD or the password file
    // One line for each argument the walk skipped, to be reported before the run.
    std::vector<std::string> skipped;
};

// Walks the argument vector: a flag where a name stands, else a name and its value.
// Fills `options` and notes what was skipped; prints nothing. Returns 1 when there are
// too few arguments to hold a check (none, or a single one), 0 otherwise.
int readOptions(int argc, const char* const argv[], CheckOptions& options);

// Checks that hostname, port, pguser and mainuser are present and the format is known.
// Prints the first validation error it meets. Returns 0 when valid, 1 otherwise.
int validateOptions(const CheckOptions& options);

// readOptions, then validateOptions.
int parseOptions(int argc, const char* const argv[], CheckOptions& options);

ReportFormat reportFormat(const CheckOptions& options);

// Whether the command line is a lone --version.
bool asksForVersion(int argc, const char* const argv[]);
