#include "compliance/role_query.h"

#include "system/command.h"

#include <algorithm>
#include <cstdlib>

namespace {

// One row for the role named, found or not: the name stands in a one-row VALUES list,
// beside the main user's (the role whose ADMIN OPTION on this one is asked), and the
// catalog is joined to it. A missing role gives no attribute markers, but ROLEMISSING
// and, for each role whose name differs from it only in case, OTHERCASE and the hex of
// that name's UTF-8 bytes.
const char kQueryBeforeRole[] =
    "select case when r.oid is null then null when r.rolsuper then 'SUPERUSERTRUE' else "
    "'SUPERUSERFALSE' end as rolsuper, case when r.oid is null then null when r.rolcreatedb "
    "then 'CREATEDBTRUE' else 'CREATEDBFALSE' end as rolcreatedb, case when r.oid is null "
    "then null when r.rolcreaterole then 'CREATEROLETRUE' else 'CREATEROLEFALSE' end as "
    "rolcreaterole, case when r.oid is null then null when r.rolcanlogin then 'LOGINTRUE' else "
    "'LOGINFALSE' end as rolcanlogin, case when r.oid is null then null when r.rolvaliduntil "
    "OPERATOR(pg_catalog.<) pg_catalog.now() then 'PASSWORDEXPIREDTRUE' else "
    "'PASSWORDEXPIREDFALSE' end as rolvaliduntil, case when r.oid is null then null when "
    "r.rolconnlimit OPERATOR(pg_catalog.=) 0 then 'CONNLIMITZEROTRUE' else "
    "'CONNLIMITZEROFALSE' end as rolconnlimit, case when r.oid is null then null when "
    "pg_catalog.current_setting('server_version_num')::pg_catalog.int4 "
    "OPERATOR(pg_catalog.>=) 160000 then 'ADMINRULETRUE' else 'ADMINRULEFALSE' end as "
    "adminrule, case when r.oid is null then null when pg_catalog.pg_has_role(m.oid, r.oid, "
    "'USAGE WITH ADMIN OPTION') then 'HOLDSADMINTRUE' else 'HOLDSADMINFALSE' end as mainadmin, "
    "case when r.oid is null then pg_catalog.concat('ROLEMISSING', (select "
    "pg_catalog.string_agg(pg_catalog.concat('OTHERCASE', "
    "pg_catalog.encode(pg_catalog.convert_to(o.rolname::pg_catalog.text, 'UTF8'), 'hex')), "
    "' ' order by o.rolname) from pg_catalog.pg_roles o where "
    "pg_catalog.lower(o.rolname::pg_catalog.text) OPERATOR(pg_catalog.=) "
    "pg_catalog.lower(v.n::pg_catalog.text))) end as missing from (values "
    "(pg_catalog.convert_from(pg_catalog.decode('";
const char kQueryBetweenRoles[] = "', 'hex'), 'UTF8')::pg_catalog.name, "
                                  "pg_catalog.convert_from(pg_catalog.decode('";
const char kQueryAfterRoles[] =
    "', 'hex'), 'UTF8')::pg_catalog.name)) as v(n, a) left join pg_catalog.pg_roles r on "
    "r.rolname OPERATOR(pg_catalog.=) v.n left join pg_catalog.pg_roles m on m.rolname "
    "OPERATOR(pg_catalog.=) v.a;";

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

std::string roleQuerySql(const std::string& roleName, const std::string& adminRoleName) {
    return kQueryBeforeRole + lowerHex(roleName) + kQueryBetweenRoles + lowerHex(adminRoleName) +
           kQueryAfterRoles;
}

std::string nameAsRead(const std::string& name) {
    if (name.size() <= kLongestName)
        return name;
    size_t length = kLongestName;
    // A byte 10xxxxxx continues the character before it: that one is dropped whole.
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
        --length;
    return name.substr(0, length);
}

std::string posixRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& adminRoleName) {
    // The shell gives way to psql, so that psql is the process that runs and is stopped.
    // A relative path beginning with - would be read by exec as an option.
    const std::string program = psqlPath.compare(0, 1, "-") == 0 ? "./" + psqlPath : psqlPath;
    return "exec " + shellQuote(program) + " -X -w -c " +
           shellQuote(roleQuerySql(roleName, adminRoleName));
}

std::string windowsRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                    const std::string& adminRoleName) {
    // cmd.exe strips the outermost pair of quotation marks; inside them the path and
    // the query (plain ASCII without % or ") each stand in their own pair. A line feed
    // (the end of a registry value) would end cmd.exe's command line: none is kept.
    std::string command =
        "\"\"" + psqlPath + "\" -X -w -c \"" + roleQuerySql(roleName, adminRoleName) + "\"\"";
    command.erase(std::remove(command.begin(), command.end(), '\n'), command.end());
    return command;
}

std::string buildRoleQueryCommand(const std::string& psqlPath, const std::string& roleName,
                                  const std::string& adminRoleName) {
    if (commandInterpreter() == CommandInterpreter::WindowsCmd)
        return windowsRoleQueryCommand(psqlPath, roleName, adminRoleName);
    return posixRoleQueryCommand(psqlPath, roleName, adminRoleName);
}

Variables connectionVariables(const std::string& pguser, const std::string& hostname,
                              const std::string& port, const std::string& password) {
    const std::string host =
        isBracketedIpv6(hostname) ? hostname.substr(1, hostname.size() - 2) : hostname;
    // pg_roles is the same in every database of a server: the user's choice of one
    // (a pooler's entry, a renamed or closed postgres database) is kept.
    const char* chosen = std::getenv("PGDATABASE");
    const std::string database = chosen != nullptr && *chosen != '\0' ? chosen : "postgres";
    return {
        {"PGHOST", host},
        {"PGPORT", port},
        {"PGUSER", pguser},
        {"PGPASSWORD", password},
        {"PGDATABASE", database},
        // A server that accepts the connection but never answers (or a firewall that
        // drops it) would otherwise hold psql, and the whole check, for minutes.
        {"PGCONNECT_TIMEOUT", "10"},
    };
}

const std::vector<std::string>& redirectingVariables() {
    static const std::vector<std::string> names = {"PGSERVICE", "PGHOSTADDR"};
    return names;
}
