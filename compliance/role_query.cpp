#include "compliance/role_query.h"

#include "system/command.h"

#include <algorithm>

namespace {

const char kQueryBeforeRole[] =
    "select case when rolsuper=true then 'SUPERUSERTRUE' else 'SUPERUSERFALSE' end as "
    "rolsuper, case when rolcreatedb=true then 'CREATEDBTRUE' else 'CREATEDBFALSE' end as "
    "rolcreatedb, case when rolcreaterole=true then 'CREATEROLETRUE' else 'CREATEROLEFALSE' "
    "end as rolcreaterole, case when rolcanlogin=true then 'LOGINTRUE' else 'LOGINFALSE' end "
    "as rolcanlogin from pg_catalog.pg_roles where rolname = ";

// A server that accepts the connection but never answers (or a firewall that drops
// it) would otherwise hold psql, and the whole check, for minutes.
const std::string kConnectionParameters = "?connect_timeout=10";

const char kHexDigits[] = "0123456789ABCDEF";

void appendHex(std::string& out, unsigned char byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isBracketedIpv6(const std::string& host) {
    if (host.size() < 3 || host.front() != '[' || host.back() != ']')
        return false;
    return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
               c == ':' || c == '.';
    });
}

// One argument for /bin/sh: in single quotes, with each quote written '\''.
std::string shellQuote(const std::string& argument) {
    std::string quoted = "'";
    for (char c : argument) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted.push_back(c);
    }
    quoted.push_back('\'');
    return quoted;
}

} // namespace

std::string sqlEscapeStringLiteral(const std::string& value) {
    std::string literal = "E'";
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            literal += "\\\\";
        } else if (c == '\'') {
            literal += "''";
        } else if (c == '"' || c == '%' || c < 0x20 || c == 0x7F) {
            literal += "\\x";
            appendHex(literal, c);
        } else {
            literal.push_back(ch);
        }
    }
    literal.push_back('\'');
    return literal;
}

std::string percentEncode(const std::string& value) {
    std::string encoded;
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            encoded.push_back(ch);
        } else {
            encoded.push_back('%');
            appendHex(encoded, c);
        }
    }
    return encoded;
}

std::string uriHost(const std::string& hostname) {
    return isBracketedIpv6(hostname) ? hostname : percentEncode(hostname);
}

std::string connectionUri(const std::string& pguser, const std::string& hostname,
                          const std::string& port) {
    return "postgresql://" + percentEncode(pguser) + "@" + uriHost(hostname) + ":" +
           percentEncode(port) + "/postgres" + kConnectionParameters;
}

std::string roleQuerySql(const std::string& roleName) {
    return kQueryBeforeRole + sqlEscapeStringLiteral(roleName) + ";";
}

std::string posixRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& pguser, const std::string& hostname,
                                  const std::string& port) {
    return shellQuote(psqlPath) + " " + shellQuote("-X") + " " + shellQuote("-w") + " " +
           shellQuote("-c") + " " + shellQuote(roleQuerySql(roleName)) + " " +
           shellQuote(connectionUri(pguser, hostname, port));
}

std::string windowsRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                    const std::string& pguser, const std::string& hostname,
                                    const std::string& port) {
    // cmd.exe strips the outermost pair of quotation marks. Inside them the path and
    // the query each stand in their own pair, and the URI's literal parts are quoted
    // while its encoded values, which hold no character cmd.exe acts on, stand bare;
    // the C runtime joins the pieces back into one argument.
    return "\"\"" + psqlPath + "\" -X -w -c \"" + roleQuerySql(roleName) + "\" \"postgresql://\"" +
           percentEncode(pguser) + "\"@\"" + uriHost(hostname) + "\":\"" + percentEncode(port) +
           "\"/postgres" + kConnectionParameters + "\"\"";
}

std::string buildRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& pguser, const std::string& hostname,
                                  const std::string& port) {
    if (commandInterpreter() == CommandInterpreter::WindowsCmd)
        return windowsRoleQueryCommand(psqlPath, roleName, pguser, hostname, port);
    return posixRoleQueryCommand(psqlPath, roleName, pguser, hostname, port);
}

void stripNewlines(std::string& command) {
    command.erase(std::remove(command.begin(), command.end(), '\n'), command.end());
}
