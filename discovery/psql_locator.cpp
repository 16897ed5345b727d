#include "discovery/psql_locator.h"

#include "system/command.h"
#include "system/program.h"
#include "system/text.h"

#include <algorithm>
#include <functional>
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

// The major version that the digits `number` give when it is one above 16, else 0.
int newerVersion(const std::string& number) {
    if (number.empty() || number.size() > 3 || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int version = std::stoi(number);
    return version > 16 ? version : 0;
}

// The major versions above 16 that end lines of `listing`.
void addListedVersions(const std::string& listing, std::vector<int>& versions) {
    for (const std::string& entry : splitFields(listing, '\n')) {
        std::string line = withoutLineEnds(entry);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\\'))
            line.pop_back();
        size_t digits = line.size();
        while (digits > 0 && line[digits - 1] >= '0' && line[digits - 1] <= '9')
            --digits;
        if (const int version = newerVersion(line.substr(digits)))
            versions.push_back(version);
    }
}

// The major versions above 16 of the folders `folder` (with {N} in its last part) names.
void addFolderVersions(const std::string& folder, std::vector<int>& versions) {
    const size_t slash = folder.find_last_of("/\\");
    const size_t placeholder = folder.find("{N}");
    if (slash == std::string::npos || placeholder == std::string::npos || placeholder < slash)
        return;
    const std::string prefix = folder.substr(slash + 1, placeholder - slash - 1);
    const std::string suffix = folder.substr(placeholder + 3);
    std::vector<std::string> names;
    if (folderEntryNames(slash == 0 ? "/" : folder.substr(0, slash), names) != 0)
        return;
    for (const std::string& name : names) {
        if (name.size() <= prefix.size() + suffix.size() ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string number =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (const int version = newerVersion(number))
            versions.push_back(version);
    }
}

} // namespace

const PsqlSearch& windowsPsqlSearch() {
    // cmd /c, which runs each probe and the reg command inside FOR /F's parentheses, takes
    // off a command's first and last quote: each stands in one more pair.
    static const PsqlSearch search = {
        {},
        "FOR /F \"tokens=3*\" %a in ('\"\"{SYSTEM}\\reg.exe\" Query "
        "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-{N}\\ /v \"Base "
        "Directory\"\"') DO @echo %b",
        "\\",
        "\"\"{SYSTEM}\\reg.exe\" Query HKLM\\SOFTWARE\\PostgreSQL\\Installations\"",
        "\\bin\\psql.exe",
        "Unable to retrieve psql executable path from "
        "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-{N}\\",
        "WARNING: Could not navigate psql executable file. Please enter your psql executable "
        "file:\n[example: C:\\Program Files\\PostgreSQL\\12\\bin\\psql.exe]",
    };
    return search;
}

const PsqlSearch& posixPsqlSearch() {
    // Debian and Ubuntu, the PGDG RPMs, Homebrew on Apple silicon and on Intel, and
    // Postgres.app, in that order.
    static const PsqlSearch search = {
        {"/usr/lib/postgresql/{N}", "/usr/pgsql-{N}", "/opt/homebrew/opt/postgresql@{N}",
         "/usr/local/opt/postgresql@{N}", "/Applications/Postgres.app/Contents/Versions/{N}"},
        "",
        "",
        "",
        "/bin/psql",
        "Unable to retrieve psql executable path from the PostgreSQL {N} installation "
        "directories",
        "WARNING: Could not navigate psql executable file. Please enter your psql executable "
        "file:\n[example: /usr/lib/postgresql/16/bin/psql]",
    };
    return search;
}

std::string forVersion(const std::string& text, int version) {
    return replaced(text, "{N}", std::to_string(version));
}

int locatePsql(const PsqlSearch& search, std::string& psqlPath, std::vector<std::string>& misses) {
    const std::string onSearchPath = programOnSearchPath("psql");
    if (!onSearchPath.empty()) {
        // psql runs by the file found, never by its name: cmd.exe would look in the current
        // folder first.
        psqlPath = onSearchPath;
        return 0;
    }

    const auto found = [&](int version) {
        for (const std::string& folder : search.installationFolders) {
            const std::string file = forVersion(folder, version) + search.binarySuffix;
            if (isRunnableFile(file)) {
                psqlPath = file;
                return true;
            }
        }
        if (search.baseDirectoryProbe.empty())
            return false;
        const std::string baseDirectory =
            runCommand(forVersion(withSystemFolder(search.baseDirectoryProbe), version));
        if (baseDirectory.find(search.baseDirectoryHit) == std::string::npos)
            return false;
        // A registry entry may outlive its installation, and a base directory holding %
        // names no file cmd.exe runs: then the next version is tried.
        const std::string file =
            withoutLineEnds(systemOutputText(baseDirectory)) + search.binarySuffix;
        if (!isRunnableFile(file))
            return false;
        psqlPath = file;
        return true;
    };
    for (int version = 16; version >= 12; --version) {
        if (found(version))
            return 0;
        misses.push_back(forVersion(search.missMessage, version));
    }
    // Releases newer than 16, as the installations there are name them.
    std::vector<int> versions;
    for (const std::string& folder : search.installationFolders)
        addFolderVersions(folder, versions);
    if (!search.installationListing.empty())
        addListedVersions(runCommand(withSystemFolder(search.installationListing)), versions);
    std::sort(versions.begin(), versions.end(), std::greater<int>());
    versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
    for (int version : versions)
        if (found(version))
            return 0;
    return 1;
}
