#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// One role's check: psql's file, the role, the role whose ADMIN OPTION on it is asked
// (the main user's, for the internal user), and PostgreSQL's name for the names' encoding.
struct RoleQuery {
    std::string psqlPath;
    std::string role;
    std::string adminRole = "";
    std::string encoding = "UTF8";
};

// The command line that runs psql -X -w -c <query>, for /bin/sh and for cmd.exe.
std::string shRoleCommand(const RoleQuery& query);
std::string cmdRoleCommand(const RoleQuery& query);

// The query: one row of markers for the role, read by judgeRole. The names travel as the
// hex of their bytes, converted on the server, and every name in it is schema-qualified:
// nothing typed is read as SQL, and the session's search_path changes nothing.
std::string roleQuerySql(const std::string& roleName, const std::string& adminRoleName = "",
                         const std::string& encoding = "UTF8");

// The value of a lower-case hex digit, or -1.
int hexDigitValue(char c);

// PostgreSQL reads at most this many bytes of a name, cut back to a whole character, as
// nameAsRead cuts a UTF-8 name for a check that got no answer.
inline constexpr size_t kLongestName = 63;
std::string nameAsRead(const std::string& name);

// psql's connection timeout: the caller's PGCONNECT_TIMEOUT (`callerValue`, null when
// unset) when libpq reads it as whole seconds from 1 to the largest int, else 10.
int connectTimeoutSeconds(const char* callerValue);

// The seconds one role's query may take: twice the connection timeout, from 20 s to a
// week (whose milliseconds fit an int); the second form reads the environment.
inline constexpr int kLongestCommandDeadlineSeconds = 7 * 24 * 60 * 60;
int commandDeadlineSeconds(int connectTimeout);
int commandDeadlineSeconds();

// The libpq variables psql connects with; the caller's own (read by `callerValue`, else
// std::getenv) is kept for PGDATABASE and PGAPPNAME when set, PGPASSWORD when set and
// nothing was typed, PGCONNECT_TIMEOUT when libpq reads it.
using Variables = std::vector<std::pair<std::string, std::string>>;
using EnvironmentLookup = const char* (*)(const char* name);
Variables connectionVariables(const std::string& pguser, const std::string& hostname,
                              const std::string& port, const std::string& password,
                              EnvironmentLookup callerValue = nullptr);

// The variables that would send psql to another server than the one named.
const std::vector<std::string>& redirectingVariables();
