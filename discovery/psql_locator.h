#pragma once

#include <string>

// Where one platform looks for psql, and what it says when it cannot find it. In the
// texts below, {N} stands for a PostgreSQL major version number and {SYSTEM} for the
// folder of the system's own programs (systemProgramFolder), so that no program of that
// name in the current folder runs instead.
struct PsqlSearch {
    std::string installationProbe; // prints an installation's base directory, or nothing
    std::string installationHit;   // what a hit's output contains
    std::string binarySuffix;      // appended to the base directory
    std::string missMessage;
    std::string pathPrompt; // asks the user for the path when every probe missed
    // Whether an installation's psql file is checked here (Windows, where a registry
    // entry may outlive its installation); otherwise the installation probe checks the
    // file itself.
    bool checksFiles = false;
    // Lists the installations there are, one a line, each line ending in its major
    // version: those newer than 16 are probed, newest first, when 16 to 12 missed.
    std::string installationListing;
};

// The searches for Windows (the registry entries of the PostgreSQL installer) and for
// Linux and macOS (the directories of the common packages), and the one in force here.
const PsqlSearch& windowsPsqlSearch();
const PsqlSearch& posixPsqlSearch();
const PsqlSearch& platformPsqlSearch();

// `text` with every {N} replaced by `version`.
std::string forVersion(const std::string& text, int version);

// Decides the psql path. Returns 0 when psql is on the search path (the path becomes the
// file found there, which the shell would run for the name) or in an installation of
// PostgreSQL 16 down to 12, or else of a newer one, newest first (the path becomes that
// installation's psql); prints one line for each of 16 to 12 probed in vain and returns 1
// when none is found, leaving the path unchanged.
int locatePsql(std::string& psqlPath, const PsqlSearch& search = platformPsqlSearch());
