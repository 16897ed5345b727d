// The Windows build under wine: its unit tests, and the built rolegate.exe finding
// psql through the registry, a `where` on the search path, or the user's answer, with
// a stand-in psql.exe that records what it is handed; then rolegate.exe through a real
// Windows psql.exe against the test server, whose reports must be the Linux build's.
#include "support/cluster.h"
#include "support/decode.h"
#include "support/process.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/ioctl.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

const std::string kWine = "/usr/lib/wine/wine64";
const std::string kWindowsBuild = ROLEGATE_WINDOWS_BUILD_DIR;
std::string gPrefix; // a throwaway WINEPREFIX for this run

const std::string kKey = "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-";

// wine takes the ANSI code page from the locale: C.UTF-8 gives Western Windows' 1252
// whatever the caller's locale (an empty LC_ALL counts as unset).
EnvironmentChanges wineEnvironment() {
    return {{"WINEPREFIX", gPrefix}, {"WINEDEBUG", "-all"}, {"LC_ALL", ""}, {"LANG", "C.UTF-8"}};
}

// Runs a Windows program under wine in `dir`.
ProcessResult runWine(const std::vector<std::string>& args, const std::string& input,
                      const std::string& dir = "/tmp", const EnvironmentChanges& extra = {}) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", dir, kWine};
    argv.insert(argv.end(), args.begin(), args.end());
    EnvironmentChanges environment = wineEnvironment();
    environment.insert(environment.end(), extra.begin(), extra.end());
    ProcessResult result = runProcess(argv, input, environment, 120);
    // Windows programs end their lines with CR LF; compare them as plain line feeds.
    for (size_t at; (at = result.output.find("\r\n")) != std::string::npos;)
        result.output.erase(at, 1);
    return result;
}

class WineEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        char pattern[] = "/tmp/rolegate-wine-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        gPrefix = pattern;
        const ProcessResult booted = runWine({"cmd", "/c", "exit"}, "");
        ASSERT_EQ(booted.exitCode, 0) << booted.errors;
        // The new prefix is still being filled (the system folder's programs, ping.exe
        // among them) after the first program ends: wait for all of it to end.
        runProcess({"/usr/lib/wine/wineserver", "-w"}, "", wineEnvironment());
    }
    void TearDown() override {
        runProcess({"/usr/lib/wine/wineserver", "-k"}, "", wineEnvironment());
        fs::remove_all(gPrefix);
    }
};

// Copies the recording psql stand-in to `where` inside the prefix's C: drive.
void placePsql(const std::string& where) {
    const fs::path target = fs::path(gPrefix) / "drive_c" / where;
    fs::create_directories(target.parent_path());
    fs::copy_file(kWindowsBuild + "/tests/argv_dump.exe", target,
                  fs::copy_options::overwrite_existing);
}

void setBaseDirectory(int version, const std::string& directory) {
    const ProcessResult added = runWine({"reg", "add", kKey + std::to_string(version), "/v",
                                         "Base Directory", "/t", "REG_SZ", "/d", directory, "/f"},
                                        "");
    ASSERT_EQ(added.exitCode, 0) << added.output << added.errors;
}

void removeInstallation(int version) {
    runWine({"reg", "delete", kKey + std::to_string(version), "/f"}, "");
}

std::string missLines(int from, int downTo) {
    std::string lines;
    for (int version = from; version >= downTo; --version)
        lines += "Unable to retrieve psql executable path from " + kKey + std::to_string(version) +
                 "\\\n";
    return lines;
}

const std::string kPathPrompt =
    "WARNING: Could not navigate psql executable file. Please enter your psql executable "
    "file:\n[example: C:\\Program Files\\PostgreSQL\\12\\bin\\psql.exe]\n";

// Values full of what cmd.exe, the C runtime, a URI and SQL act on.
const std::string kHost = "db&host^1";
const std::string kPort = "54|32";
// cmd.exe would expand %CD% and %PATH% in a command line; the user never stands in one.
const std::string kUser = "app@corp \"q\" %CD%F1igo %PATH% &x";
const std::string kMainRole = "o'brien & \"co\" 100%";
const std::string kInternalRole = "int<er>nal%PATH%";
const std::string kPassword = "pa ss&w\"rd%PATH%^|<>'";

ProcessResult runRolegate(const std::string& input, const std::string& dir = "/tmp",
                          EnvironmentChanges extra = {}) {
    // psql must never see the variables that would send it elsewhere. The stand-in
    // answers that the role is missing, so that the internal user's check is tried too.
    extra.insert(extra.end(), {{"PGHOSTADDR", "127.0.0.1"},
                               {"PGSERVICE", "elsewhere"},
                               {"ARGV_DUMP_AS_MISSING_ROLE", "1"}});
    return runWine({kWindowsBuild + "/rolegate.exe", "-h", kHost, "-p", kPort, "-u", kUser, "-m",
                    kMainRole, "-i", kInternalRole},
                   input, dir, extra);
}

// Splits the report at the internal heading and checks what each psql run received.
void expectBothCallsExact(const std::string& output) {
    const size_t internalAt = output.find(kInternalHeading);
    ASSERT_NE(internalAt, std::string::npos) << output;
    const DumpedCall main = parseArgvDump(output.substr(0, internalAt));
    const DumpedCall internal = parseArgvDump(output.substr(internalAt));
    EXPECT_EQ(main.args, intendedPsqlArgs(kMainRole));
    EXPECT_EQ(internal.args, intendedPsqlArgs(kInternalRole, kMainRole));
    const std::map<std::string, std::string> connection = {
        {"PGPASSWORD", kPassword}, {"PGHOST", kHost},          {"PGPORT", kPort},
        {"PGUSER", kUser},         {"PGDATABASE", "postgres"}, {"PGCONNECT_TIMEOUT", "10"}};
    EXPECT_EQ(main.environment, connection);
    EXPECT_EQ(internal.environment, connection);
    EXPECT_EQ(output.find("pa ss"), std::string::npos) << "the password leaked: " << output;
}

TEST(WindowsBuild, UnitTestsPassUnderWine) {
    const ProcessResult result = runWine({kWindowsBuild + "/tests/rolegate_unit_tests.exe"}, "");
    EXPECT_EQ(result.exitCode, 0) << result.output << result.errors;
    EXPECT_NE(result.output.find("[  PASSED  ]"), std::string::npos) << result.output;
}

TEST(WindowsBuild, ExecutableNamesItselfInItsVersionResource) {
    const ProcessResult result =
        runWine({kWindowsBuild + "/tests/version_info.exe", kWindowsBuild + "/rolegate.exe"}, "");
    EXPECT_EQ(result.exitCode, 0) << result.output << result.errors;
    const std::string version = ROLEGATE_VERSION;
    std::string expected = "fixed FileVersion " + version + ".0\n";
    expected += "fixed ProductVersion " + version + ".0\n";
    expected += "ProductName rolegate\n";
    expected += "FileDescription Checks PostgreSQL roles for Halvern\n";
    expected += "FileVersion " + version + "\n";
    expected += "ProductVersion " + version + "\n";
    expected += "InternalName rolegate\n";
    expected += "OriginalFilename rolegate.exe\n";
    EXPECT_EQ(result.output, expected);
}

TEST(WindowsLocator, RegistryInstallationIsFoundAfterTwoMisses) {
    placePsql("Program Files/PostgreSQL/14/bin/psql.exe");
    setBaseDirectory(14, "C:\\Program Files\\PostgreSQL\\14");
    setBaseDirectory(12, "C:\\Program Files\\PostgreSQL\\12"); // older: never reached
    const ProcessResult result = runRolegate(kPassword + "\r\n");
    removeInstallation(14);
    removeInstallation(12);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output.rfind(
                  missLines(16, 15) + kPasswordPrompt + kResultsHeading + kMainError + "arg ", 0),
              0u)
        << result.output;
    expectBothCallsExact(result.output);
}

TEST(WindowsLocator, FiveMissesThenTheTypedPathIsUsed) {
    placePsql("tools/my psql.exe");
    const ProcessResult result = runRolegate("C:\\tools\\my psql.exe\n" + kPassword + "\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output.rfind(missLines(16, 12) + kPathPrompt + kPasswordPrompt, 0), 0u)
        << result.output;
    expectBothCallsExact(result.output);
}

TEST(WindowsLocator, EndOfInputAtThePathPromptKeepsTheBareName) {
    const ProcessResult result = runRolegate("");
    EXPECT_EQ(result.exitCode, 0);
    // The main user's section ends with cmd.exe's word that it found no psql, and the
    // internal user's check is not tried.
    const size_t internal = result.output.find(kInternalHeading);
    ASSERT_NE(internal, std::string::npos) << result.output;
    EXPECT_TRUE(linesThenMessage(result.output.substr(0, internal),
                                 missLines(16, 12) + kPathPrompt + kPasswordPrompt +
                                     kResultsHeading + kMainError + "\n",
                                 "psql"))
        << result.output;
    EXPECT_EQ(result.output.substr(internal), kInternalHeading + kInternalNotTried);
}

} // namespace

namespace {

TEST(WindowsLimits, CommandTooLongForCmdEndsThroughTheGate) {
    placePsql("Program Files/PostgreSQL/14/bin/psql.exe");
    setBaseDirectory(14, "C:\\Program Files\\PostgreSQL\\14");
    const ProcessResult result = runWine({kWindowsBuild + "/rolegate.exe", "-h", "h", "-p", "1",
                                          "-u", "u", "-m", std::string(20000, 'r')},
                                         "pw\n");
    removeInstallation(14);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    const std::string longName = "WARNING: The name \"" + std::string(20000, 'r') +
                                 "\" is longer than 63 bytes, and PostgreSQL reads only its "
                                 "first 63 bytes: the role checked is \"" +
                                 std::string(63, 'r') + "\"\n";
    EXPECT_EQ(result.output.rfind(
                  missLines(16, 15) + kPasswordPrompt + kResultsHeading + longName + kMainError, 0),
              0u)
        << result.output;
    EXPECT_EQ(result.output.find("arg "), std::string::npos) << "psql ran after all";
}

} // namespace

// rolegate.exe typed at an interactive cmd on a console of its own: wine gives a program
// a console when its standard input is a terminal in raw mode, and paints on that
// terminal what is typed only while the console's echo is on.
namespace {

// The text wine painted, without its escape sequences and without any whitespace: it
// draws blanks as cursor moves, so only the visible characters can be compared.
std::string consoleText(const std::string& screen) {
    std::string text;
    for (size_t at = 0; at < screen.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(screen[at]);
        if (c == '\x1b' && at + 1 < screen.size()) {
            const char kind = screen[++at];
            if (kind == '[') { // control sequence: up to a final byte from @ to ~
                while (at + 1 < screen.size() && !(screen[at + 1] >= '@' && screen[at + 1] <= '~'))
                    ++at;
                ++at;
            } else if (kind == ']') { // operating system command: up to BEL or ESC backslash
                while (at + 1 < screen.size() && screen[at + 1] != '\a' && screen[at + 1] != '\x1b')
                    ++at;
                ++at;
                if (at < screen.size() && screen[at] == '\x1b')
                    ++at;
            }
            continue;
        }
        if (c > ' ' && c != 0x7f)
            text.push_back(static_cast<char>(c));
    }
    return text;
}

// Where wine's Z: drive shows a path of this machine.
std::string windowsPath(const std::string& hostPath) {
    std::string path = "Z:" + hostPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

const std::string kCmdPrompt = "Z:\\tmp>";

// The keys typed on the terminal that the program there has not read yet.
int unreadKeys(const TerminalSession& session) {
    int count = 0;
    if (ioctl(session.slave, FIONREAD, &count) != 0)
        return -1;
    return count;
}

// Reads the console until `text` shows in its text after the first `from` characters.
bool waitForConsoleText(TerminalSession& session, const std::string& text, size_t from,
                        int timeoutSeconds = 30) {
    return waitForScreen(
        session,
        [&](const std::string& screen) {
            return consoleText(screen).find(text, from) != std::string::npos;
        },
        timeoutSeconds);
}

// Types a rolegate.exe command line at cmd's prompt, answers its psql path prompt and then
// its password prompt with `answer` and `passwordKeys`, and waits for cmd's next prompt.
// Returns the console text painted meanwhile.
std::string runAtCmdPrompt(TerminalSession& session, const std::string& answer,
                           const std::string& passwordKeys) {
    const size_t from = consoleText(session.screen).size();
    typeOnTerminal(session, windowsPath(kWindowsBuild + "/rolegate.exe") +
                                " -h h -p 1 -u u -m main -i internal\r");
    // The five registry probes come first, so give the prompt time.
    EXPECT_TRUE(waitForConsoleText(session, "[example:", from, 120));
    typeOnTerminal(session, answer + "\r");
    EXPECT_TRUE(waitForConsoleText(session, "Pleaseenterdatabasepassword:", from));
    typeOnTerminal(session, passwordKeys);
    EXPECT_TRUE(waitForConsoleText(session, "Validatinginternaluser", from));
    const size_t internalAt = consoleText(session.screen).find("Validatinginternaluser", from);
    EXPECT_TRUE(waitForConsoleText(session, kCmdPrompt, internalAt));
    return consoleText(session.screen).substr(from);
}

// Types a command at cmd's prompt whose text differs from what it prints, and tells
// whether what was typed was painted before the command's output.
bool commandIsShownAsTyped(TerminalSession& session) {
    const size_t from = consoleText(session.screen).size();
    typeOnTerminal(session, "echo one-%OS%-two\r");
    EXPECT_TRUE(waitForConsoleText(session, "one-Windows_NT-two", from));
    return consoleText(session.screen).find("echoone-%OS%-twoone-Windows_NT-two", from) !=
           std::string::npos;
}

TEST(WindowsConsole, PasswordIsHiddenAndEchoComesBackAfterALineAndAfterEndOfInput) {
    placePsql("Program Files/PostgreSQL/16/bin/psql.exe");
    TerminalSession session =
        startOnTerminal({"/bin/sh", "-c", "cd /tmp && exec \"$0\" cmd", kWine}, wineEnvironment(),
                        TerminalMode::Raw);
    EXPECT_TRUE(waitForConsoleText(session, kCmdPrompt, 0)) << consoleText(session.screen);

    // The path pasted with its quotes and a blank before them; a password line.
    const std::string password = "Zq7secretXw";
    const std::string passwordInHex = "5A71377365637265745877"; // as the stand-in prints it
    const std::string first = runAtCmdPrompt(
        session, " \"C:\\Program Files\\PostgreSQL\\16\\bin\\psql.exe\"", password + "\r");
    EXPECT_NE(first.find("[example:C:\\ProgramFiles\\PostgreSQL\\12\\bin\\psql.exe]"
                         "\"C:\\ProgramFiles\\PostgreSQL\\16\\bin\\psql.exe\""
                         "Pleaseenterdatabasepassword:====COMPLIANTRESULTS====Validatingmainuser"),
              std::string::npos)
        << first;
    EXPECT_EQ(first.find(password), std::string::npos) << first;
    const size_t report = first.find("====COMPLIANTRESULTS====");
    EXPECT_NE(first.find("arg", report), std::string::npos) << "psql did not run: " << first;
    EXPECT_NE(first.find(passwordInHex, report), std::string::npos)
        << "psql did not receive the password: " << first;
    EXPECT_TRUE(commandIsShownAsTyped(session)) << consoleText(session.screen);

    // The path typed without ".exe"; end of input (Ctrl-Z, Enter) at the password prompt.
    const std::string second =
        runAtCmdPrompt(session, "C:\\Program Files\\PostgreSQL\\16\\bin\\psql", "\x1a\r");
    EXPECT_NE(second.find("[example:C:\\ProgramFiles\\PostgreSQL\\12\\bin\\psql.exe]"
                          "C:\\ProgramFiles\\PostgreSQL\\16\\bin\\psql"
                          "Pleaseenterdatabasepassword:====COMPLIANTRESULTS====Validatingmainuser"),
              std::string::npos)
        << second;
    EXPECT_NE(second.find("arg", second.find("====COMPLIANTRESULTS====")), std::string::npos)
        << "psql did not run: " << second;
    EXPECT_TRUE(commandIsShownAsTyped(session)) << consoleText(session.screen);

    typeOnTerminal(session, "exit\r");
    EXPECT_EQ(waitForExit(session), 0) << consoleText(session.screen);
    closeTerminal(session);
}

} // namespace

// rolegate.exe through a real Windows psql.exe and libpq.dll (scripts/windows-psql.sh
// builds them from PostgreSQL's sources) against the test server. They are installed
// where the PostgreSQL installer puts them, with its registry key: wine's where.exe
// prints nothing, so rolegate.exe finds psql through the registry, after one miss for 16.
namespace {

const std::string kRealPsqlDir = ROLEGATE_WINDOWS_PSQL_DIR;

class RealPsql : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kRealPsqlDir.empty())
            GTEST_SKIP() << "no Windows psql.exe to run: configure with "
                            "-DROLEGATE_WINDOWS_PSQL_DIR=<folder of psql.exe> "
                            "(scripts/windows-psql.sh builds one, scripts/test.sh passes it)";
        const fs::path bin =
            fs::path(gPrefix) / "drive_c" / "Program Files" / "PostgreSQL" / "15" / "bin";
        fs::create_directories(bin);
        for (const fs::directory_entry& file : fs::directory_iterator(kRealPsqlDir))
            fs::copy_file(file.path(), bin / file.path().filename(),
                          fs::copy_options::skip_existing);
        setBaseDirectory(15, "C:\\Program Files\\PostgreSQL\\15");
        installed_ = true;
    }
    // The other tests expect no installation of 15.
    void TearDown() override {
        if (installed_)
            removeInstallation(15);
    }

  private:
    bool installed_ = false;
};

std::vector<std::string> withArgs(const std::string& program,
                                  const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Two roles a run, each verdict for each of them, and the names full of what cmd.exe,
// the C runtime and SQL act on; the connecting user and password are roles.h's.
TEST_F(RealPsql, ReportsAreTheLinuxBuildsForEachVerdictAndHostileName) {
    struct Case {
        std::string mainRole, internalRole, expected, mainVerdict, internalVerdict;
    };
    std::vector<Case> cases = {
        {"rg_super", "rg_super", report(kMainOk, kInternalOk), "ok", "ok"},
        {"rg_warn", "rg_login", report(kMainOkWithWarnings, kInternalOk), "ok_with_warnings", "ok"},
        {"rg_login", "rg_nologin",
         report(mainFailed("rg_login", "CREATEDB, CREATEROLE"), internalFailed("rg_nologin")),
         "failed", "failed"},
        {"rg_nologin", "rg_absent",
         report(mainFailed("rg_nologin", "CREATEDB, CREATEROLE, LOGIN"),
                kInternalError + missingRole("rg_absent")),
         "failed", "missing"},
        {"rg_absent", "rg_warn", report(kMainError + missingRole("rg_absent"), kInternalOk),
         "missing", "ok"},
        {"rg_expired", "rg_nolimit",
         report(kMainOkWithWarnings + std::string(kExpiredWarning),
                kInternalOk + std::string(kNoConnectionsWarning)),
         "ok_with_warnings", "ok"},
    };
    // The names that are no ASCII are the code-page test's below.
    std::vector<std::string> names;
    for (const std::string& name : kHostileRoleNames)
        if (std::all_of(name.begin(), name.end(), [](char c) { return c > 0; }))
            names.push_back(name);
    for (size_t at = 0; at < names.size(); at += 2)
        cases.push_back({names[at], names[(at + 1) % names.size()],
                         report(kMainOkWithWarnings, kInternalOk), "ok_with_warnings", "ok"});

    for (const Case& c : cases) {
        const std::vector<std::string> args = checkArgs(c.mainRole, c.internalRole);
        const ProcessResult linux = runProcess(withArgs(ROLEGATE_BINARY, args),
                                               kConnectingPassword + "\n", {{"LC_ALL", "C.UTF-8"}});
        const ProcessResult windows =
            runWine(withArgs(kWindowsBuild + "/rolegate.exe", args), kConnectingPassword + "\r\n");
        const std::string which = c.mainRole + " / " + c.internalRole;
        EXPECT_EQ(linux.output, c.expected) << which << "\n" << linux.errors;
        EXPECT_EQ(windows.output, missLines(16, 16) + linux.output) << which << "\n"
                                                                    << windows.errors;
        EXPECT_EQ(windows.exitCode, linux.exitCode) << which;
        // The JSON document, which the Windows build writes in text mode (CR LF).
        std::vector<std::string> forJson = args;
        forJson.insert(forJson.end(), {"--format", "json", "--strict"});
        const ProcessResult linuxJson =
            runProcess(withArgs(ROLEGATE_BINARY, forJson), kConnectingPassword + "\n",
                       {{"LC_ALL", "C.UTF-8"}});
        const ProcessResult windowsJson = runWine(
            withArgs(kWindowsBuild + "/rolegate.exe", forJson), kConnectingPassword + "\r\n");
        const nlohmann::json document = nlohmann::json::parse(windowsJson.output);
        EXPECT_EQ(document, nlohmann::json::parse(linuxJson.output)) << which;
        EXPECT_EQ(windowsJson.exitCode, linuxJson.exitCode) << which;
        // Both alike is not enough: each role's verdict is the case's.
        ASSERT_EQ(document["roles"].size(), 2u) << which;
        EXPECT_EQ(document["roles"][0]["check"], "main") << which;
        EXPECT_EQ(document["roles"][0]["verdict"], c.mainVerdict) << which;
        EXPECT_EQ(document["roles"][1]["check"], "internal") << which;
        EXPECT_EQ(document["roles"][1]["verdict"], c.internalVerdict) << which;
    }
}

// The newest release installed alone, as its installer leaves it: the key of 18 only,
// psql not on the search path. It is found after the five misses for 16 to 12.
TEST_F(RealPsql, NewestReleaseAloneIsFoundInTheRegistry) {
    removeInstallation(15);
    const fs::path programs = fs::path(gPrefix) / "drive_c" / "Program Files" / "PostgreSQL";
    fs::create_directories(programs / "18");
    fs::copy(programs / "15" / "bin", programs / "18" / "bin",
             fs::copy_options::recursive | fs::copy_options::skip_existing);
    setBaseDirectory(18, "C:\\Program Files\\PostgreSQL\\18");
    const ProcessResult result =
        runWine(withArgs(kWindowsBuild + "/rolegate.exe", checkArgs("rg_super")),
                kConnectingPassword + "\r\n");
    removeInstallation(18);
    EXPECT_EQ(result.output, missLines(16, 12) + report(kMainOk)) << result.errors;
}

// The same under the ANSI code pages of Western (1252), Japanese (932) and Chinese (936)
// Windows, which wine takes from the locale. A name must reach the server as the user
// typed it, whatever the code page holds: v_Müller, where the code page has no ü, must
// never become the look-alike superuser v_Muller; andré, 田中, rôle and 表 must be found
// under each, not end in the server's "invalid byte sequence" (psql, its output no
// terminal, leaves the session in the server's UTF8).
const std::string kMueller = "v_M\xC3\xBCller";         // login only
const std::string kAndre = "andr\xC3\xA9";              // createdb createrole login
const std::string kTanaka = "\xE7\x94\xB0\xE4\xB8\xAD"; // the same
const std::string kCodePageRoles =
    "create role \"v_Muller\" superuser login;\n"
    "create role \"v_M\xC3\xBCller\" login;\n"
    "create role \"andr\xC3\xA9\" createdb createrole login;\n"
    "create role \"\xE7\x94\xB0\xE4\xB8\xAD\" createdb createrole login;\n";

TEST_F(RealPsql, NamesKeepTheirMeaningUnderWesternJapaneseAndChineseCodePages) {
    char pattern[] = "/tmp/rolegate-locales-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string locales = pattern;
    // Two of roles.h's hostile names: rôle, and 表, which is 95 5C in code page 932, its
    // second byte a backslash.
    const std::string role = "r\xC3\xB4le", hyou = "\xE8\xA1\xA8";
    const struct {
        std::string locale;
        std::string hyou; // 表 as the code page writes it, ? where it has none
    } codePages[] = {{"de_DE", "?"}, {"ja_JP", "\x95\x5C"}, {"zh_CN", "\xB1\xED"}};
    const struct {
        std::string mainRole, internalRole, expected;
    } cases[] = {
        {kMueller, role, report(mainFailed(kMueller, "CREATEDB, CREATEROLE"), kInternalOk)},
        {kAndre, hyou, report(kMainOkWithWarnings, kInternalOk)},
        {kTanaka, "", report(kMainOkWithWarnings)},
    };
    for (const auto& page : codePages) {
        const ProcessResult compiled = runProcess(
            {"localedef", "-i", page.locale, "-f", "UTF-8", locales + "/" + page.locale + ".UTF-8"},
            "");
        EXPECT_EQ(compiled.exitCode, 0) << compiled.output << compiled.errors;
    }
    for (const auto& page : codePages) {
        const std::string locale = page.locale + ".UTF-8";
        // A wineserver keeps the locale it started with.
        runProcess({"/usr/lib/wine/wineserver", "-k"}, "", wineEnvironment());
        runProcess({"/usr/lib/wine/wineserver", "-w"}, "", wineEnvironment());
        const EnvironmentChanges inLocale = {{"LOCPATH", locales}, {"LANG", locale}};

        // The stand-in shows the code page in the bytes it receives.
        const ProcessResult shown =
            runWine({kWindowsBuild + "/tests/argv_dump.exe", hyou}, "", "/tmp", inLocale);
        ASSERT_EQ(parseArgvDump(shown.output).args, std::vector<std::string>{page.hyou})
            << locale << " did not take: " << shown.output;

        for (const auto& c : cases) {
            const ProcessResult result = runWine(
                withArgs(kWindowsBuild + "/rolegate.exe", checkArgs(c.mainRole, c.internalRole)),
                kConnectingPassword + "\r\n", "/tmp", inLocale);
            EXPECT_EQ(result.output, missLines(16, 16) + c.expected)
                << locale << ": " << c.mainRole << " / " << c.internalRole << "\n"
                << result.errors;
        }
    }
    runProcess({"/usr/lib/wine/wineserver", "-k"}, "", wineEnvironment());
    runProcess({"/usr/lib/wine/wineserver", "-w"}, "", wineEnvironment());
    fs::remove_all(locales);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new WineEnvironment);
    testing::AddGlobalTestEnvironment(new ClusterEnvironment(clusterSetupSql() + kCodePageRoles));
    return RUN_ALL_TESTS();
}
// Nothing in the folder rolegate.exe is started from runs instead of where, reg or psql;
// Ctrl-C at the password prompt. (Names outside the ANSI code page are RealPsql's.)
namespace {

const char* const kPlanted[] = {"where.bat", "reg.bat", "psql.bat"};

// A batch file in `dir` that leaves a mark beside itself when it runs.
void plant(const fs::path& dir, const std::string& name) {
    fs::create_directories(dir);
    std::ofstream(dir / name) << "@echo ran>\"%~dp0" << name << ".ran\"\r\n";
}

void expectNoneRan(const fs::path& dir) {
    for (const char* name : kPlanted)
        EXPECT_FALSE(fs::exists(dir / (std::string(name) + ".ran"))) << name << " ran";
}

TEST(WindowsLocator, NothingInTheStartFolderRunsAndStaleInstallationsAreSkipped) {
    const fs::path dir = fs::path(gPrefix) / "drive_c" / "planted";
    for (const char* name : kPlanted)
        plant(dir, name);
    placePsql("Program Files/PostgreSQL/14/bin/psql.exe");
    placePsql("PostgreSQL%OS%15/bin/psql.exe"); // cmd.exe would run C:\PostgreSQLWindows_NT15\...
    setBaseDirectory(16, "C:\\Old\\PostgreSQL\\16"); // uninstalled since
    setBaseDirectory(15, "C:\\PostgreSQL%OS%15");
    setBaseDirectory(14, "C:\\Program Files\\PostgreSQL\\14");
    const ProcessResult result = runRolegate(kPassword + "\n", dir.string());
    for (int version = 16; version >= 14; --version)
        removeInstallation(version);
    EXPECT_EQ(result.output.rfind(
                  missLines(16, 15) + kPasswordPrompt + kResultsHeading + kMainError + "arg ", 0),
              0u)
        << result.output;
    expectBothCallsExact(result.output);
    expectNoneRan(dir);
}

TEST(WindowsLocator, PsqlOnTheSearchPathRunsByItsFullPathAndNotFromTheStartFolder) {
    // A stand-in takes the place of wine's where.exe, which prints nothing; like Windows'
    // it lists the start folder's psql.bat first.
    const fs::path where = fs::path(gPrefix) / "drive_c" / "windows" / "system32" / "where.exe";
    const fs::path saved = where.string() + ".wine";
    fs::copy_file(where, saved, fs::copy_options::overwrite_existing);
    fs::copy_file(kWindowsBuild + "/tests/where_standin.exe", where,
                  fs::copy_options::overwrite_existing);
    const fs::path dir = fs::path(gPrefix) / "drive_c" / "work";
    plant(dir, "psql.bat");
    placePsql("tools/bin/psql.exe");
    const ProcessResult result =
        runRolegate(kPassword + "\n", dir.string(),
                    {{"WINEDLLOVERRIDES", "where.exe=n"}, {"WINEPATH", "C:\\tools\\bin"}});
    fs::rename(saved, where);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output.rfind(std::string(kPasswordPrompt) + kResultsHeading + kMainError, 0),
              0u)
        << result.output;
    expectBothCallsExact(result.output);
    expectNoneRan(dir);
}

// wine hands a Ctrl-C typed on its terminal to the pending console read, which ends
// with nothing read; the control handler is not called.
TEST(WindowsConsole, CtrlCAtThePasswordPromptEndsTheRunWithEchoOn) {
    placePsql("Program Files/PostgreSQL/16/bin/psql.exe");
    setBaseDirectory(16, "C:\\Program Files\\PostgreSQL\\16");
    TerminalSession session =
        startOnTerminal({"/bin/sh", "-c", "cd /tmp && exec \"$0\" cmd", kWine}, wineEnvironment(),
                        TerminalMode::Raw);
    EXPECT_TRUE(waitForConsoleText(session, kCmdPrompt, 0)) << consoleText(session.screen);
    const size_t from = consoleText(session.screen).size();
    typeOnTerminal(session,
                   windowsPath(kWindowsBuild + "/rolegate.exe") + " -h h -p 1 -u u -m main\r");
    EXPECT_TRUE(waitForConsoleText(session, "Pleaseenterdatabasepassword:", from, 60));
    typeOnTerminal(session, "half");
    // A Ctrl-C that arrives together with other keys is taken as one of them: it is typed
    // once wine has read these from the terminal. The kernel hands typed keys on to the
    // terminal's side through a work queue, where they are not counted at once, so half
    // a second is left for that first.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(waitForScreen(
        session, [&session](const std::string&) { return unreadKeys(session) == 0; }, 20))
        << unreadKeys(session) << " keys not read";
    typeOnTerminal(session, "\x03");
    EXPECT_TRUE(waitForConsoleText(session, kCmdPrompt, from + 1));
    // wine's cmd.exe drops the line typed after the Ctrl-C, whatever it is.
    typeOnTerminal(session, "rem\r");
    EXPECT_TRUE(waitForConsoleText(session, "rem" + kCmdPrompt, from));
    typeOnTerminal(session, "echo status%ERRORLEVEL%.\r");
    // STATUS_CONTROL_C_EXIT, as cmd.exe shows it
    EXPECT_TRUE(waitForConsoleText(session, "status-1073741510.", from))
        << consoleText(session.screen);
    const std::string shown = consoleText(session.screen).substr(from);
    EXPECT_EQ(shown.find("COMPLIANTRESULTS"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("half"), std::string::npos) << shown;
    EXPECT_TRUE(commandIsShownAsTyped(session)) << consoleText(session.screen);
    removeInstallation(16);
    typeOnTerminal(session, "exit\r");
    EXPECT_EQ(waitForExit(session), 0) << consoleText(session.screen);
    closeTerminal(session);
}

} // namespace
