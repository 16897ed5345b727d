#include "compliance/role_query.h"

#include "support/decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

const std::string kHalvernQuery =
    "select case when r.oid is null then null when r.rolsuper then 'SUPERUSERTRUE' else "
    "'SUPERUSERFALSE' end as rolsuper, case when r.oid is null then null when r.rolcreatedb "
    "then 'CREATEDBTRUE' else 'CREATEDBFALSE' end as rolcreatedb, case when r.oid is null "
    "then null when r.rolcreaterole then 'CREATEROLETRUE' else 'CREATEROLEFALSE' end as "
    "rolcreaterole, case when r.oid is null then null when r.rolcanlogin then 'LOGINTRUE' "
    "else 'LOGINFALSE' end as rolcanlogin, case when r.oid is null then null when "
    "r.rolvaliduntil OPERATOR(pg_catalog.<) pg_catalog.now() then 'PASSWORDEXPIREDTRUE' "
    "else 'PASSWORDEXPIREDFALSE' end as rolvaliduntil, case when r.oid is null then null "
    "when r.rolconnlimit OPERATOR(pg_catalog.=) 0 then 'CONNLIMITZEROTRUE' else "
    "'CONNLIMITZEROFALSE' end as rolconnlimit, case when r.oid is null then null when "
    "pg_catalog.current_setting('server_version_num')::pg_catalog.int4 "
    "OPERATOR(pg_catalog.>=) 160000 then 'ADMINRULETRUE' else 'ADMINRULEFALSE' end as "
    "adminrule, case when r.oid is null then null when pg_catalog.pg_has_role(m.oid, r.oid, "
    "'USAGE WITH ADMIN OPTION') then 'HOLDSADMINTRUE' else 'HOLDSADMINFALSE' end as "
    "mainadmin, pg_catalog.concat('SERVERVERSION', "
    "pg_catalog.encode(pg_catalog.convert_to(pg_catalog.current_setting('server_version'), "
    "'UTF8'), 'hex')) as server, pg_catalog.concat('VERSIONNUM', "
    "pg_catalog.current_setting('server_version_num')) as versionnum, "
    "pg_catalog.concat('SERVERADDR', pg_catalog.encode(pg_catalog.convert_to("
    "pg_catalog.host(pg_catalog.inet_server_addr()), 'UTF8'), 'hex')) as address, "
    "pg_catalog.concat('SERVERPORT', pg_catalog.inet_server_port()) as port, "
    "pg_catalog.concat('NAMEREAD', "
    "pg_catalog.encode(pg_catalog.convert_to(v.n::pg_catalog.text, 'UTF8'), 'hex')) as "
    "nameread, case when pg_catalog.octet_length(v.t) OPERATOR(pg_catalog.>) 63 then "
    "'NAMECUTTRUE' else 'NAMECUTFALSE' end as namecut, case when r.oid is null then "
    "pg_catalog.concat('ROLEMISSING', (select "
    "pg_catalog.string_agg(pg_catalog.concat('OTHERCASE', "
    "pg_catalog.encode(pg_catalog.convert_to(o.rolname::pg_catalog.text, 'UTF8'), 'hex')), "
    "' ' order by o.rolname) from pg_catalog.pg_roles o where "
    "pg_catalog.lower(o.rolname::pg_catalog.text) OPERATOR(pg_catalog.=) "
    "pg_catalog.lower(v.n::pg_catalog.text))) end as missing from (values "
    "(pg_catalog.convert_from(pg_catalog.decode('68616c7665726e', 'hex'), "
    "'UTF8')::pg_catalog.name, pg_catalog.convert_from(pg_catalog.decode('', 'hex'), "
    "'UTF8')::pg_catalog.name, pg_catalog.convert_from(pg_catalog.decode('68616c7665726e', "
    "'hex'), 'UTF8'))) as v(n, a, t) left join pg_catalog.pg_roles r on r.rolname "
    "OPERATOR(pg_catalog.=) v.n left join pg_catalog.pg_roles m on m.rolname "
    "OPERATOR(pg_catalog.=) v.a;";

TEST(RoleQueryCommand, CommandsForAPlainRole) {
    std::string shellQuery = kHalvernQuery;
    for (size_t at = 0; (at = shellQuery.find('\'', at)) != std::string::npos; at += 4)
        shellQuery.replace(at, 1, "'\\''");
    EXPECT_EQ(shRoleCommand({"psql", "halvern"}), "exec 'psql' -X -w -c '" + shellQuery + "'");
    EXPECT_EQ(cmdRoleCommand({"psql", "halvern"}),
              "\"\"psql\" -X -w -c \"" + kHalvernQuery + "\"\"");
    // The internal user's check names the main user, halvern_main, as the second value,
    // the one whose ADMIN OPTION is asked.
    std::string adminQuery = kHalvernQuery;
    const std::string noAdmin = "pg_catalog.decode('', 'hex')";
    ASSERT_EQ(adminQuery.find(noAdmin), adminQuery.rfind(noAdmin));
    adminQuery.replace(adminQuery.find(noAdmin), noAdmin.size(),
                       "pg_catalog.decode('68616c7665726e5f6d61696e', 'hex')");
    std::string shellAdminQuery = adminQuery;
    for (size_t at = 0; (at = shellAdminQuery.find('\'', at)) != std::string::npos; at += 4)
        shellAdminQuery.replace(at, 1, "'\\''");
    EXPECT_EQ(shRoleCommand({"psql", "halvern", "halvern_main"}),
              "exec 'psql' -X -w -c '" + shellAdminQuery + "'");
    EXPECT_EQ(cmdRoleCommand({"psql", "halvern", "halvern_main"}),
              "\"\"psql\" -X -w -c \"" + adminQuery + "\"\"");
    // The registry path's line feed goes with the others once the command is finished;
    // on POSIX the path is kept byte for byte, and one beginning with - is not an option.
    const std::string command = cmdRoleCommand({"C:\\PG 14\n\\bin\\psql.exe", "r"});
    EXPECT_EQ(command.find('\n'), std::string::npos);
    EXPECT_EQ(command.rfind("\"\"C:\\PG 14\\bin\\psql.exe\" -X -w -c \"select", 0), 0u);
    EXPECT_EQ(shRoleCommand({"/a\nb/psql", "r"}).rfind("exec '/a\nb/psql' -X", 0), 0u);
    EXPECT_EQ(shRoleCommand({"-x/psql", "r"}).rfind("exec './-x/psql' -X", 0), 0u);
}

TEST(RoleQuery, NameTravelsAsHexAndNothingElseOfItsOwn) {
    // Whatever the name holds, the query is the same plain ASCII text around its hex.
    const std::string names[] = {"",
                                 "o'brien",
                                 "x' or rolsuper --",
                                 "back\\slash 100%",
                                 "\x95\x5C' or rolsuper --",
                                 "r\xC3\xB4le\xFF"};
    for (const std::string& name : names) {
        const std::string sql = roleQuerySql(name);
        EXPECT_EQ(roleInQuery(sql), name);
        for (unsigned char c : sql)
            EXPECT_TRUE(c >= 0x20 && c < 0x7F && c != '"' && c != '%' && c != '\\') << sql;
    }
    EXPECT_EQ(roleQuerySql("halvern"), kHalvernQuery);
}

// The caller's environment as a test sets it, read through a plain function as
// std::getenv would be.
std::map<std::string, std::string> gCaller;
const char* callerValue(const char* name) {
    const auto found = gCaller.find(name);
    return found == gCaller.end() ? nullptr : found->second.c_str();
}

TEST(ConnectionVariables, HostPortUserPasswordAndTheFixedOnes) {
    gCaller = {};
    const Variables expected = {{"PGHOST", "db.example"},   {"PGPORT", "5432"},
                                {"PGUSER", "app@corp"},     {"PGPASSWORD", "pw"},
                                {"PGDATABASE", "postgres"}, {"PGCONNECT_TIMEOUT", "10"},
                                {"PGAPPNAME", "rolegate"}};
    EXPECT_EQ(connectionVariables("app@corp", "db.example", "5432", "pw", callerValue), expected);
    // A bracketed IPv6 address loses its brackets; anything else stays as typed.
    EXPECT_EQ(connectionVariables("u", "[fe80::1:2]", "1", "")[0].second, "fe80::1:2");
    EXPECT_EQ(connectionVariables("u", "[::1]&x]", "1", "")[0].second, "[::1]&x]");
    EXPECT_EQ(connectionVariables("u", "/var/run/postgresql", "1", "")[0].second,
              "/var/run/postgresql");
}

// What the caller set and left not empty is left out, and so stays theirs: the
// password only when none was typed, the timeout only as a whole number libpq reads.
TEST(ConnectionVariables, CallersOwnChoicesAreKept) {
    const auto names = [](const Variables& variables) {
        std::string text;
        for (const auto& [name, value] : variables)
            text += name + "=" + value + " ";
        return text;
    };
    gCaller = {{"PGPASSWORD", "secret"},
               {"PGDATABASE", "template1"},
               {"PGCONNECT_TIMEOUT", "007"},
               {"PGAPPNAME", "installer"}};
    EXPECT_EQ(names(connectionVariables("u", "h", "1", "", callerValue)),
              "PGHOST=h PGPORT=1 PGUSER=u ");
    EXPECT_EQ(names(connectionVariables("u", "h", "1", "typed", callerValue)),
              "PGHOST=h PGPORT=1 PGUSER=u PGPASSWORD=typed ");
    gCaller = {
        {"PGPASSWORD", ""}, {"PGDATABASE", ""}, {"PGCONNECT_TIMEOUT", "5s"}, {"PGAPPNAME", ""}};
    EXPECT_EQ(names(connectionVariables("u", "h", "1", "", callerValue)),
              "PGHOST=h PGPORT=1 PGUSER=u PGPASSWORD= PGDATABASE=postgres PGCONNECT_TIMEOUT=10 "
              "PGAPPNAME=rolegate ");
    gCaller = {};
}

// The timeout psql connects with, and how long its check may then take.
TEST(ConnectionVariables, TimeoutAndDeadline) {
    const std::pair<const char*, int> timeouts[] = {
        {nullptr, 10},      {"", 10},
        {"0", 10},          {"00", 10},
        {"5s", 10},         {" 5", 10},
        {"5 ", 10},         {"+5", 10},
        {"-5", 10},         {"0x10", 10},
        {"1", 1},           {"2", 2},
        {"007", 7},         {"2147483647", 2147483647},
        {"2147483648", 10}, {"99999999999999999999999999", 10}};
    for (const auto& [value, seconds] : timeouts) {
        EXPECT_EQ(connectTimeoutSeconds(value), seconds) << (value ? value : "unset");
        gCaller = {};
        if (value != nullptr)
            gCaller["PGCONNECT_TIMEOUT"] = value;
        // Kept, the caller's value is left as it is; otherwise psql gets 10.
        const Variables variables = connectionVariables("u", "h", "1", "", callerValue);
        const bool replaced =
            std::count(variables.begin(), variables.end(),
                       std::pair<std::string, std::string>("PGCONNECT_TIMEOUT", "10")) == 1;
        EXPECT_EQ(replaced, seconds == 10) << (value ? value : "unset");
    }
    gCaller = {};
    const std::pair<int, int> deadlines[] = {
        {1, 20},    {2, 20},          {10, 20},         {11, 22},
        {300, 600}, {302400, 604800}, {302401, 604800}, {2147483647, 604800}};
    for (const auto& [timeout, deadline] : deadlines)
        EXPECT_EQ(commandDeadlineSeconds(timeout), deadline) << timeout;
}

} // namespace
