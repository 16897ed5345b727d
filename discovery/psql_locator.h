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
// Linux and macOS (the folders of the common packages); the driver takes the one for
// kCommandLanguage.
const PsqlSearch& windowsPsqlSearch();
const PsqlSearch& posixPsqlSearch();

// `text` with every {N} replaced by `version`.
std::string forVersion(const std::string& text, int version);

// Finds psql: on the search path (the file the shell would run for the name), else in an
// installation of PostgreSQL 16 down to 12, else of a newer one, newest first. Returns 0
// with `psqlPath` set, or 1 with it unchanged; `misses` gets the miss message of each of
// 16 to 12 probed in vain.
int locatePsql(const PsqlSearch& search, std::string& psqlPath, std::vector<std::string>& misses);
