#include "discovery/psql_locator.h"

#include "system/command.h"
#include "system/program.h"
#include "system/text.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <vector>

namespace {

std::string replaced(const std::string& text, const std::string& placeholder,
                     const std::string& value) {
    std::string result;
    size_t from = 0;
    for (size_t at; (at = text.find(placeholder, from)) != std::string::npos;
         from = at + placeholder.size())
        result += text.substr(from, at - from) + value;
    return result + text.substr(from);
}

std::string withSystemFolder(const std::string& probe) {
    return replaced(probe, "{SYSTEM}", systemProgramFolder());
}

std::string withoutLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The major versions above 16 that end lines of `listing`, newest first, each once.
std::vector<int> newerVersions(const std::string& listing) {
    std::vector<int> versions;
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = withoutLineEnds(listing.substr(start, end - start));
        while (!line.empty() && (line.back() == ' ' || line.back() == '\\'))
            line.pop_back();
        size_t digits = line.size();
        while (digits > 0 && line[digits - 1] >= '0' && line[digits - 1] <= '9')
            --digits;
        const std::string number = line.substr(digits);
        if (!number.empty() && number.size() <= 3 && number[0] != '0') {
            const int version = std::stoi(number);
            if (version > 16)
                versions.push_back(version);
        }
        start = end + 1;
    }
    std::sort(versions.begin(), versions.end(), std::greater<int>());
    versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
    return versions;
}

} // namespace

const PsqlSearch& windowsPsqlSearch() {
    // cmd /c, which runs each probe and, inside FOR /F's parentheses, the reg command,
    // takes off a command's first and last quote: each stands in one more pair.
    static const PsqlSearch search = {
        "FOR /F \"tokens=3*\" %a in ('\"\"{SYSTEM}\\reg.exe\" Query "
        "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-{N}\\ /v \"Base "
        "Directory\"\"') DO @echo %b",
        "\\",
        "\\bin\\psql.exe",
        "Unable to retrieve psql executable path from "
        "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-{N}\\",
        "WARNING: Could not navigate psql executable file. Please enter your psql executable "
        "file:\n[example: C:\\Program Files\\PostgreSQL\\12\\bin\\psql.exe]",
        true,
        "\"\"{SYSTEM}\\reg.exe\" Query HKLM\\SOFTWARE\\PostgreSQL\\Installations\"",
    };
    return search;
}

const PsqlSearch& posixPsqlSearch() {
    // Debian and Ubuntu, the PGDG RPMs, Homebrew on Apple silicon and on Intel, and
    // Postgres.app, in that order.
    static const PsqlSearch search = {
        "for d in /usr/lib/postgresql/{N} /usr/pgsql-{N} /opt/homebrew/opt/postgresql@{N} "
        "/usr/local/opt/postgresql@{N} /Applications/Postgres.app/Contents/Versions/{N}; do "
        "if [ -x \"$d/bin/psql\" ]; then echo \"$d\"; break; fi; done",
        "/",
        "/bin/psql",
        "Unable to retrieve psql executable path from the PostgreSQL {N} installation "
        "directories",
        "WARNING: Could not navigate psql executable file. Please enter your psql executable "
        "file:\n[example: /usr/lib/postgresql/16/bin/psql]",
        false,
        "for d in /usr/lib/postgresql/* /usr/pgsql-* /opt/homebrew/opt/postgresql@* "
        "/usr/local/opt/postgresql@* /Applications/Postgres.app/Contents/Versions/*; do "
        "echo \"$d\"; done",
    };
    return search;
}

const PsqlSearch& platformPsqlSearch() {
    return commandInterpreter() == CommandInterpreter::WindowsCmd ? windowsPsqlSearch()
                                                                  : posixPsqlSearch();
}

std::string forVersion(const std::string& text, int version) {
    return replaced(text, "{N}", std::to_string(version));
}

int locatePsql(std::string& psqlPath, const PsqlSearch& search) {
    const std::string onSearchPath = programOnSearchPath("psql");
    if (!onSearchPath.empty()) {
        // psql runs by the file found, the one the shell (or cmd.exe) would run for the
        // name, never by a name looked up once more: cmd.exe would look in the current
        // folder first.
        psqlPath = onSearchPath;
        return 0;
    }

    const std::string installationProbe = withSystemFolder(search.installationProbe);
    const auto found = [&](int version) {
        const std::string baseDirectory = runCommand(forVersion(installationProbe, version));
        if (baseDirectory.find(search.installationHit) == std::string::npos)
            return false;
        if (!search.checksFiles) {
            // The line feed that ends the output stays here; it is removed with every
            // other line feed once the role command is finished.
            psqlPath = baseDirectory + search.binarySuffix;
            return true;
        }
        // A registry entry may outlive its installation, and a base directory holding
        // % would not name the file cmd.exe runs: then the next version is tried.
        const std::string file =
            withoutLineEnds(systemOutputText(baseDirectory)) + search.binarySuffix;
        if (!isProgramFile(file))
            return false;
        psqlPath = file;
        return true;
    };
    for (int version = 16; version >= 12; --version) {
        if (found(version))
            return 0;
        std::cout << forVersion(search.missMessage, version) << std::endl;
    }
    // Releases newer than 16, as the installations there are name them.
    if (search.installationListing.empty())
        return 1;
    for (int version : newerVersions(runCommand(withSystemFolder(search.installationListing))))
        if (found(version))
            return 0;
    return 1;
}
