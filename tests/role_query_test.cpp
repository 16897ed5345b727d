#include "compliance/role_query.h"

#include "support/decode.h"
#include "system/command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string kQueryPrefix =
    "select case when rolsuper=true then 'SUPERUSERTRUE' else 'SUPERUSERFALSE' end as "
    "rolsuper, case when rolcreatedb=true then 'CREATEDBTRUE' else 'CREATEDBFALSE' end as "
    "rolcreatedb, case when rolcreaterole=true then 'CREATEROLETRUE' else 'CREATEROLEFALSE' end "
    "as rolcreaterole, case when rolcanlogin=true then 'LOGINTRUE' else 'LOGINFALSE' end as "
    "rolcanlogin from pg_catalog.pg_roles where rolname = ";

TEST(RoleQueryCommand, PosixCommandForAPlainRole) {
    const std::string sqlQuoted =
        "'" +
        std::string("select case when rolsuper=true then '\\''SUPERUSERTRUE'\\'' else "
                    "'\\''SUPERUSERFALSE'\\'' end as rolsuper, case when rolcreatedb=true then "
                    "'\\''CREATEDBTRUE'\\'' else '\\''CREATEDBFALSE'\\'' end as rolcreatedb, case "
                    "when rolcreaterole=true then '\\''CREATEROLETRUE'\\'' else "
                    "'\\''CREATEROLEFALSE'\\'' end as rolcreaterole, case when rolcanlogin=true "
                    "then '\\''LOGINTRUE'\\'' else '\\''LOGINFALSE'\\'' end as rolcanlogin from "
                    "pg_catalog.pg_roles where rolname = E'\\''halvern'\\'';'");
    EXPECT_EQ(posixRoleQueryCommand("psql", "halvern", "postgres", "db.example", "5432"),
              "'psql' '-X' '-w' '-c' " + sqlQuoted +
                  " 'postgresql://postgres@db.example:5432/postgres'");
}

TEST(RoleQueryCommand, WindowsCommandForAPlainRole) {
    EXPECT_EQ(windowsRoleQueryCommand("psql", "halvern", "postgres", "db.example", "5432"),
              "\"\"psql\" -X -w -c \"" + kQueryPrefix +
                  "E'halvern';\" \"postgresql://\"postgres\"@\"db.example\":\"5432\"/postgres\"\"");
    // The registry path's line feed goes with the others once the command is finished.
    std::string command = windowsRoleQueryCommand("C:\\PG 14\n\\bin\\psql.exe", "r", "u", "h", "1");
    stripNewlines(command);
    EXPECT_EQ(command.rfind("\"\"C:\\PG 14\\bin\\psql.exe\" -X -w -c \"select", 0), 0u);
}

TEST(RoleQueryCommand, InternalCommandDiffersOnlyInTheRoleLiteral) {
    const std::string mainCommand = buildRoleQueryCommand("psql", "main_role", "u", "h", "1");
    std::string internalCommand = buildRoleQueryCommand("psql", "int_role", "u", "h", "1");
    const size_t at = internalCommand.find("int_role");
    ASSERT_NE(at, std::string::npos);
    internalCommand.replace(at, 8, "main_role");
    EXPECT_EQ(internalCommand, mainCommand);
}

TEST(RoleQueryCommand, PasswordNeverStandsInTheUri) {
    EXPECT_EQ(connectionUri("postgres", "127.0.0.1", "5432"),
              "postgresql://postgres@127.0.0.1:5432/postgres");
    EXPECT_EQ(connectionUri("", "h", ""), "postgresql://@h:/postgres");
}

TEST(SqlLiteral, EscapesWhatCouldEndOrChangeTheLiteral) {
    EXPECT_EQ(sqlEscapeStringLiteral("plain_role"), "E'plain_role'");
    EXPECT_EQ(sqlEscapeStringLiteral("o'brien"), "E'o''brien'");
    EXPECT_EQ(sqlEscapeStringLiteral("back\\slash"), "E'back\\\\slash'");
    EXPECT_EQ(sqlEscapeStringLiteral("say \"hi\" 100%"), "E'say \\x22hi\\x22 100\\x25'");
    EXPECT_EQ(sqlEscapeStringLiteral(std::string("a\nb\tc\x7f\x1f", 7)),
              "E'a\\x0Ab\\x09c\\x7F\\x1F'");
    EXPECT_EQ(sqlEscapeStringLiteral("r\xC3\xB4le&|<>^"), "E'r\xC3\xB4le&|<>^'");
    EXPECT_EQ(sqlEscapeStringLiteral(""), "E''");
    EXPECT_EQ(roleQuerySql("x' or rolsuper or rolname='y"),
              kQueryPrefix + "E'x'' or rolsuper or rolname=''y';");
}

TEST(UriValues, PercentEncodeAllButUnreserved) {
    EXPECT_EQ(percentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(percentEncode("app@corp"), "app%40corp");
    EXPECT_EQ(percentEncode("/var/run/postgresql"), "%2Fvar%2Frun%2Fpostgresql");
    EXPECT_EQ(percentEncode("a b:%\xC3\xA9\n"), "a%20b%3A%25%C3%A9%0A");
    EXPECT_EQ(uriHost("[::1]"), "[::1]");
    EXPECT_EQ(uriHost("[fe80::1:2]"), "[fe80::1:2]");
    EXPECT_EQ(uriHost("[::1]&x]"), "%5B%3A%3A1%5D%26x%5D");
    EXPECT_EQ(uriHost("[]"), "%5B%5D");
    EXPECT_EQ(uriHost("::1"), "%3A%3A1");
}

TEST(StripNewlines, RemovesOnlyLineFeeds) {
    std::string text = "\na\r\nb\n\nc \t\n";
    stripNewlines(text);
    EXPECT_EQ(text, "a\rbc \t");
}

// What /bin/sh hands the program must be exactly what was meant, whatever the values.
TEST(RoleQueryCommand, ShellHandsPsqlExactlyTheIntendedArguments) {
    const std::string path = ARGV_DUMP_PATH;
    const std::vector<std::string> hostile = {
        "plain",
        "o'brien",
        "x' or rolsuper or rolname='y",
        "a\"b&c|d<e>f^g%h$i`j\\k;l(m)n*o?p[q]r{s}t~u!v#w",
        "$(touch /tmp/rolegate-pwned)",
        "'\\''",
        " lead and trail ",
        "tab\there",
        "r\xC3\xB4le \xFF\xFE",
    };
    for (const std::string& value : hostile) {
        std::string command = posixRoleQueryCommand(path, value, value, value, value);
        stripNewlines(command);
        const DumpedCall call = parseArgvDump(runCommand(command));
        ASSERT_EQ(call.args.size(), 5u) << value;
        EXPECT_EQ(call.args[0], "-X");
        EXPECT_EQ(call.args[1], "-w");
        EXPECT_EQ(call.args[2], "-c");
        EXPECT_EQ(call.args[3], roleQuerySql(value));
        EXPECT_EQ(decodeEscapeStringLiteral(call.args[3].substr(
                      kQueryPrefix.size(), call.args[3].size() - kQueryPrefix.size() - 1)),
                  value);
        const std::string uri = call.args[4];
        EXPECT_EQ(uri, connectionUri(value, value, value));
        const std::string encoded = percentEncode(value);
        EXPECT_EQ(uri, "postgresql://" + encoded + "@" + encoded + ":" + encoded + "/postgres");
        EXPECT_EQ(percentDecode(encoded), value);
    }
    EXPECT_NE(system("test -e /tmp/rolegate-pwned"), 0);
}

} // namespace

namespace {

TEST(RoleQueryCommand, ShellRunsAPsqlPathWithSpacesAndQuotes) {
    char pattern[] = "/tmp/rolegate-path-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = std::filesystem::path(pattern) / "it's a \"dir\" & $HOME";
    const std::filesystem::path path = dir / "psql copy";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(ARGV_DUMP_PATH, path);
    const DumpedCall call =
        parseArgvDump(runCommand(posixRoleQueryCommand(path.string(), "r", "u", "h", "1")));
    std::filesystem::remove_all(pattern);
    ASSERT_EQ(call.args.size(), 5u);
    EXPECT_EQ(call.args[4], "postgresql://u@h:1/postgres");
}

} // namespace
