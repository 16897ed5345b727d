#include "compliance/role_query.h"

#include "system/command.h"

#include <algorithm>

namespace {

const char kQueryBeforeRole[] =
    "select case when rolsuper then 'SUPERUSERTRUE' else 'SUPERUSERFALSE' end as rolsuper, "
    "case when rolcreatedb then 'CREATEDBTRUE' else 'CREATEDBFALSE' end as rolcreatedb, "
    "case when rolcreaterole then 'CREATEROLETRUE' else 'CREATEROLEFALSE' end as "
    "rolcreaterole, case when rolcanlogin then 'LOGINTRUE' else 'LOGINFALSE' end as "
    "rolcanlogin, case when rolvaliduntil OPERATOR(pg_catalog.<) pg_catalog.now() then "
    "'PASSWORDEXPIREDTRUE' else 'PASSWORDEXPIREDFALSE' end as rolvaliduntil, case when "
    "rolconnlimit OPERATOR(pg_catalog.=) 0 then 'CONNLIMITZEROTRUE' else 'CONNLIMITZEROFALSE' "
    "end as rolconnlimit from pg_catalog.pg_roles where rolname OPERATOR(pg_catalog.=) "
    "pg_catalog.convert_from(pg_catalog.decode('";
const char kQueryAfterRole[] = "', 'hex'), 'UTF8')::pg_catalog.name;";

std::string lowerHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        hex.push_back(kDigits[c >> 4]);
        hex.push_back(kDigits[c & 0x0F]);
    }
    return hex;
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

std::string roleQuerySql(const std::string& roleName) {
    return kQueryBeforeRole + lowerHex(roleName) + kQueryAfterRole;
}

std::string posixRoleQueryCommand(const std::string& psqlPath, const std::string& roleName) {
    // The shell gives way to psql, so that psql is the process that runs and is stopped.
    return "exec " + shellQuote(psqlPath) + " -X -w -c " + shellQuote(roleQuerySql(roleName));
}

std::string windowsRoleQueryCommand(const std::string& psqlPath, const std::string& roleName) {
    // cmd.exe strips the outermost pair of quotation marks; inside them the path and
    // the query (plain ASCII without % or ") each stand in their own pair.
    return "\"\"" + psqlPath + "\" -X -w -c \"" + roleQuerySql(roleName) + "\"\"";
}

std::string buildRoleQueryCommand(const std::string& psqlPath, const std::string& roleName) {
    if (commandInterpreter() == CommandInterpreter::WindowsCmd)
        return windowsRoleQueryCommand(psqlPath, roleName);
    return posixRoleQueryCommand(psqlPath, roleName);
}

Variables connectionVariables(const std::string& pguser, const std::string& hostname,
                              const std::string& port, const std::string& password) {
    const std::string host =
        isBracketedIpv6(hostname) ? hostname.substr(1, hostname.size() - 2) : hostname;
    return {
        {"PGHOST", host},
        {"PGPORT", port},
        {"PGUSER", pguser},
        {"PGPASSWORD", password},
        {"PGDATABASE", "postgres"},
        // A server that accepts the connection but never answers (or a firewall that
        // drops it) would otherwise hold psql, and the whole check, for minutes.
        {"PGCONNECT_TIMEOUT", "10"},
    };
}

const std::vector<std::string>& redirectingVariables() {
    static const std::vector<std::string> names = {"PGSERVICE", "PGHOSTADDR"};
    return names;
}

void stripNewlines(std::string& command) {
    command.erase(std::remove(command.begin(), command.end(), '\n'), command.end());
}
