#pragma once

#include <string>
#include <utility>
#include <vector>

// Builds the command line that runs one role's catalog query through psql, quoted
// for the platform's command interpreter. psql receives exactly these arguments:
// the psql path, -X, -w, -c and the query. Nothing the user typed but the psql path
// stands in it: the connection comes from the environment (connectionVariables).
std::string buildRoleQueryCommand(const std::string& psqlPath, const std::string& roleName);

// The same command for a given interpreter, whichever platform this is.
std::string posixRoleQueryCommand(const std::string& psqlPath, const std::string& roleName);
std::string windowsRoleQueryCommand(const std::string& psqlPath, const std::string& roleName);

// The query: one row of marker words for the role named, none when it does not exist.
// The name is UTF-8 and travels as the lower-case hex of its bytes, which the server
// decodes as UTF-8 whatever the session's client encoding, so no byte of it is ever
// read as SQL and it means the same characters on every console. Every name in the
// query is schema-qualified, so the session's search_path cannot change its meaning.
std::string roleQuerySql(const std::string& roleName);

// The libpq variables psql connects with: host (a bracketed IPv6 address without its
// brackets), port, user, password, the postgres database and a connection timeout.
using Variables = std::vector<std::pair<std::string, std::string>>;
Variables connectionVariables(const std::string& pguser, const std::string& hostname,
                              const std::string& port, const std::string& password);

// Variables that would send psql elsewhere than connectionVariables say: a service
// whose host beats PGHOST, and an address that beats the host name.
const std::vector<std::string>& redirectingVariables();

// Removes every line feed from `command`, in place.
void stripNewlines(std::string& command);
