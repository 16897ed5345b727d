#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Builds the command line that runs one role's catalog query through psql, quoted
// for the platform's command interpreter, to be run as it is. psql receives exactly
// these arguments: the psql path, -X, -w, -c and the query. Nothing the user typed but the psql
// path stands in it: the connection comes from the environment (connectionVariables).
// `adminRoleName` is the role whose ADMIN OPTION on `roleName` the query asks about
// (the main user, for the internal user's check).
std::string buildRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& adminRoleName = "",
                                  const std::string& encoding = "UTF8");

// The same command for a given interpreter, whichever platform this is.
std::string posixRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& adminRoleName = "",
                                  const std::string& encoding = "UTF8");
std::string windowsRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                    const std::string& adminRoleName = "",
                                    const std::string& encoding = "UTF8");

// The query: one row of marker words for the role named. When no role has the name,
// the row holds ROLEMISSING instead, and OTHERCASE followed by the hex of each name
// that differs from it only in case. Besides the role's attributes it tells whether
// the server is 16 or later (ADMINRULE...) and whether `adminRoleName` holds ADMIN
// OPTION on the role (HOLDSADMIN...), the server's version (SERVERVERSION and its hex),
// and the name as the server read it (NAMEREAD and the hex of its UTF-8) and whether it
// cut it to 63 bytes (NAMECUT...).
// The names travel as the lower-case hex of their bytes, with PostgreSQL's name of
// their character set (`encoding`), and the server converts them into the database's
// with its own tables, so no byte of them is ever read as SQL and they mean what psql
// would take them for. Every name in the query is schema-qualified, so the session's
// search_path cannot change its meaning.
std::string roleQuerySql(const std::string& roleName, const std::string& adminRoleName = "",
                         const std::string& encoding = "UTF8");

// PostgreSQL's names hold at most this many bytes; a longer one is cut there, back to
// the last whole character, and the role looked for is the one so named. The server
// says what it read; nameAsRead is the same cut of a UTF-8 name, for a check that got
// no answer.
inline constexpr size_t kLongestName = 63;
std::string nameAsRead(const std::string& name);

// The connection timeout psql runs with: the caller's PGCONNECT_TIMEOUT (`callerValue`,
// null when unset) when it is a decimal whole number from 1 to the largest int, which
// libpq reads as it is; otherwise 10 (0 would be no limit at all).
int connectTimeoutSeconds(const char* callerValue);

// Seconds one role's query may take before psql is stopped: time for the connection
// (twice its timeout) and for the query, at least 20 s; at most a week, whose
// milliseconds still fit the int that waits count them in.
inline constexpr int kLongestCommandDeadlineSeconds = 7 * 24 * 60 * 60;
int commandDeadlineSeconds(int connectTimeout);
// The same for the timeout psql gets from this process's environment.
int commandDeadlineSeconds();

// The libpq variables psql connects with: host (a bracketed IPv6 address without its
// brackets), port, user, password, the database (postgres), a connection timeout (10)
// and the session's name (rolegate). A variable the caller set is left out, and so
// keeps the caller's value, where it is theirs to choose: PGDATABASE and PGAPPNAME when
// not empty, PGPASSWORD when not empty and no password was typed, PGCONNECT_TIMEOUT
// when connectTimeoutSeconds keeps it. `callerValue` reads the caller's environment
// (std::getenv when null).
using Variables = std::vector<std::pair<std::string, std::string>>;
using EnvironmentLookup = const char* (*)(const char* name);
Variables connectionVariables(const std::string& pguser, const std::string& hostname,
                              const std::string& port, const std::string& password,
                              EnvironmentLookup callerValue = nullptr);

// Variables that would send psql elsewhere than connectionVariables say: a service
// whose host beats PGHOST, and an address that beats the host name.
const std::vector<std::string>& redirectingVariables();
