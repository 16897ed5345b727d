// Input and surroundings a careful installer would not produce, with the built tool.
#include "support/cluster.h"
#include "support/process.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kPasswordLine = kConnectingPassword + "\n";

TEST(SilentServer, ConnectionTimeoutEndsTheCheck) {
    // Accepts connections into its backlog and never says a word, like a server that
    // hangs or a firewall that swallows packets.
    std::string port;
    const int listener = bindLoopbackPort(port);
    ASSERT_EQ(listen(listener, 8), 0);

    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result = runRolegate(
        {"-h", "127.0.0.1", "-p", port, "-u", kConnectingUser, "-m", "rg_super"}, kPasswordLine);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    EXPECT_FALSE(result.timedOut);
    EXPECT_GE(seconds, 8);
    EXPECT_LE(seconds, 20);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, report(kMainError + psqlFailed(port) + "timeout expired\n"));

    // The caller's own timeout of 2 s ends the whole run well within one role's 10 s: the
    // internal user's check is not tried once the main user's found no answer.
    const auto shortStarted = std::chrono::steady_clock::now();
    const ProcessResult shorter = runRolegate(
        {"-h", "127.0.0.1", "-p", port, "-u", kConnectingUser, "-m", "rg_super", "-i", "rg_login"},
        kPasswordLine, {{"PGCONNECT_TIMEOUT", "2"}});
    const auto shortTook = std::chrono::steady_clock::now() - shortStarted;
    close(listener);
    EXPECT_LT(shortTook, std::chrono::seconds(12));
    EXPECT_EQ(shorter.output,
              report(kMainError + psqlFailed(port) + "timeout expired\n", kInternalNotTried));
}

// The login goes through, the query is never answered: the main user's psql is stopped
// at the deadline, the internal user's check is not tried, and the run ends as usual.
// The caller's connection timeout of 11 s makes the deadline twice that, 22 s, not 20;
// a loaded machine may add seconds, but not the 22 of a second check's deadline.
TEST(SilentServer, UnansweredQueryIsStoppedAtTheDeadline) {
    StallingProxy proxy = startStallingProxy();
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result = runRolegate({"-h", "127.0.0.1", "-p", proxy.port, "-u",
                                              kConnectingUser, "-m", "rg_super", "-i", "rg_login"},
                                             kPasswordLine, {{"PGCONNECT_TIMEOUT", "11"}});
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    stopStallingProxy(proxy);
    EXPECT_FALSE(result.timedOut);
    EXPECT_GE(seconds, 22);
    EXPECT_LE(seconds, 40);
    const std::string stopped = "psql did not finish within 22 seconds and was stopped\n";
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, std::string(kPasswordPrompt) + kResultsHeading + kMainError + stopped +
                                 kInternalHeading + kInternalNotTried);
    // The psql process is gone, not left waiting behind the tool.
    EXPECT_EQ(*proxy.clientsGone, 1);
}

// The processes named as the tool is, `pid` and its children (the watcher), highest
// pid first, as `killall rolegate` finds them.
std::vector<int> processesNamedRolegate(int pid) {
    std::vector<int> found = {pid};
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    for (int child; children >> child;) {
        std::string name;
        std::ifstream("/proc/" + std::to_string(child) + "/comm") >> name;
        if (name == "rolegate")
            found.insert(found.begin(), child);
    }
    return found;
}

// psql runs in a process group of its own, which a Ctrl-C at the terminal does not
// reach: the tool must end it before it ends itself. Killed outright, it cannot, and
// psql (with the password in its environment) must still not outlive it, nor outlive a
// kill of every process named rolegate, the watcher included.
TEST(SilentServer, EndingTheToolWhileTheQueryWaitsEndsPsqlToo) {
    struct Ending {
        const char* keys; // typed on the terminal, or empty to send `signal` directly
        int signal;
        bool byName; // sent to every process named rolegate
    };
    for (const Ending& ending : {Ending{"\x03", SIGINT, false}, Ending{"", SIGKILL, false},
                                 Ending{"", SIGKILL, true}, Ending{"", SIGTERM, true}}) {
        StallingProxy proxy = startStallingProxy();
        TerminalSession session =
            startOnTerminal({ROLEGATE_BINARY, "-h", "127.0.0.1", "-p", proxy.port, "-u",
                             kConnectingUser, "-m", "rg_super"});
        ASSERT_TRUE(waitForScreen(session, "Please enter database password:")) << session.screen;
        typeOnTerminal(session, kPasswordLine);
        ASSERT_TRUE(waitForScreen(session, "Validating main user...")) << session.screen;
        // psql has logged in and sent its query once the proxy has swallowed it.
        ASSERT_TRUE(waitForScreen(
            session, [&proxy](const std::string&) { return *proxy.queriesSwallowed >= 1; }, 20))
            << session.screen;
        // The server shows whose session it is.
        const ProcessResult sessions =
            runProcess({"psql", "-X", "-A", "-t", "-h", "127.0.0.1", "-p", testCluster().port, "-U",
                        "postgres", "-d", "postgres", "-c",
                        "select distinct application_name from pg_stat_activity where usename = '" +
                            kConnectingUser + "'"},
                       "", {{"PGPASSWORD", testCluster().superuserPassword}});
        EXPECT_EQ(sessions.output, "rolegate\n") << sessions.errors;
        const std::vector<int> named = processesNamedRolegate(session.pid);
        if (*ending.keys)
            typeOnTerminal(session, ending.keys);
        else if (!ending.byName)
            kill(session.pid, ending.signal);
        else
            for (int pid : named)
                kill(pid, ending.signal);
        const int status = waitForExit(session, 10);
        stopStallingProxy(proxy); // waits for psql's connection to end
        closeTerminal(session);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == ending.signal)
            << strsignal(ending.signal) << session.screen;
        EXPECT_EQ(*proxy.clientsGone, 1) << strsignal(ending.signal) << " " << ending.byName;
        if (ending.byName) {
            EXPECT_EQ(named.size(), 2u);
        }
    }
}

TEST(BrokenOutput, ReaderGoneEndsTheRunQuietly) {
    // head takes the first line and leaves; the tool must neither crash nor wait.
    const ProcessResult result =
        runRolegateInShell("{ \"$0\" \"$@\"; echo \"status $?\" >&2; } | head -1",
                           checkArgs("rg_super", "rg_login"), kPasswordLine);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.output, kPasswordPrompt);
    // Ended by SIGPIPE (128 + 13) when it wrote again, or finished first.
    EXPECT_TRUE(result.errors.find("status 141") != std::string::npos ||
                result.errors.find("status 0") != std::string::npos)
        << result.errors;
}

// A report that never reached its reader is not a run whose report can be read.
TEST(BrokenOutput, ClosedOrFullStandardOutputEndsWithStatus1) {
    for (const std::string redirect : {">&-", ">/dev/full"}) {
        const ProcessResult result = runRolegateInShell("exec \"$0\" \"$@\" " + redirect,
                                                        checkArgs("rg_super"), kPasswordLine);
        EXPECT_FALSE(result.timedOut) << redirect;
        EXPECT_EQ(result.exitCode, 1) << redirect;
        EXPECT_EQ(result.errors, "ERROR: Could not write the report to standard output\n")
            << redirect;
    }
}

TEST(UnreadableBytes, InvalidUtf8EndsThroughTheGate) {
    const std::string bad = "\xC3\x28\xFF";
    // A good connection, a role name the server cannot even read.
    const ProcessResult role = runRolegate(checkArgs(bad), kPasswordLine);
    EXPECT_EQ(role.exitCode, 0);
    EXPECT_EQ(role.output,
              report(std::string(kMainError) + "\n" +
                     "ERROR:  invalid byte sequence for encoding \"UTF8\": 0xc3 0x28\n"));
    EXPECT_EQ(role.errors, "");

    // Nothing readable at all.
    const ProcessResult all =
        runRolegate({"-h", bad, "-p", bad, "-u", bad, "-m", bad, "-i", bad}, bad + "\n");
    EXPECT_EQ(all.exitCode, 0);
    const std::string said =
        "\npsql: error: invalid integer value \"" + bad + "\" for connection option \"port\"\n";
    EXPECT_EQ(all.output, report(kMainError + said, kInternalNotTried));
}

} // namespace
