#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Builds the command line that runs one role's catalog query through psql, quoted
// for the platform's command interpreter, to be run as it is. psql receives exactly these arguments:
// the psql path, -X, -w, -c and the query. Nothing the user typed but the psql path
// stands in it: the connection comes from the environment (connectionVariables).
// `adminRoleName` is the role whose ADMIN OPTION on `roleName` the query asks about
// (the main user, for the internal user's check).
std::string buildRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& adminRoleName = "");

// The same command for a given interpreter, whichever platform this is.
std::string posixRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& adminRoleName = "");
std::string windowsRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                    const std::string& adminRoleName = "");

// The query: one row of marker words for the role named. When no role has the name,
// the row holds ROLEMISSING instead, and OTHERCASE followed by the hex of each name
// that differs from it only in case. Besides the role's attributes it tells whether
// the server is 16 or later (ADMINRULE...) and whether `adminRoleName` holds ADMIN
// OPTION on the role (HOLDSADMIN...).
// The names are UTF-8 and travel as the lower-case hex of their bytes, which the server
// decodes as UTF-8 whatever the session's client encoding, so no byte of them is ever
// read as SQL and they mean the same characters on every console. Every name in the
// query is schema-qualified, so the session's search_path cannot change its meaning.
std::string roleQuerySql(const std::string& roleName, const std::string& adminRoleName = "");

// PostgreSQL's names hold at most this many bytes; a longer one is cut there, back to
// the last whole UTF-8 character, and the role looked for is the one so named.
inline constexpr size_t kLongestName = 63;
std::string nameAsRead(const std::string& name);

// Seconds one role's query may take before psql is stopped: the connection bound that
// connectionVariables gives libpq (PGCONNECT_TIMEOUT, 10 s) and time for the query.
inline constexpr int kCommandDeadlineSeconds = 20;

// The libpq variables psql connects with: host (a bracketed IPv6 address without its
// brackets), port, user, password, the database (PGDATABASE when set and not empty,
// otherwise postgres) and a connection timeout.
using Variables = std::vector<std::pair<std::string, std::string>>;
Variables connectionVariables(const std::string& pguser, const std::string& hostname,
                              const std::string& port, const std::string& password);

// Variables that would send psql elsewhere than connectionVariables say: a service
// whose host beats PGHOST, and an address that beats the host name.
const std::vector<std::string>& redirectingVariables();
