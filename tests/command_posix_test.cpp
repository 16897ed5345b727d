#include "system/command.h"
#include "system/internal.h"

#include "compliance/role_query.h"
#include "support/decode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(RunCommand, CapturesStandardOutputWhole) {
    EXPECT_EQ(runCommand("true"), "");
    EXPECT_EQ(runCommand("printf 'one\\ntwo\\n\\nfour\\n'"), "one\ntwo\n\nfour\n");
    EXPECT_EQ(runCommand("printf 'no end'"), "no end");
}

TEST(RunCommand, LongLinesArriveWholeAndInOrder) {
    std::string expected;
    for (int i = 0; i < 300; ++i)
        expected.push_back(static_cast<char>('a' + i % 26));
    expected += "\n";
    EXPECT_EQ(runCommand("printf '%s\\n' " + expected.substr(0, 300)), expected);
    // Far beyond any buffer: 200000 bytes across many lines.
    EXPECT_EQ(runCommand("head -c 200000 /dev/zero | tr '\\0' 'x'").size(), 200000u);
    // A command that floods its pipe is read to its end, and only the first 16 MiB kept.
    std::string output;
    EXPECT_EQ(runCommandWithin("head -c 20000000 /dev/zero | tr '\\0' 'x'; echo done", 20, output),
              CommandEnd::Finished);
    EXPECT_EQ(output.size(), kCommandOutputLimit);
}

TEST(RunCommand, ZeroByteCutsItsChunkShort) {
    EXPECT_EQ(runCommand("printf 'ab\\000cd\\nef\\n'"), "abef\n");
}

TEST(RunCommand, StandardErrorIsCollectedOnlyWhenAsked) {
    EXPECT_EQ(runCommand("echo complaint >&2"), "");
    EXPECT_EQ(runCommand("no-such-command-rolegate 2>/dev/null"), "");
    // Both pipes are read at once: a command that fills its standard error before it
    // writes its output is not held until the deadline.
    std::string output, errors;
    EXPECT_EQ(runCommandWithin("echo one >&2; head -c 300000 /dev/zero | tr '\\0' e >&2; echo out",
                               20, output, "", &errors),
              CommandEnd::Finished);
    EXPECT_EQ(output, "out\n");
    EXPECT_EQ(errors.size(), kCommandErrorsLimit);
    EXPECT_EQ(errors.compare(0, 5, "one\ne"), 0);
}

TEST(RunCommand, ExitStatusIsIgnored) {
    EXPECT_EQ(runCommand("echo partial; exit 3"), "partial\n");
}

// A command that finished while this process was stopped (Ctrl-Z, then fg after the
// deadline) counts as finished, with its output. The deadline leaves a loaded machine
// ample time to start the shell that stops the process.
TEST(RunCommand, FinishedWhileStoppedPastTheDeadlineCounts) {
    const int deadlineSeconds = 5;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string output;
        const std::string stopMe = "printf done; kill -STOP " + std::to_string(getpid());
        const CommandEnd result = runCommandWithin(stopMe, deadlineSeconds, output);
        _exit(result == CommandEnd::Finished && output == "done" ? 0
                                                                 : 10 + static_cast<int>(result));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status));
    // Its deadline began before it stopped: held stopped this long, it has passed.
    std::this_thread::sleep_for(std::chrono::seconds(deadlineSeconds) +
                                std::chrono::milliseconds(500));
    kill(child, SIGCONT);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(SetInheritedVariable, CommandsSeeTheValue) {
    ASSERT_EQ(setInheritedVariable("ROLEGATE_TEST_VALUE", "a b'c\"$x"), 0);
    EXPECT_EQ(runCommand("printf '%s' \"$ROLEGATE_TEST_VALUE\""), "a b'c\"$x");
    ASSERT_EQ(clearInheritedVariable("ROLEGATE_TEST_VALUE"), 0);
    EXPECT_EQ(runCommand("printf '%s' \"${ROLEGATE_TEST_VALUE-unset}\""), "unset");

    // The longest value a new program can be handed arrives whole; a longer one is
    // refused here, not left to make the command fail to start.
    const std::string longest(32 * 4096 - sizeof "PGPASSWORD=", 'p');
    ASSERT_EQ(setInheritedVariable("PGPASSWORD", longest), 0);
    EXPECT_EQ(runCommand("printf '%s' \"$PGPASSWORD\""), longest);
    EXPECT_EQ(setInheritedVariable("PGPASSWORD", longest + "p"), 1);
    clearInheritedVariable("PGPASSWORD");
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
        const DumpedCall call = parseArgvDump(runCommand(shRoleCommand({path, value})));
        EXPECT_EQ(call.args, intendedPsqlArgs(value)) << value;
    }
    EXPECT_NE(system("test -e /tmp/rolegate-pwned"), 0);
}

TEST(RoleQueryCommand, ShellRunsAPsqlPathWithSpacesAndQuotes) {
    char pattern[] = "/tmp/rolegate-path-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = std::filesystem::path(pattern) / "it's a \"dir\" & $HOME";
    const std::filesystem::path path = dir / "psql copy";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(ARGV_DUMP_PATH, path);
    const DumpedCall call = parseArgvDump(runCommand(shRoleCommand({path.string(), "r"})));
    std::filesystem::remove_all(pattern);
    EXPECT_EQ(call.args, intendedPsqlArgs("r"));
}

} // namespace
