#pragma once

#include <string>
#include <vector>

// Where one platform looks for psql, and what it says when it cannot find it. {N} stands
// for a major version; {SYSTEM} in a command for systemProgramFolder, so that no program
// of the name in the current folder runs instead.
struct PsqlSearch {
    // The folders an installation may lie in; for versions above 16, the entries of the
    // folder above each named as its last part with digits in place of {N}.
    std::vector<std::string> installationFolders;
    // A command that prints an installation's base directory, and what its output holds
    // when it found one (the file there is checked too).
    std::string baseDirectoryProbe;
    std::string baseDirectoryHit;
    // A command that lists the installations, one a line ending in its major version.
    std::string installationListing;
    std::string binarySuffix; // psql's file, appended to an installation's folder
    std::string missMessage;
    std::string pathPrompt; // asks the user for the path when every probe missed
};

// The searches for Windows (the PostgreSQL installer's registry entries) and for Linux
// and macOS (the common packages' folders).
const PsqlSearch& windowsPsqlSearch();
const PsqlSearch& posixPsqlSearch();

// `text` with every {N} replaced by `version`.
std::string forVersion(const std::string& text, int version);

// Finds psql: the file the shell runs for the name, else the first runnable psql of the
// installations of 16 down to 12, else of a newer one, newest first. Returns 0 with
// `psqlPath` set, or 1 with it unchanged; `misses` gets the miss message of each of 16 to
// 12 probed in vain.
int locatePsql(const PsqlSearch& search, std::string& psqlPath, std::vector<std::string>& misses);
