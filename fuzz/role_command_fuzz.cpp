// The role command for any psql path and role: /bin/sh must hand psql exactly the
// intended arguments, and the query must name the role exactly, whatever its bytes.
// The bytes are split at 0x01 into the path and the role; zero bytes, which cannot stand
// in an argument, and line feeds, which would split printf's lines below, are dropped.
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
    std::vector<std::string> values(2);
    size_t field = 0;
    for (size_t i = 0; i < size && field < values.size(); ++i) {
        if (data[i] == 0x01)
            ++field;
        else if (data[i] != 0 && data[i] != '\n')
            values[field].push_back(static_cast<char>(data[i]));
    }
    const std::string &path = values[0], &role = values[1];

    // printf stands before the command, so the shell prints every word of it, one per
    // line: exec, then what exec would have handed psql, the path included.
    const std::string command = "printf '%s\\n' " + shRoleCommand({path, role});
    std::vector<std::string> words;
    std::istringstream lines(runCommand(command));
    for (std::string line; std::getline(lines, line);)
        words.push_back(line);

    // A path beginning with - runs as ./-...: exec would take it for an option.
    std::vector<std::string> intended = {"exec", path.compare(0, 1, "-") == 0 ? "./" + path : path};
    for (const std::string& arg : intendedPsqlArgs(role))
        intended.push_back(arg);
    check(words == intended);

    // The query is plain ASCII that no command interpreter acts on, and names the role.
    const std::string sql = roleQuerySql(role);
    for (unsigned char c : sql)
        check(c >= 0x20 && c < 0x7F && c != '"' && c != '%' && c != '\\');
    check(roleInQuery(sql) == role);
    return 0;
}
