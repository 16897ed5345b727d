#include "support/decode.h"

#include "compliance/role_query.h"

#include <sstream>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string fromHex(const std::string& hex) {
    std::string text;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        text.push_back(static_cast<char>(hexValue(hex[i]) * 16 + hexValue(hex[i + 1])));
    return text;
}

} // namespace

DumpedCall parseArgvDump(const std::string& output) {
    DumpedCall call;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string kind, first, second;
        words >> kind >> first >> second;
        if (kind == "arg")
            call.args.push_back(fromHex(first));
        else if (kind == "env")
            call.environment[first] = fromHex(second);
    }
    return call;
}

std::string roleInQuery(const std::string& sql) {
    const std::string before = "pg_catalog.decode('", after = "', 'hex')";
    const size_t from = sql.find(before);
    const size_t to = sql.find(after);
    if (from == std::string::npos || to == std::string::npos || to < from + before.size())
        return "<no role>";
    const std::string hex = sql.substr(from + before.size(), to - from - before.size());
    if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
        return "<no role>";
    return fromHex(hex);
}

std::vector<std::string> intendedPsqlArgs(const std::string& role, const std::string& adminRole) {
    return {"-X", "-w", "-c", roleQuerySql(role, adminRole)};
}
