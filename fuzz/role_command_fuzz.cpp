// The role command for any psql path, role, user, host and port: /bin/sh must hand
// psql exactly the intended arguments, the role literal must decode back to the role
// under PostgreSQL's escape-string rules, and the URI values must percent-decode back.
// The bytes are split at 0x01 into the five values; zero bytes and line feeds, which
// cannot stand in an argument or survive the finished command, are dropped.
#include "compliance/role_query.h"
#include "support/decode.h"
#include "system/command.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> values(5);
    size_t field = 0;
    for (size_t i = 0; i < size && field < values.size(); ++i) {
        if (data[i] == 0x01)
            ++field;
        else if (data[i] != 0 && data[i] != '\n')
            values[field].push_back(static_cast<char>(data[i]));
    }
    const std::string &path = values[0], &role = values[1], &user = values[2], &host = values[3],
                      &port = values[4];

    // printf stands before the command, so the shell prints every word it would have
    // handed psql, the path included, one per line.
    std::string command = "printf '%s\\n' " + posixRoleQueryCommand(path, role, user, host, port);
    stripNewlines(command);
    std::vector<std::string> words;
    std::istringstream lines(runCommand(command));
    for (std::string line; std::getline(lines, line);)
        words.push_back(line);

    std::vector<std::string> intended = {path};
    for (const std::string& arg : intendedPsqlArgs(role, user, host, port))
        intended.push_back(arg);
    check(words == intended);

    check(decodeEscapeStringLiteral(roleLiteralInQuery(roleQuerySql(role))) == role);
    check(percentDecode(percentEncode(user)) == user);
    check(percentDecode(percentEncode(port)) == port);
    check(percentDecode(uriHost(host)) == host);
    check(connectionUri(user, host, port) == "postgresql://" + percentEncode(user) + "@" +
                                                 uriHost(host) + ":" + percentEncode(port) +
                                                 "/postgres?connect_timeout=10");
    return 0;
}
