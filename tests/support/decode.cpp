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
        if (line.rfind("arg ", 0) == 0 || line == "arg") {
            call.args.push_back(fromHex(line.size() > 4 ? line.substr(4) : ""));
        } else if (line.rfind("env", 0) == 0) {
            call.hasPassword = true;
            call.password = fromHex(line.size() > 4 ? line.substr(4) : "");
        }
    }
    return call;
}

std::string decodeEscapeStringLiteral(const std::string& literal) {
    const std::string bad = "<not a literal>";
    if (literal.size() < 3 || literal.compare(0, 2, "E'") != 0 || literal.back() != '\'')
        return bad;
    std::string text;
    const std::string body = literal.substr(2, literal.size() - 3);
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\'') {
            if (i + 1 >= body.size() || body[i + 1] != '\'')
                return bad; // a lone apostrophe would end the literal early
            text.push_back('\'');
            ++i;
        } else if (body[i] == '\\') {
            if (i + 1 < body.size() && body[i + 1] == '\\') {
                text.push_back('\\');
                ++i;
            } else if (i + 3 < body.size() && body[i + 1] == 'x' && hexValue(body[i + 2]) >= 0 &&
                       hexValue(body[i + 3]) >= 0) {
                text.push_back(
                    static_cast<char>(hexValue(body[i + 2]) * 16 + hexValue(body[i + 3])));
                i += 3;
            } else {
                return bad;
            }
        } else {
            text.push_back(body[i]);
        }
    }
    return text;
}

std::string percentDecode(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

std::string roleLiteralInQuery(const std::string& sql) {
    const std::string before = "where rolname = ";
    const size_t at = sql.find(before); // the role itself may hold these words
    if (at == std::string::npos || sql.empty() || sql.back() != ';')
        return "";
    return sql.substr(at + before.size(), sql.size() - at - before.size() - 1);
}

std::vector<std::string> intendedPsqlArgs(const std::string& role, const std::string& user,
                                          const std::string& host, const std::string& port) {
    return {"-X", "-w", "-c", roleQuerySql(role), connectionUri(user, host, port)};
}
