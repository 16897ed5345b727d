// The built tool against a real PostgreSQL server through the real psql.
#include "support/cluster.h"
#include "support/decode.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

const std::string kPasswordLine = kConnectingPassword + "\n";

const std::string kUsage =
    "Usage:\n"
    " * rolegate -h <HOSTNAME> -p <PORT> -u <DATABASE USER> -m <MAIN USER NEED TO CHECK> -i "
    "<INTERNAL USER NEED TO CHECK>\n"
    " Options and arguments (and corresponding environment variables):\n"
    " * --help\t: instruction\n"
    " * -h\t: (--hostname) database server host\n"
    " * -p\t: (--port) database server port\n"
    " * -u\t: (--pguser) database user name\n"
    " * -m\t: (--mainuser) main user\n"
    " * -i\t: (--internaluser) internal user\n";

TEST(CommandLine, BadCommandLinePrintsUsageAndExitsOne) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"--help"}}) {
        const ProcessResult result = runRolegate(args, "");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.output, kUsage);
        EXPECT_EQ(result.errors, "");
    }
    const ProcessResult missing = runRolegate({"-h", "a", "-p", "1"}, kPasswordLine);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.output, "ERROR: postgres username is empty\n" + kUsage);
    // A version query is no usage error; for a program the usage goes to standard error.
    const ProcessResult version = runRolegate({"--version"}, "");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, "rolegate " ROLEGATE_VERSION "\n");
}

struct MatrixRow {
    std::string role;
    std::string mainVerdict;
    std::string internalVerdict;
};

// Each role of the test clusters with the verdicts it gets as main and as internal user.
std::vector<MatrixRow> verdictMatrix() {
    return {
        {"rg_super", kMainOk, kInternalOk},
        {"rg_warn", kMainOkWithWarnings, kInternalOk},
        {"rg_dbonly", mainFailed("rg_dbonly", "CREATEROLE"), kInternalOk},
        {"rg_login", mainFailed("rg_login", "CREATEDB, CREATEROLE"), kInternalOk},
        {"rg_nologin", mainFailed("rg_nologin", "CREATEDB, CREATEROLE, LOGIN"),
         internalFailed("rg_nologin")},
        {"rg_rolesonly", mainFailed("rg_rolesonly", "LOGIN"), internalFailed("rg_rolesonly")},
        // They pass, but cannot log in.
        {"rg_expired", kMainOkWithWarnings + std::string(kExpiredWarning),
         kInternalOk + std::string(kExpiredWarning)},
        {"rg_nolimit", mainFailed("rg_nolimit", "CREATEDB, CREATEROLE"),
         kInternalOk + std::string(kNoConnectionsWarning)},
        {"rg_super_nologin", kMainOk + std::string(kNoLoginWarning),
         kInternalOk + std::string(kNoLoginWarning)},
    };
}

TEST(RoleMatrix, EachRoleGetsItsVerdict) {
    for (const MatrixRow& row : verdictMatrix()) {
        const ProcessResult result = runRolegate(checkArgs(row.role, row.role), kPasswordLine);
        EXPECT_EQ(result.exitCode, 0) << row.role;
        EXPECT_EQ(result.output, report(row.mainVerdict, row.internalVerdict)) << row.role;
        EXPECT_EQ(result.errors, "") << row.role;
    }
}

// The names every document holds at its top, whatever the run came to, in sorted order.
const std::vector<std::string> kDocumentNames = {"connection",         "error",  "ready",
                                                 "rolegate",           "roles",  "server_version",
                                                 "server_version_num", "skipped"};

std::vector<std::string> topNames(const nlohmann::json& document) {
    std::vector<std::string> names;
    for (const auto& [name, value] : document.items())
        names.push_back(name);
    return names;
}

// One run per case as a person reads it, and one as a program does, with --format json
// and --strict: the same verdicts, the document alone on standard output, the report's
// lines on standard error, and an exit status that tells. An argument skipped or given
// empty is no check done: reported first, never ready, and with --strict the end of the
// run. Then every exit before or outside the checks still leaves one document.
TEST(RoleMatrix, TextJsonAndStrictTellTheSame) {
    const std::string said = psqlFailed(testCluster().port) +
                             "FATAL:  password authentication failed for user \"" +
                             kConnectingUser + "\"\n";
    const std::string mistypedLine =
        "ERROR: Unknown option \"-I\" was skipped, with the argument after it\n";
    const std::string emptyLine = "ERROR: The internal user was given empty and is not checked\n";
    struct Case {
        std::vector<std::string> args;
        std::string input, text, mainVerdict, internalVerdict;
        int strictStatus;
        std::string errorKinds; // of the roles, and then of the run, when not null
        std::string skipped;    // the lines of the arguments skipped or given empty
    };
    std::vector<std::string> mistyped = checkArgs("rg_super"), empty = checkArgs("rg_super");
    mistyped.insert(mistyped.end(), {"-I", "rg_nologin"});
    empty.insert(empty.end(), {"-i", ""});
    const Case cases[] = {
        {checkArgs("rg_super", "rg_warn"), kPasswordLine, report(kMainOk, kInternalOk), "ok", "ok",
         0, "", ""},
        {checkArgs("rg_warn", "rg_nologin"), kPasswordLine,
         report(kMainOkWithWarnings, internalFailed("rg_nologin")), "ok_with_warnings", "failed", 3,
         "", ""},
        {checkArgs("rg_super_nologin"), kPasswordLine,
         report(kMainOk + std::string(kNoLoginWarning)), "ok", "", 3, "", ""},
        {checkArgs("rg_absent", "rg_login"), kPasswordLine,
         report(kMainError + missingRole("rg_absent"), kInternalOk), "missing", "ok", 3, "", ""},
        {checkArgs("rg_super", "rg_login"), "wrong\n", report(kMainError + said, kInternalNotTried),
         "not_checked", "not_checked", 2, "no_answer not_tried", ""},
        // Reported, and the run goes on; with --strict it ends before any prompt.
        {mistyped, kPasswordLine, mistypedLine + report(kMainOk), "ok", "", 1, "skipped",
         mistypedLine},
        {empty, kPasswordLine, emptyLine + report(kMainOk), "ok", "", 1, "skipped", emptyLine},
    };
    for (const Case& c : cases) {
        const std::string which = c.args[7] + " " + c.input + c.skipped;
        const ProcessResult text = runRolegate(c.args, c.input);
        EXPECT_EQ(text.output, c.text) << which;
        EXPECT_EQ(text.errors, "") << which;
        EXPECT_EQ(text.exitCode, 0) << which;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--format", "json", "--strict"});
        const ProcessResult json = runRolegate(args, c.input);
        EXPECT_EQ(json.exitCode, c.strictStatus) << which;
        EXPECT_EQ(json.errors, c.skipped.empty() ? text.output + text.errors : c.skipped) << which;
        // Without --strict the run goes on, and its document is not ready either.
        if (!c.skipped.empty()) {
            args.pop_back();
            const ProcessResult goesOn = runRolegate(args, c.input);
            EXPECT_EQ(goesOn.exitCode, 0) << which;
            const nlohmann::json document = nlohmann::json::parse(goesOn.output);
            EXPECT_EQ(document["ready"], false) << which;
            EXPECT_EQ(document["roles"][0]["verdict"], "ok") << which;
        }
        const nlohmann::json document = nlohmann::json::parse(json.output);
        EXPECT_EQ(topNames(document), kDocumentNames) << which;
        EXPECT_EQ(document["ready"], c.strictStatus == 0) << which;
        std::string skipped;
        for (const nlohmann::json& line : document["skipped"])
            skipped += line.get<std::string>() + "\n";
        EXPECT_EQ(skipped, c.skipped) << which;
        const nlohmann::json& roles = document["roles"];
        ASSERT_EQ(roles.size(), !c.skipped.empty()          ? 0u
                                : c.internalVerdict.empty() ? 1u
                                                            : 2u)
            << which;
        std::string kinds;
        for (const nlohmann::json& role : roles) {
            if (!role["error"].is_null())
                kinds += (kinds.empty() ? "" : " ") + role["error"]["kind"].get<std::string>();
            EXPECT_EQ(role["verdict"], role["check"] == "main" ? c.mainVerdict : c.internalVerdict)
                << which;
        }
        if (!document["error"].is_null())
            kinds += (kinds.empty() ? "" : " ") + document["error"]["kind"].get<std::string>();
        EXPECT_EQ(kinds, c.errorKinds) << which;
    }

    // Where the server answered, the document says which server and which role it read.
    std::vector<std::string> args = checkArgs("rg_warn", "rg_login");
    args.insert(args.end(), {"--format", "json"});
    const nlohmann::json answered = nlohmann::json::parse(runRolegate(args, kPasswordLine).output);
    EXPECT_GE(answered["server_version_num"].get<int>(), 120000);
    EXPECT_EQ(answered["connection"],
              nlohmann::json({{"host", "127.0.0.1"},
                              {"port", testCluster().port},
                              {"user", kConnectingUser},
                              {"database", "postgres"},
                              {"server_address", "127.0.0.1"},
                              {"server_port", std::stoi(testCluster().port)}}));
    EXPECT_EQ(answered["roles"][1]["name_read"], "rg_login");

    // Every exit the tool decides before or outside the checks: the line that says why,
    // on standard error with the usage text where there is one, and the same as the
    // document's error. A report that cannot be written says so on standard error.
    struct EarlyExit {
        std::vector<std::string> args;
        std::string around, input, kind, line;
    };
    std::vector<std::string> noPsql = checkArgs("rg_super");
    noPsql.insert(noPsql.end(), {"--psql", ""});
    const std::string exec = "exec \"$0\" \"$@\"";
    const EarlyExit exits[] = {
        {{"-h", "a"}, exec, "", "usage", "ERROR: port is empty"},
        {checkArgs("rg_\xFF"), exec, kPasswordLine, "no_text",
         "ERROR: The command line holds bytes that are no text in this system's character set"},
        {noPsql, exec, kPasswordLine, "psql_not_runnable",
         "ERROR: The psql named by --psql is no file that can be run: "},
        {checkArgs("rg_super"), exec + " < /", "", "password_unreadable",
         "Could not enter database password"},
        {checkArgs("rg_super"), exec, std::string(140000, 'p') + "\n", "environment",
         "ERROR: Could not hand the connection to psql: PGPASSWORD is too long for the "
         "environment"},
        {checkArgs("rg_super"), exec + " > /dev/full", kPasswordLine, "report_not_written",
         "ERROR: Could not write the report to standard output"},
    };
    for (const EarlyExit& early : exits) {
        std::vector<std::string> earlyArgs = early.args;
        earlyArgs.insert(earlyArgs.end(), {"--format", "json"});
        const ProcessResult result = runRolegateInShell(early.around, earlyArgs, early.input);
        EXPECT_EQ(result.exitCode, 1) << early.kind;
        const bool lost = early.kind == "report_not_written";
        const std::string& documentText = lost ? result.errors : result.output;
        const size_t from = documentText.find('{');
        ASSERT_NE(from, std::string::npos) << early.kind << result.errors;
        const nlohmann::json document = nlohmann::json::parse(documentText.substr(from));
        EXPECT_EQ(topNames(document), kDocumentNames) << early.kind;
        EXPECT_EQ(document["ready"], false) << early.kind;
        EXPECT_EQ(document["error"]["kind"], early.kind) << early.kind;
        EXPECT_EQ(document["error"]["message"], early.line) << early.kind;
        EXPECT_NE(result.errors.find(early.line + "\n"), std::string::npos)
            << early.kind << result.errors;
        if (early.kind == "usage") {
            EXPECT_EQ(result.errors, early.line + "\n" + kUsage);
        }
    }
}

// The report names the role missing, without the query's own table, and the one that
// differs from it only in case: rg_login, as a role created without quotes is stored.
TEST(RoleMatrix, UnknownRoleIsNamed) {
    const ProcessResult result = runRolegate(checkArgs("rg_super", "RG_Login"), kPasswordLine);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
              report(kMainOk, kInternalError + missingRole("RG_Login", "\"rg_login\"")));
}

// Every verdict and warning against each server major the sites run, started one after
// another from the packages scripts/pg-majors.sh unpacks (15 is the test cluster, whose
// matrix RoleMatrix runs: only the ADMIN OPTION pairs are checked there).
// The reports are the same on all of them, but for the ADMIN OPTION warning of 16 and
// later: a main user that passes without SUPERUSER holds ADMIN OPTION only where it
// was granted.
TEST(ServerMajors, EveryMajorGivesTheSameReports) {
    const std::string majorsDir = ROLEGATE_PG_MAJORS_DIR;
    const int majors[] = {12, 13, 14, 15, 16, 17, 18};
    for (int major : majors)
        if (major != 15 &&
            access((majorsDir + "/" + std::to_string(major) + "/bin/postgres").c_str(), X_OK) != 0)
            GTEST_SKIP() << "PostgreSQL " << major << " is not unpacked in " << majorsDir
                         << ": run scripts/pg-majors.sh " << majorsDir
                         << " (it needs npm) to test every server major";
    const std::string grantSql = "create role rg_granted login;\n"
                                 "grant rg_granted to rg_warn with admin option;\n";
    runSuperuserSql(grantSql);
    for (int major : majors) {
        const std::string bindir =
            major == 15 ? "" : majorsDir + "/" + std::to_string(major) + "/bin";
        TestCluster cluster = testCluster();
        if (major != 15) {
            startTestCluster(cluster, bindir, clusterSetupSql() + grantSql);
            if (cluster.port.empty()) {
                ADD_FAILURE() << "PostgreSQL " << major << " did not start";
                stopTestCluster(cluster, bindir);
                continue;
            }
        }
        const std::string noAdmin =
            major >= 16 ? adminOptionWarning("rg_login", "rg_warn") : std::string();
        const std::vector<MatrixRow> rows = verdictMatrix();
        const std::pair<std::string, std::string> pairs[] = {
            {"rg_login", kInternalOk + noAdmin},
            {"rg_granted", kInternalOk},
        };
        std::vector<std::pair<std::vector<std::string>, std::string>> checks;
        for (const auto& [internal, verdict] : pairs)
            checks.push_back(
                {checkArgs("rg_warn", internal), report(kMainOkWithWarnings, verdict)});
        if (major != 15) {
            for (const MatrixRow& row : rows)
                checks.push_back(
                    {checkArgs(row.role, row.role), report(row.mainVerdict, row.internalVerdict)});
            checks.push_back(
                {checkArgs("rg_absent"), report(kMainError + missingRole("rg_absent"))});
        }
        for (auto& [args, expected] : checks) {
            args[3] = cluster.port; // checkArgs names the test cluster's port
            const ProcessResult result = runRolegate(args, kPasswordLine);
            EXPECT_EQ(result.output, expected) << "PostgreSQL " << major << ", -m " << args[7];
            EXPECT_EQ(result.exitCode, 0) << "PostgreSQL " << major;
        }
        if (major != 15)
            stopTestCluster(cluster, bindir);
    }
}

// The catalog is read in the database the user names, where the postgres database is
// gone (restored afterwards for the other tests).
TEST(ServerMajors, PgdatabaseIsTheDatabaseChecked) {
    runSuperuserSql(testCluster(), "drop database postgres;\n", "template1");
    const ProcessResult kept =
        runRolegate(checkArgs("rg_super"), kPasswordLine, {{"PGDATABASE", "template1"}});
    const ProcessResult fallback =
        runRolegate(checkArgs("rg_super"), kPasswordLine, {{"PGDATABASE", ""}});
    runSuperuserSql(testCluster(), "create database postgres;\n", "template1");
    EXPECT_EQ(kept.output, report(kMainOk)) << kept.errors;
    // The saved report says why.
    EXPECT_EQ(fallback.output, report(kMainError + psqlFailed(testCluster().port) +
                                      "FATAL:  database \"postgres\" does not exist\n"));
    EXPECT_EQ(fallback.errors, "");
}

TEST(HostileValues, RoleNamesAreMatchedExactly) {
    for (const std::string& name : kHostileRoleNames) {
        const ProcessResult result = runRolegate(checkArgs(name, name), kPasswordLine);
        EXPECT_EQ(result.output, report(kMainOkWithWarnings, kInternalOk)) << name;
        EXPECT_EQ(result.errors, "") << name;
    }
}

// A name means the characters it is on the user's console, whatever character set the
// locale there has, and no byte of it can end the query's text early: in Shift JIS (as
// in BIG5 and GBK) a backslash byte can be the second half of a character.
TEST(HostileValues, NamesAreReadInTheLocalesCharacterSet) {
    const std::string locales = compileLocales({"fr_FR.ISO-8859-1", "ja_JP.SJIS", "ja_JP.EUC-JP"});
    // The character set only: psql's messages stay untranslated.
    const EnvironmentChanges latin1 = {
        {"LOCPATH", locales}, {"LC_ALL", ""}, {"LC_CTYPE", "fr_FR.ISO-8859-1"}};
    const EnvironmentChanges shiftJis = {
        {"LOCPATH", locales}, {"LC_ALL", ""}, {"LC_CTYPE", "ja_JP.SJIS"}};
    const std::string hyou = "\x95\x5C"; // the role created as its UTF-8 form
    for (const auto& [name, locale] :
         {std::pair{std::string("r\xF4le"), latin1}, std::pair{hyou, shiftJis}}) {
        const ProcessResult genuine = runRolegate(checkArgs(name), kPasswordLine, locale);
        EXPECT_EQ(genuine.output, report(kMainOkWithWarnings)) << genuine.errors;
    }

    const ProcessResult injected = runRolegate(
        checkArgs("rg_login" + hyou + "' or rolsuper --"), kPasswordLine,
        {shiftJis[0], shiftJis[1], shiftJis[2], {"PGOPTIONS", "-c backslash_quote=on"}});
    // The report is in Shift JIS, the name as typed.
    EXPECT_EQ(injected.output,
              report(kMainError + missingRole("rg_login" + hyou + "' or rolsuper --")))
        << injected.errors;

    // A byte of ASCII that stands alone is ASCII in Shift JIS too, as PostgreSQL reads
    // it, not the yen sign or overline glibc maps it to: never the superuser a\u00A5b.
    const ProcessResult ascii = runRolegate(checkArgs("a\\b", "x~y"), kPasswordLine, shiftJis);
    EXPECT_EQ(ascii.output, report(mainFailed("a\\b", "CREATEDB, CREATEROLE"), kInternalOk))
        << ascii.errors;

    // The server's tables decide, not the C library's: EUC-JP A1 C1 is U+FF5E to
    // PostgreSQL and U+301C to glibc, here the name of a look-alike superuser.
    runSuperuserSql("create role \"\xEF\xBD\x9E\" login;\n"
                    "create role \"\xE3\x80\x9C\" superuser login;\n");
    const EnvironmentChanges eucJp = {
        {"LOCPATH", locales}, {"LC_ALL", ""}, {"LC_CTYPE", "ja_JP.EUC-JP"}};
    const ProcessResult wave = runRolegate(checkArgs("\xA1\xC1"), kPasswordLine, eucJp);
    // The statement names the role the server read, U+FF5E, in EUC-JP.
    EXPECT_EQ(wave.output, report(mainFailed("\x8F\xA2\xB7", "CREATEDB, CREATEROLE")))
        << wave.errors;
    std::vector<std::string> waveJson = checkArgs("\xA1\xC1");
    waveJson.insert(waveJson.end(), {"--format", "json"});
    const nlohmann::json waveDocument =
        nlohmann::json::parse(runRolegate(waveJson, kPasswordLine, eucJp).output);
    EXPECT_EQ(waveDocument["roles"][0]["name_read"], "\xEF\xBD\x9E");

    // Half a Shift JIS character is no name at all.
    const ProcessResult half = runRolegate(checkArgs("\x95"), kPasswordLine, shiftJis);
    EXPECT_EQ(half.exitCode, 1);
    EXPECT_EQ(half.output,
              "ERROR: The command line holds bytes that are no text in this system's character "
              "set\n");
}

// A name's control characters never reach the terminal, nor forge a line: written as
// \xNN, and in a statement as a U&"..." identifier that still names the role.
TEST(HostileValues, NamesFromTheServerNeverDriveTheTerminal) {
    const std::string name = "rg_esc\x1B]0;pwned\x07\n[2J";
    const std::string shown = "rg_esc\\x1B]0;pwned\\x07\\x0A[2J";
    runSuperuserSql("create role \"" + name + "\" createdb login;\n");
    std::string upper = name;
    upper.replace(0, 6, "RG_ESC");
    const ProcessResult missing = runRolegate(checkArgs(upper), kPasswordLine);
    EXPECT_EQ(missing.output,
              report(kMainError + missingRole("RG_ESC" + shown.substr(6), "\"" + shown + "\"")));
    const ProcessResult failed = runRolegate(checkArgs(name), kPasswordLine);
    const std::string statement = "ALTER ROLE U&\"rg_esc\\001B]0;pwned\\0007\\000A[2J\" CREATEROLE";
    EXPECT_EQ(failed.output, report("Main PostgreSQL user: FAILED\n"
                                    "WARNINGS: Your user doesn't have SUPERUSER privilege\n"
                                    " - The role lacks CREATEROLE: " +
                                    statement + "\n"));
    for (const std::string& output : {missing.output, failed.output})
        EXPECT_EQ(output.find('\x1B'), std::string::npos);
    // The JSON carries the name as it is.
    std::vector<std::string> args = checkArgs(name);
    args.insert(args.end(), {"--format", "json"});
    const nlohmann::json document = nlohmann::json::parse(runRolegate(args, kPasswordLine).output);
    EXPECT_EQ(document["roles"][0]["name_read"], name);
    // The statement as printed grants what the role lacks.
    runSuperuserSql(statement + ";\n");
    EXPECT_EQ(runRolegate(checkArgs(name), kPasswordLine).output, report(kMainOkWithWarnings));
}

// A connecting user whose search_path puts an always-true = ahead of the catalog's.
TEST(HostileValues, SearchPathCannotPassARole) {
    runSuperuserSql("create role rg_evil login password 'evil-pw';\n"
                    "create schema evil authorization rg_evil;\n"
                    "create function evil.yes(name, name) returns bool language sql "
                    "as 'select true';\n"
                    "create function evil.yes(bool, bool) returns bool language sql "
                    "as 'select true';\n"
                    "create operator evil.= (leftarg = name, rightarg = name, "
                    "function = evil.yes);\n"
                    "create operator evil.= (leftarg = bool, rightarg = bool, "
                    "function = evil.yes);\n"
                    "alter role rg_evil set search_path = evil, pg_catalog;\n");
    // Neither may a name match every role, nor a privilege test every row's privilege.
    const ProcessResult result = runRolegate({"-h", "127.0.0.1", "-p", testCluster().port, "-u",
                                              "rg_evil", "-m", "rg_nologin", "-i", "rg_absent"},
                                             "evil-pw\n");
    EXPECT_EQ(result.output, report(mainFailed("rg_nologin", "CREATEDB, CREATEROLE, LOGIN"),
                                    kInternalError + missingRole("rg_absent")));
}

// libpq variables left in the environment must not send the check to another server
// than the one named: here the named host has no server, the other one has.
TEST(HostileValues, InheritedVariablesCannotRedirectTheCheck) {
    char pattern[] = "/tmp/rolegate-service-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string serviceFile = std::string(pattern) + "/pg_service.conf";
    std::ofstream(serviceFile) << "[elsewhere]\nhost=127.0.0.1\nport=" << testCluster().port
                               << "\n";
    const ProcessResult result = runRolegate(
        {"-h", "127.0.0.2", "-p", testCluster().port, "-u", kConnectingUser, "-m", "rg_super"},
        kPasswordLine,
        {{"PGHOSTADDR", "127.0.0.1"}, {"PGSERVICEFILE", serviceFile}, {"PGSERVICE", "elsewhere"}});
    std::filesystem::remove_all(pattern);
    EXPECT_EQ(result.output,
              report(kMainError + psqlFailed(testCluster().port, "127.0.0.2") + kRefused));
}

TEST(HostileValues, SuperuserConnectsOverTheSocketDirectory) {
    const ProcessResult result =
        runRolegate({"-h", testCluster().socketDir, "-p", testCluster().port, "-u", "postgres",
                     "-m", "rg_warn", "-i", "rg_login"},
                    testCluster().superuserPassword + "\n");
    EXPECT_EQ(result.output, report(kMainOkWithWarnings, kInternalOk));
}

TEST(FailedConnections, NoPasswordNeverPromptsAgain) {
    // Standard input is closed at once: the password is empty and psql must not wait
    // for one of its own.
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result = runRolegate(checkArgs("rg_super"), "");
    EXPECT_FALSE(result.timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, report(kMainError + psqlFailed(testCluster().port) +
                                    "fe_sendauth: no password supplied\n"));
}

TEST(FailedConnections, ServerDownEndsThroughTheGate) {
    // A loopback port that was free a moment ago.
    std::string port;
    close(bindLoopbackPort(port));
    const ProcessResult result = runRolegate(
        {"-h", "127.0.0.1", "-p", port, "-u", kConnectingUser, "-m", "rg_super"}, kPasswordLine);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, report(kMainError + psqlFailed(port) + kRefused));
}

// An installer or CI job hands the password through PGPASSWORD and types nothing (its
// input closed, or an empty line); a password typed still wins.
TEST(PasswordHandling, CallersPgpasswordServesWhenNothingIsTyped) {
    for (const std::string typed : {"", "\n"}) {
        const ProcessResult result = runRolegate(checkArgs("rg_super", "rg_login"), typed,
                                                 {{"PGPASSWORD", kConnectingPassword}});
        EXPECT_EQ(result.output, report(kMainOk, kInternalOk)) << result.errors;
    }
    const ProcessResult typed =
        runRolegate(checkArgs("rg_super"), kPasswordLine, {{"PGPASSWORD", "wrong"}});
    EXPECT_EQ(typed.output, report(kMainOk)) << typed.errors;
    // -w never prompts, and leaves the input unread.
    std::vector<std::string> noPrompt = checkArgs("rg_super");
    noPrompt.push_back("-w");
    const ProcessResult unasked =
        runRolegate(noPrompt, "wrong\n", {{"PGPASSWORD", kConnectingPassword}});
    EXPECT_EQ(unasked.output, kResultsHeading + std::string(kMainOk)) << unasked.errors;
}

// psql is shadowed on the search path by a script that records what it was handed,
// and what the shell that started it was handed, then runs the real psql.
TEST(PasswordHandling, PasswordReachesPsqlOnlyThroughItsEnvironment) {
    const std::string dir =
        psqlInFront("tr '\\0' '\\n' < /proc/$PPID/cmdline > \"${0%/*}/parent\"\n'" +
                    std::string(ARGV_DUMP_PATH) + "' \"$@\" > \"${0%/*}/call\"\n");

    const ProcessResult result = runRolegate(checkArgs("rg_warn"), kPasswordLine,
                                             {{"PATH", dir + ":" + std::getenv("PATH")}});
    EXPECT_EQ(result.output, report(kMainOkWithWarnings));

    std::ifstream callFile(dir + "/call"), parentFile(dir + "/parent");
    const std::string callText((std::istreambuf_iterator<char>(callFile)), {});
    const std::string parentText((std::istreambuf_iterator<char>(parentFile)), {});
    std::filesystem::remove_all(dir);

    const DumpedCall call = parseArgvDump(callText);
    EXPECT_EQ(call.args, intendedPsqlArgs("rg_warn"));
    const std::map<std::string, std::string> connection = {
        {"PGPASSWORD", kConnectingPassword}, {"PGHOST", "127.0.0.1"},
        {"PGPORT", testCluster().port},      {"PGUSER", kConnectingUser},
        {"PGDATABASE", "postgres"},          {"PGCONNECT_TIMEOUT", "10"}};
    EXPECT_EQ(call.environment, connection);
    ASSERT_FALSE(parentText.empty());
    EXPECT_EQ(parentText.find("p@ss"), std::string::npos) << parentText;
}

} // namespace

namespace {

// Memory runs out while the command is built: the run must end through the one
// catch-all, never by a crash. The address-space limit is raised step by step until
// the tool gets past the prompt and fails later.
TEST(CatchAll, AllocationFailureEndsWithItsMessage) {
#ifdef ROLEGATE_SANITIZED
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under an address-space limit "
                    "(ctest leaves this test out of the sanitized build)";
#endif
    const std::string hugeRole(120000, '%'); // twice as long once written as hex
    bool sawCatchAll = false;
    for (long kb = 2048; kb <= 32768 && !sawCatchAll; kb += 128) {
        const ProcessResult result =
            runProcess({"prlimit", "--as=" + std::to_string(kb * 1024), ROLEGATE_BINARY, "-h",
                        "127.0.0.1", "-p", "1", "-u", "u", "-m", hugeRole},
                       "pw\n");
        // Below some limit the C++ runtime cannot even start; once the prompt is out,
        // the tool is in charge and must not crash.
        if (!result.output.empty()) {
            EXPECT_EQ(result.termSignal, 0) << "limit " << kb << " KiB: " << result.output;
        }
        if (result.output.rfind(std::string(kPasswordPrompt) + kResultsHeading, 0) == 0 &&
            result.exitCode == 1) {
            // The name is warned of with the verdict, once the server said what it read.
            EXPECT_EQ(result.output, std::string(kPasswordPrompt) + kResultsHeading +
                                         "Could not check postgres user compliance\n");
            sawCatchAll = true;
        }
    }
    EXPECT_TRUE(sawCatchAll);
}

// The same name with memory to spare: too long for one command line, so the shell
// cannot be started, and the check reports that instead of crashing.
TEST(CatchAll, CommandTooLongForTheSystemEndsThroughTheGate) {
    const std::string hugeRole(120000, '%');
    const ProcessResult result = runRolegate(checkArgs(hugeRole), kPasswordLine);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, report(longNameWarning(hugeRole, hugeRole.substr(0, 63)) + kMainError +
                                    "popen failed\n"));
}

} // namespace

namespace {

// Standard input that cannot be read (a directory, or closed altogether) is not an
// empty password: the run stops with status 1.
TEST(PasswordHandling, UnreadableInputStopsTheRun) {
    for (const std::string redirect : {"< /", "<&-"}) {
        const ProcessResult result =
            runRolegateInShell("exec \"$0\" \"$@\" " + redirect, checkArgs("rg_super"), "");
        EXPECT_EQ(result.exitCode, 1) << redirect;
        EXPECT_EQ(result.output,
                  std::string(kPasswordPrompt) + "Could not enter database password\n")
            << redirect;
    }
}

// A password no new program could be handed in its environment stops the run before
// any check, rather than failing each check with "popen failed".
TEST(PasswordHandling, PasswordTooLongForTheEnvironmentStopsTheRun) {
    const ProcessResult result =
        runRolegate(checkArgs("rg_super"), std::string(140000, 'p') + "\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, std::string(kPasswordPrompt) +
                                 "ERROR: Could not hand the connection to psql: PGPASSWORD is "
                                 "too long for the environment\n");
}

} // namespace
