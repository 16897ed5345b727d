#pragma once

#include <string>

// Builds the command line that runs one role's catalog query through psql, quoted
// for the platform's command interpreter. psql receives exactly these arguments:
// the psql path, -X, -w, -c, the query, and the connection URI.
// The password is not part of it; psql takes it from PGPASSWORD.
std::string buildRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& pguser, const std::string& hostname,
                                  const std::string& port);

// The same command for a given interpreter, whichever platform this is.
std::string posixRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& pguser, const std::string& hostname,
                                  const std::string& port);
std::string windowsRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                    const std::string& pguser, const std::string& hostname,
                                    const std::string& port);

// The query: one row of marker words for the role named, none when it does not exist.
std::string roleQuerySql(const std::string& roleName);

// `value` as a PostgreSQL escape-string literal, E'...'. Backslash and apostrophe
// are doubled; double quote, percent sign and control bytes are written \xHH, so the
// literal holds nothing a command interpreter acts on.
std::string sqlEscapeStringLiteral(const std::string& value);

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ as %XX.
std::string percentEncode(const std::string& value);

// The host as it stands in a connection URI: a bracketed IPv6 literal as typed,
// anything else percent-encoded.
std::string uriHost(const std::string& hostname);

// postgresql://USER@HOST:PORT/postgres?connect_timeout=10 with each value encoded.
std::string connectionUri(const std::string& pguser, const std::string& hostname,
                          const std::string& port);

// Removes every line feed from `command`, in place.
void stripNewlines(std::string& command);
