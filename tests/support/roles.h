#pragma once

#include "support/process.h"

#include <string>
#include <vector>

// The roles the integration tests create, and whom they connect as: a user whose name
// and password are full of characters that mean something to a shell or a URI.
inline const std::string kConnectingUser = "app@corp";
inline const std::string kConnectingPassword = "p@ss:w/rd%&\"'^|<>$`\\ x";

// Roles whose names mean something to a shell, a URI or SQL, or that are no ASCII
// (the last is the Japanese character for "table"); each may create databases and
// roles and log in, but is no superuser.
inline const std::vector<std::string> kHostileRoleNames = {
    "o'brien", "say \"hi\"", "a&b|c", "100%", "back\\slash", "r\xC3\xB4le", "\xE8\xA1\xA8",
};

// The SQL that creates the connecting user and the roles above, with the matrix of
// privileges: rg_super, rg_warn (createdb createrole login), rg_dbonly, rg_login,
// rg_nologin and rg_rolesonly (createdb createrole nologin).
std::string clusterSetupSql();

// Runs the built rolegate (defined by each test program that runs it) with `args`, `input` on its
// standard input.
ProcessResult runRolegate(const std::vector<std::string>& args, const std::string& input,
                          const EnvironmentChanges& environment = {});

// Runs it as "$0" "$@" inside the /bin/sh command `around`, for redirections and pipes.
ProcessResult runRolegateInShell(const std::string& around, const std::vector<std::string>& args,
                                 const std::string& input);

// -h 127.0.0.1 -p PORT -u app@corp -m MAIN, and -i INTERNAL when one is given.
std::vector<std::string> checkArgs(const std::string& mainRole,
                                   const std::string& internalRole = "");
