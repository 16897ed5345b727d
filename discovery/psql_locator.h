#pragma once

#include <string>
#include <vector>

// Where one platform looks for psql, and what it says when it cannot find it. In the
// texts below, {N} stands for a PostgreSQL major version number, and in the commands
// {SYSTEM} for the folder of the system's own programs (systemProgramFolder), so that
// no program of that name in the current folder runs instead. For each version the
// installation folders are tried in order, then the base directory the probe prints;
// the first where binarySuffix names a file that may run (isRunnableFile) is taken.
struct PsqlSearch {
    // The folders an installation may lie in. Those of installations newer than 16 are
    // the entries of the folder above each that are named as its last part is, with
    // digits in place of {N}.
    std::vector<std::string> installationFolders;
    // A command that prints an installation's base directory, or nothing, and what a
    // hit's output contains. The file there is checked too: a registry entry may
    // outlive its installation.
    std::string baseDirectoryProbe;
    std::string baseDirectoryHit;
    // A command that lists the installations there are, one a line, each line ending in
    // its major version.
    std::string installationListing;
    std::string binarySuffix; // psql's file, appended to an installation's folder
    std::string missMessage;
    std::string pathPrompt; // asks the user for the path when every probe missed
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
