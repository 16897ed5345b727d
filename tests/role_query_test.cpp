#include "compliance/role_query.h"

#include <gtest/gtest.h>

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
                  " 'postgresql://postgres@db.example:5432/postgres?connect_timeout=10'");
}

TEST(RoleQueryCommand, WindowsCommandForAPlainRole) {
    EXPECT_EQ(windowsRoleQueryCommand("psql", "halvern", "postgres", "db.example", "5432"),
              "\"\"psql\" -X -w -c \"" + kQueryPrefix +
                  "E'halvern';\" \"postgresql://\"postgres\"@\"db.example\":\"5432\"/"
                  "postgres?connect_timeout=10\"\"");
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
              "postgresql://postgres@127.0.0.1:5432/postgres?connect_timeout=10");
    EXPECT_EQ(connectionUri("", "h", ""), "postgresql://@h:/postgres?connect_timeout=10");
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

} // namespace
