#pragma once

#include "system/text.h"

#include <string>
#include <vector>

enum class ReportFormat { Text, Json };

// The values the tool takes on its command line, as typed, and its flags.
struct CheckOptions {
    Argument hostname;
    Argument port;
    Argument pguser;
    Argument mainuser;
    Argument internaluser;
    Argument format = {"text", "text", true}; // "text" or "json"
    Argument psqlPath;                        // psql's file, when named: no search then
    bool strict = false;                      // the exit status tells the verdicts
    bool noPassword = false;                  // no prompt: PGPASSWORD or the password file
    bool internalGiven = false;               // -i was given, empty or not
    bool psqlGiven = false;                   // --psql was given, empty or not
    // A line for each argument skipped, and for an internal user given empty.
    std::vector<std::string> skipped;
};

// Walks the arguments after the program's name: a flag where a name stands, else a name
// and its value. Returns 1 when they are too few to hold a check (none, or one), else 0.
int readOptions(const std::vector<Argument>& arguments, CheckOptions& options);

// The first of a missing host, port, user or main role, or a format neither text nor
// json, as the line that says so; "" when there is none.
std::string validationError(const CheckOptions& options);

ReportFormat reportFormat(const CheckOptions& options);

// Whether the command line is a lone --version.
bool asksForVersion(const std::vector<Argument>& arguments);

// The names of every option and flag.
std::vector<std::string> optionNames();
