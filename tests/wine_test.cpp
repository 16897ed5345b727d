// The Windows build under wine: its unit tests, and the built rolegate.exe finding
// psql through the registry, a `where` on the search path, or the user's answer. A
// stand-in psql.exe records what it is handed, since no Windows psql runs here.
#include "support/decode.h"
#include "support/process.h"
#include "support/report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

const std::string kWine = "/usr/lib/wine/wine64";
const std::string kWindowsBuild = ROLEGATE_WINDOWS_BUILD_DIR;
std::string gPrefix; // a throwaway WINEPREFIX for this run

const std::string kKey = "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-";

EnvironmentChanges wineEnvironment() {
    return {{"WINEPREFIX", gPrefix}, {"WINEDEBUG", "-all"}};
}

// Runs a Windows program under wine in `dir`.
ProcessResult runWine(const std::vector<std::string>& args, const std::string& input,
                      const std::string& dir = "/tmp") {
    std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", dir, kWine};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult result = runProcess(argv, input, wineEnvironment(), 120);
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
    }
    void TearDown() override {
        runProcess({"/usr/lib/wine/wineserver", "-k"}, "", wineEnvironment());
        fs::remove_all(gPrefix);
    }
};

const auto* const kWineEnvironment = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

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
const std::string kUser = "app@corp \"q\"";
const std::string kMainRole = "o'brien & \"co\" 100%";
const std::string kInternalRole = "int<er>nal%PATH%";
const std::string kPassword = "pa ss&w\"rd%PATH%^|<>'";

ProcessResult runRolegate(const std::string& input, const std::string& dir = "/tmp") {
    return runWine({kWindowsBuild + "/rolegate.exe", "-h", kHost, "-p", kPort, "-u", kUser, "-m",
                    kMainRole, "-i", kInternalRole},
                   input, dir);
}

// Splits the report at the internal heading and checks what each psql run received.
void expectBothCallsExact(const std::string& output) {
    const size_t internalAt = output.find(kInternalHeading);
    ASSERT_NE(internalAt, std::string::npos) << output;
    const DumpedCall main = parseArgvDump(output.substr(0, internalAt));
    const DumpedCall internal = parseArgvDump(output.substr(internalAt));
    EXPECT_EQ(main.args, intendedPsqlArgs(kMainRole, kUser, kHost, kPort));
    EXPECT_EQ(internal.args, intendedPsqlArgs(kInternalRole, kUser, kHost, kPort));
    EXPECT_EQ(main.password, kPassword);
    EXPECT_EQ(internal.password, kPassword);
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
    EXPECT_EQ(result.output, missLines(16, 12) + kPathPrompt + kPasswordPrompt + kResultsHeading +
                                 kMainError + "\n" + kInternalHeading + kInternalError + "\n");
}

TEST(WindowsLocator, PsqlOnTheSearchPathIsUsedByName) {
    // wine's own where.exe prints nothing, so a stand-in answers as Windows' would;
    // cmd.exe looks in the current directory first for both.
    const fs::path dir = fs::path(gPrefix) / "drive_c" / "work";
    fs::create_directories(dir);
    std::ofstream(dir / "where.bat") << "@echo C:\\work\\psql.exe\r\n";
    placePsql("work/psql.exe");
    const ProcessResult result = runRolegate(kPassword + "\n", dir.string());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output.rfind(std::string(kPasswordPrompt) + kResultsHeading + kMainError, 0),
              0u)
        << result.output;
    expectBothCallsExact(result.output);
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
    EXPECT_EQ(
        result.output.rfind(missLines(16, 15) + kPasswordPrompt + kResultsHeading + kMainError, 0),
        0u)
        << result.output;
    EXPECT_EQ(result.output.find("arg "), std::string::npos) << "psql ran after all";
}

} // namespace
