// Finding psql when it is not on the search path, with the built tool.
#include "support/cluster.h"
#include "support/process.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

const std::string kPathPrompt =
    "WARNING: Could not navigate psql executable file. Please enter your psql executable "
    "file:\n[example: /usr/lib/postgresql/16/bin/psql]\n";

std::string missLines(int from, int downTo) {
    std::string lines;
    for (int version = from; version >= downTo; --version)
        lines += "Unable to retrieve psql executable path from the PostgreSQL " +
                 std::to_string(version) + " installation directories\n";
    return lines;
}

// The lines for the installations probed in vain before the one of `found`: 16 down to
// the one above it, or all five of 16 to 12 when it is newer than 16.
std::string missLinesBefore(int found) {
    return missLines(16, found > 16 ? 12 : found + 1);
}

std::string okReport() {
    return std::string(kPasswordPrompt) + kResultsHeading + kMainOk;
}

// Runs the tool in `cwd` with psql neither on the search path nor in any installation
// directory: a private mount namespace lays an empty file system over them.
ProcessResult runWithoutPsql(const std::string& input, const std::string& cwd = "/",
                             const std::vector<std::string>& more = {}) {
    std::vector<std::string> argv = {
        "/usr/bin/unshare",
        "-m",
        "/bin/sh",
        "-c",
        "mount -t tmpfs none /usr/lib/postgresql && cd \"$1\" && shift && "
        "PATH=/nonexistent exec \"$0\" \"$@\"",
        ROLEGATE_BINARY,
        cwd};
    for (const std::string& arg : checkArgs("rg_super"))
        argv.push_back(arg);
    argv.insert(argv.end(), more.begin(), more.end());
    return runProcess(argv, input);
}

class PsqlNowhere : public ::testing::Test {
  protected:
    void SetUp() override {
        if (newestInstalledPsqlVersion() == 0)
            GTEST_SKIP() << "no psql under /usr/lib/postgresql to copy (postgresql-client)";
        if (runProcess({"/usr/bin/unshare", "-m", "true"}, "").exitCode != 0)
            GTEST_SKIP() << "unshare -m is refused here (it needs root and a container that "
                            "allows mount namespaces): psql cannot be hidden from the tool";
        char pattern[] = "/tmp/rolegate-psql-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ + "/my tools");
        fs::copy_file("/usr/lib/postgresql/" + std::to_string(newestInstalledPsqlVersion()) +
                          "/bin/psql",
                      dir_ + "/my tools/psql");
    }
    void TearDown() override {
        if (!dir_.empty())
            fs::remove_all(dir_);
    }
    std::string dir_;
};

TEST(PsqlDiscovery, InstalledPsqlIsFoundOffTheSearchPath) {
    const int newest = newestInstalledPsqlVersion();
    if (newest == 0)
        GTEST_SKIP() << "no psql under /usr/lib/postgresql (postgresql-client)";
    const ProcessResult result =
        runRolegate(checkArgs("rg_super"), kConnectingPassword + "\n", {{"PATH", "/nonexistent"}});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, missLinesBefore(newest) + okReport());
}

// The file found on the search path is the file run, byte for byte: a line feed in its
// folder stays there (never /a<LF>b/psql run as /ab/psql), and a relative folder
// beginning with - is a folder, not an option of the shell's exec.
TEST(PsqlDiscovery, FileFoundOnTheSearchPathIsTheFileRun) {
    const std::string dir = psqlInFront("");
    const std::string other = dir + "/ab", lineFeed = dir + "/a\nb", dash = dir + "/-x";
    for (const std::string& folder : {other, lineFeed, dash})
        fs::create_directories(folder);
    fs::copy_file(dir + "/psql", lineFeed + "/psql");
    fs::copy_file(dir + "/psql", dash + "/psql");
    std::ofstream(other + "/psql") << "#!/bin/sh\necho another file ran\n";
    fs::permissions(other + "/psql", fs::perms::owner_all);
    const std::string path = std::getenv("PATH");
    const ProcessResult withLineFeed = runRolegate(
        checkArgs("rg_super"), kConnectingPassword + "\n", {{"PATH", lineFeed + ":" + path}});
    std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$1\" && shift && exec \"$0\" \"$@\"",
                                     ROLEGATE_BINARY, dir};
    for (const std::string& arg : checkArgs("rg_super"))
        argv.push_back(arg);
    const ProcessResult withDash =
        runProcess(argv, kConnectingPassword + "\n", {{"PATH", "-x:" + path}});
    fs::remove_all(dir);
    EXPECT_EQ(withLineFeed.output, okReport()) << withLineFeed.errors;
    EXPECT_EQ(withDash.output, okReport()) << withDash.errors;
}

TEST_F(PsqlNowhere, TypedPathIsUsed) {
    // Lines from a file written on Windows: the carriage returns are no part of them.
    const ProcessResult result =
        runWithoutPsql(dir_ + "/my tools/psql\r\n" + kConnectingPassword + "\r\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, missLines(16, 12) + kPathPrompt + okReport()) << result.errors;
    // A bare name runs the file found here, which the shell would not look for.
    const ProcessResult bare =
        runWithoutPsql("psql\n" + kConnectingPassword + "\n", dir_ + "/my tools");
    EXPECT_EQ(bare.output, missLines(16, 12) + kPathPrompt + okReport()) << bare.errors;
}

TEST_F(PsqlNowhere, EndOfInputKeepsTheBareName) {
    const ProcessResult result = runWithoutPsql("");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(linesThenMessage(result.output,
                                 missLines(16, 12) + kPathPrompt + kPasswordPrompt +
                                     kResultsHeading + kMainError + "\n",
                                 "psql: not found"))
        << result.output;
}

TEST_F(PsqlNowhere, AnswerNamingNoFileIsNeverRun) {
    // A password piped in, meant for the next prompt, or an empty line: plain psql is
    // tried instead, and the answer shows nowhere.
    for (const std::string answer : {"S3cret!pw", "", "/", "psql"}) {
        const ProcessResult result = runWithoutPsql(answer + "\n");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(linesThenMessage(
            result.output,
            missLines(16, 12) + kPathPrompt +
                "WARNING: The path typed names no psql file; trying psql by name instead.\n" +
                kPasswordPrompt + kResultsHeading + kMainError + "\n",
            "psql: not found"))
            << answer << result.output;
        EXPECT_EQ((result.output + result.errors).find("S3cret"), std::string::npos)
            << result.output << result.errors;
    }
}

TEST_F(PsqlNowhere, TypedPathThatCannotRunEndsThroughTheGate) {
    fs::permissions(dir_ + "/my tools/psql", fs::perms::owner_read | fs::perms::owner_write);
    const ProcessResult result =
        runWithoutPsql(dir_ + "/my tools/psql\n" + kConnectingPassword + "\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(linesThenMessage(result.output,
                                 missLines(16, 12) + kPathPrompt + kPasswordPrompt +
                                     kResultsHeading + kMainError + "\n",
                                 "Permission denied"))
        << result.output;
}

// psql named on the command line: no search, no path prompt; a name that cannot run
// ends the run before the password is read.
TEST_F(PsqlNowhere, PsqlNamedOnTheCommandLineIsRun) {
    const ProcessResult named =
        runWithoutPsql(kConnectingPassword + "\n", "/", {"--psql", dir_ + "/my tools/psql"});
    EXPECT_EQ(named.exitCode, 0);
    EXPECT_EQ(named.output, okReport()) << named.errors;
    const ProcessResult nothing =
        runWithoutPsql("S3cret\n", "/", {"--psql", dir_ + "/my tools/psql.none"});
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_EQ(nothing.output, "ERROR: The psql named by --psql is no file that can be run: " +
                                  dir_ + "/my tools/psql.none\n");
}

} // namespace
