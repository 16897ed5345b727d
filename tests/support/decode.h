#pragma once

#include <string>
#include <vector>

// What the argv_dump helper printed: its arguments and PGPASSWORD.
struct DumpedCall {
    std::vector<std::string> args;
    bool hasPassword = false;
    std::string password;
};
DumpedCall parseArgvDump(const std::string& output);

// The text a PostgreSQL E'...' literal stands for (backslash escapes \\ \xHH and ''),
// or "<not a literal>" when `literal` is not one.
std::string decodeEscapeStringLiteral(const std::string& literal);

// Undoes %XX escapes.
std::string percentDecode(const std::string& text);

// The role literal at the end of the role query, "where rolname = <literal>;".
std::string roleLiteralInQuery(const std::string& sql);

// The arguments psql must receive, after its own name, to check `role`.
std::vector<std::string> intendedPsqlArgs(const std::string& role, const std::string& user,
                                          const std::string& host, const std::string& port);
