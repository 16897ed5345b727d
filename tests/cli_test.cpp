// The built tool against a real PostgreSQL server through the real psql.
#include "support/cluster.h"
#include "support/decode.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>

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
        {"rg_dbonly", kMainFailed, kInternalOk},
        {"rg_login", kMainFailed, kInternalOk},
        {"rg_nologin", kMainFailed, kInternalFailed},
        {"rg_rolesonly", kMainFailed, kInternalFailed},
        // They pass, but cannot log in.
        {"rg_expired", kMainOkWithWarnings + std::string(kExpiredWarning),
         kInternalOk + std::string(kExpiredWarning)},
        {"rg_nolimit", kMainFailed, kInternalOk + std::string(kNoConnectionsWarning)},
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

TEST(RoleMatrix, MainAndInternalAreCheckedSeparately) {
    const ProcessResult result = runRolegate(checkArgs("rg_warn", "rg_nologin"), kPasswordLine);
    EXPECT_EQ(result.output, report(kMainOkWithWarnings, kInternalFailed));
    const ProcessResult onlyMain = runRolegate(checkArgs("rg_super"), kPasswordLine);
    EXPECT_EQ(onlyMain.exitCode, 0);
    EXPECT_EQ(onlyMain.output, report(kMainOk));
}

// The check fails through the gate, with psql's output, and the report names the role
// missing, and the one that differs from it only in case: rg_login, as a role created
// without quotes would be stored.
TEST(RoleMatrix, UnknownRoleIsNamed) {
    const ProcessResult result = runRolegate(checkArgs("rg_absent", "RG_Login"), kPasswordLine);
    EXPECT_EQ(result.exitCode, 0);
    const std::string mainPart = kMainError + kNoRows + "\n" + missingRole("rg_absent");
    EXPECT_EQ(result.output.rfind(report(mainPart, kInternalError), 0), 0u) << result.output;
    const std::string otherCase = "| ROLEMISSINGOTHERCASE72675f6c6f67696e\n(1 row)\n\n\n" +
                                  missingRole("RG_Login", "\"rg_login\"");
    ASSERT_GE(result.output.size(), otherCase.size());
    EXPECT_EQ(result.output.substr(result.output.size() - otherCase.size()), otherCase)
        << result.output;
}

// Every verdict and warning against each server major the sites run, started one after
// another from the packages scripts/pg-majors.sh unpacks (15 is the test cluster).
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
        for (const MatrixRow& row : rows)
            checks.push_back(
                {checkArgs(row.role, row.role), report(row.mainVerdict, row.internalVerdict)});
        for (const auto& [internal, verdict] : pairs)
            checks.push_back(
                {checkArgs("rg_warn", internal), report(kMainOkWithWarnings, verdict)});
        checks.push_back({checkArgs("rg_absent"),
                          report(kMainError + kNoRows + "\n" + missingRole("rg_absent"))});
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
    const std::string locales = compileLocales({"fr_FR.ISO-8859-1", "ja_JP.SJIS"});
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
    EXPECT_EQ(injected.output.rfind(std::string(kPasswordPrompt) + kResultsHeading + kMainError, 0),
              0u)
        << injected.output;
    EXPECT_NE(injected.output.find("ROLEMISSING\n(1 row)"), std::string::npos)
        << injected.output << injected.errors;

    // A byte of ASCII that stands alone is ASCII in Shift JIS too, as PostgreSQL reads
    // it, not the yen sign or overline glibc maps it to: never the superuser a\u00A5b.
    const ProcessResult ascii = runRolegate(checkArgs("a\\b", "x~y"), kPasswordLine, shiftJis);
    EXPECT_EQ(ascii.output, report(kMainFailed, kInternalOk)) << ascii.errors;

    // Half a Shift JIS character is no name at all.
    const ProcessResult half = runRolegate(checkArgs("\x95"), kPasswordLine, shiftJis);
    EXPECT_EQ(half.exitCode, 1);
    EXPECT_EQ(half.output,
              "ERROR: The command line holds bytes that are no text in this system's character "
              "set\n");
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
    EXPECT_EQ(result.output.rfind(report(kMainFailed, kInternalError), 0), 0u) << result.output;
    EXPECT_NE(result.output.find("ROLEMISSING\n(1 row)"), std::string::npos) << result.output;
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

TEST(FailedConnections, WrongPasswordEndsThroughTheGate) {
    const ProcessResult result = runRolegate(checkArgs("rg_super", "rg_login"), "wrong\n");
    EXPECT_EQ(result.exitCode, 0);
    const std::string said = psqlFailed(testCluster().port) +
                             "FATAL:  password authentication failed for user \"" +
                             kConnectingUser + "\"\n";
    EXPECT_EQ(result.output, report(kMainError + said, kInternalError + said));
    EXPECT_EQ(result.errors, "");
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
    for (const std::string& arg : call.args)
        EXPECT_EQ(arg.find("p@ss"), std::string::npos) << arg;
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
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under an address-space limit";
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
            EXPECT_EQ(result.output, std::string(kPasswordPrompt) + kResultsHeading +
                                         longNameWarning(hugeRole, hugeRole.substr(0, 63)) +
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
