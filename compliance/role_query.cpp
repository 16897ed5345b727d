#include "compliance/role_query.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>

namespace {

// One row for the role, found or not: the catalog is joined to a VALUES row of its name
// and the main user's (whose ADMIN OPTION on it is asked). A missing role gives no
// attribute markers but ROLEMISSING, and OTHERCASE with the hex of each name that differs
// from it only in case. Every row tells the server's version, the name as read (hex of
// UTF-8) and whether the server cut it to 63 bytes.
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
    "pg_catalog.concat('SERVERVERSION', pg_catalog.encode(pg_catalog.convert_to("
    "pg_catalog.current_setting('server_version'), 'UTF8'), 'hex')) as server, "
    "pg_catalog.concat('VERSIONNUM', pg_catalog.current_setting('server_version_num')) as "
    "versionnum, pg_catalog.concat('SERVERADDR', pg_catalog.encode(pg_catalog.convert_to("
    "pg_catalog.host(pg_catalog.inet_server_addr()), 'UTF8'), 'hex')) as address, "
    "pg_catalog.concat('SERVERPORT', pg_catalog.inet_server_port()) as port, "
    "pg_catalog.concat('NAMEREAD', pg_catalog.encode(pg_catalog.convert_to(v.n::pg_catalog.text, "
    "'UTF8'), 'hex')) as nameread, case when pg_catalog.octet_length(v.t) "
    "OPERATOR(pg_catalog.>) 63 then 'NAMECUTTRUE' else 'NAMECUTFALSE' end as namecut, "
    "case when r.oid is null then pg_catalog.concat('ROLEMISSING', (select "
    "pg_catalog.string_agg(pg_catalog.concat('OTHERCASE', "
    "pg_catalog.encode(pg_catalog.convert_to(o.rolname::pg_catalog.text, 'UTF8'), 'hex')), "
    "' ' order by o.rolname) from pg_catalog.pg_roles o where "
    "pg_catalog.lower(o.rolname::pg_catalog.text) OPERATOR(pg_catalog.=) "
    "pg_catalog.lower(v.n::pg_catalog.text))) end as missing from (values (";
const char kQueryAfterNames[] =
    ")) as v(n, a, t) left join pg_catalog.pg_roles r on r.rolname OPERATOR(pg_catalog.=) v.n "
    "left join pg_catalog.pg_roles m on m.rolname OPERATOR(pg_catalog.=) v.a;";

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
        return hexDigitValue(static_cast<char>(std::tolower(static_cast<unsigned char>(c)))) >= 0 ||
               c == ':' || c == '.';
    });
}

// One argument for /bin/sh: in single quotes, with each quote written '\''.
std::string shellQuote(const std::string& argument) {
    std::string quoted = "'";
    for (char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Whole seconds from 1 to the largest int, digits only, as libpq reads them; else 0 (libpq
// also takes blanks around the digits, but refuses a number too large, failing every check).
int wholeSeconds(const char* value) {
    if (value == nullptr || *value == '\0')
        return 0;
    long long seconds = 0;
    for (const char* c = value; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return 0;
        seconds = seconds * 10 + (*c - '0');
        if (seconds > std::numeric_limits<int>::max())
            return 0;
    }
    return static_cast<int>(seconds);
}

} // namespace

std::string roleQuerySql(const std::string& roleName, const std::string& adminRoleName,
                         const std::string& encoding) {
    // The server converts the bytes from their character set into the database's.
    const auto text = [&](const std::string& name) {
        return "pg_catalog.convert_from(pg_catalog.decode('" + lowerHex(name) + "', 'hex'), '" +
               encoding + "')";
    };
    return kQueryBeforeRole + text(roleName) + "::pg_catalog.name, " + text(adminRoleName) +
           "::pg_catalog.name, " + text(roleName) + kQueryAfterNames;
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

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string shRoleCommand(const RoleQuery& query) {
    // The shell gives way to psql, so that psql is the process that runs and is stopped.
    // A relative path beginning with - would be read by exec as an option.
    const std::string& path = query.psqlPath;
    const std::string program = path.compare(0, 1, "-") == 0 ? "./" + path : path;
    return "exec " + shellQuote(program) + " -X -w -c " +
           shellQuote(roleQuerySql(query.role, query.adminRole, query.encoding));
}

std::string cmdRoleCommand(const RoleQuery& query) {
    // cmd.exe strips the outermost pair of quotes; inside, the path and the query (ASCII
    // without % or ") stand in their own. A line feed (ending a registry value) would end
    // the command line: none is kept.
    std::string command = "\"\"" + query.psqlPath + "\" -X -w -c \"" +
                          roleQuerySql(query.role, query.adminRole, query.encoding) + "\"\"";
    command.erase(std::remove(command.begin(), command.end(), '\n'), command.end());
    return command;
}

int connectTimeoutSeconds(const char* callerValue) {
    const int seconds = wholeSeconds(callerValue);
    return seconds != 0 ? seconds : 10;
}

int commandDeadlineSeconds(int connectTimeout) {
    const long long twice = 2LL * connectTimeout;
    return static_cast<int>(std::clamp<long long>(twice, 20, kLongestCommandDeadlineSeconds));
}

int commandDeadlineSeconds() {
    return commandDeadlineSeconds(connectTimeoutSeconds(std::getenv("PGCONNECT_TIMEOUT")));
}

Variables connectionVariables(const std::string& pguser, const std::string& hostname,
                              const std::string& port, const std::string& password,
                              EnvironmentLookup callerValue) {
    const auto caller = [callerValue](const char* name) {
        return callerValue != nullptr ? callerValue(name) : std::getenv(name);
    };
    const auto callerSet = [&caller](const char* name) {
        const char* value = caller(name);
        return value != nullptr && *value != '\0';
    };
    const std::string host =
        isBracketedIpv6(hostname) ? hostname.substr(1, hostname.size() - 2) : hostname;
    // Room for all at once: a vector that grows would leave copies of the password behind.
    Variables variables;
    variables.reserve(8);
    variables.emplace_back("PGHOST", host);
    variables.emplace_back("PGPORT", port);
    variables.emplace_back("PGUSER", pguser);
    // An installer or CI job hands its secret through PGPASSWORD and types nothing; an
    // empty one leaves libpq to its password file.
    if (!password.empty() || !callerSet("PGPASSWORD"))
        variables.emplace_back("PGPASSWORD", password);
    // pg_roles is the same in every database: the user's choice (a pooler's entry, a
    // renamed or closed postgres database) is kept.
    if (!callerSet("PGDATABASE"))
        variables.push_back({"PGDATABASE", "postgres"});
    // A server that takes the connection but never answers (or a firewall dropping it)
    // would hold psql for minutes; the caller's own timeout stands when libpq reads it.
    if (wholeSeconds(caller("PGCONNECT_TIMEOUT")) == 0)
        variables.push_back({"PGCONNECT_TIMEOUT", "10"});
    // The sessions show as rolegate's in pg_stat_activity and the server's log.
    if (!callerSet("PGAPPNAME"))
        variables.push_back({"PGAPPNAME", "rolegate"});
    return variables;
}

const std::vector<std::string>& redirectingVariables() {
    static const std::vector<std::string> names = {"PGSERVICE", "PGHOSTADDR"};
    return names;
}
