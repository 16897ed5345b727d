#include "discovery/psql_locator.h"

#include "system/command.h"

#include <iostream>

const PsqlSearch& windowsPsqlSearch() {
    static const PsqlSearch search = {
        "where psql",
        "FOR /F \"tokens=3*\" %a in ('Reg Query "
        "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-{N}\\ /v \"Base "
        "Directory\"') DO @echo %b",
        "PostgreSQL",
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
        "command -v psql",
        "for d in /usr/lib/postgresql/{N} /usr/pgsql-{N} /opt/homebrew/opt/postgresql@{N} "
        "/usr/local/opt/postgresql@{N} /Applications/Postgres.app/Contents/Versions/{N}; do "
        "if [ -x \"$d/bin/psql\" ]; then echo \"$d\"; break; fi; done",
        "/",
        "/bin/psql",
        "Unable to retrieve psql executable path from the PostgreSQL {N} installation "
        "directories",
        "WARNING: Could not navigate psql executable file. Please enter your psql executable "
        "file:\n[example: /usr/lib/postgresql/16/bin/psql]",
    };
    return search;
}

const PsqlSearch& platformPsqlSearch() {
    return commandInterpreter() == CommandInterpreter::WindowsCmd ? windowsPsqlSearch()
                                                                  : posixPsqlSearch();
}

std::string forVersion(const std::string& text, int version) {
    const std::string placeholder = "{N}";
    const std::string number = std::to_string(version);
    std::string result;
    size_t from = 0;
    for (size_t at; (at = text.find(placeholder, from)) != std::string::npos;
         from = at + placeholder.size())
        result += text.substr(from, at - from) + number;
    return result + text.substr(from);
}

int locatePsql(std::string& psqlPath, const PsqlSearch& search) {
    // Only whether psql is there matters: the bare name is resolved again when each
    // role command runs.
    if (runCommand(search.pathProbe).find("psql") != std::string::npos)
        return 0;

    for (int version = 16; version >= 12; --version) {
        const std::string baseDirectory = runCommand(forVersion(search.installationProbe, version));
        if (baseDirectory.find(search.installationHit) != std::string::npos) {
            // The line feed that ends the output stays here; it is removed with every
            // other line feed once the role command is finished.
            psqlPath = baseDirectory + search.binarySuffix;
            return 0;
        }
        std::cout << forVersion(search.missMessage, version) << std::endl;
    }
    return 1;
}
