#pragma once

#include <map>
#include <string>
#include <vector>

// What the argv_dump helper printed: its arguments and the libpq variables it saw
// (a variable that was unset is absent from the map).
struct DumpedCall {
    std::vector<std::string> args;
    std::map<std::string, std::string> environment;
};
DumpedCall parseArgvDump(const std::string& output);

// The role name that the role query looks for: the bytes behind its hex, or
// "<no role>" when the query holds none.
std::string roleInQuery(const std::string& sql);

// The arguments psql must receive, after its own name, to check `role`, with
// `adminRole` the main user whose ADMIN OPTION on it is asked.
std::vector<std::string> intendedPsqlArgs(const std::string& role,
                                          const std::string& adminRole = "");
