// Input and surroundings a careful installer would not produce, with the built tool.
#include "support/cluster.h"
#include "support/process.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
                                 kInternalHeading + kInternalNotTriedAfterDeadline);
    // The psql process is gone, not left waiting behind the tool.
    EXPECT_EQ(*proxy.clientsGone, 1);
}

// `pid` and its descendants, each with its name as killall and pkill read it.
std::vector<std::pair<int, std::string>> processTree(int pid) {
    std::string name;
    std::ifstream("/proc/" + std::to_string(pid) + "/comm") >> name;
    std::vector<std::pair<int, std::string>> tree = {{pid, name}};
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    for (int child; children >> child;)
        for (const auto& below : processTree(child))
            tree.push_back(below);
    return tree;
}

// How often `needle` stands in the readable memory of process `pid`; -1 when it cannot
// be read (another process's memory takes root, or the right to trace it).
int occurrencesInMemory(int pid, const std::string& needle) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::ifstream memory("/proc/" + std::to_string(pid) + "/mem", std::ios::binary);
    int found = 0;
    bool readAny = false;
    for (std::string line; std::getline(maps, line);) {
        unsigned long from = 0, to = 0;
        char permissions[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, permissions) != 3 ||
            permissions[0] != 'r' || line.find("[vvar]") != std::string::npos)
            continue;
        std::string bytes(to - from, '\0');
        memory.clear();
        memory.seekg(static_cast<std::streamoff>(from));
        if (!memory.read(&bytes[0], static_cast<std::streamsize>(bytes.size())))
            continue;
        readAny = true;
        for (size_t at = 0; (at = bytes.find(needle, at)) != std::string::npos; ++at)
            ++found;
    }
    return readAny ? found : -1;
}

// Whether process `pid` is gone (or a zombie), within ten seconds.
bool ends(int pid) {
    for (int tries = 0; tries < 500; ++tries) {
        std::string field, name, state;
        std::ifstream("/proc/" + std::to_string(pid) + "/stat") >> field >> name >> state;
        if (state.empty() || state == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// psql runs in a process group of its own, which a Ctrl-C at the terminal does not
// reach: the tool must end it before it ends itself. Killed outright, it cannot, and
// psql (with the password in its environment) must still not outlive it, nor outlive a
// kill of every process killall or pkill names rolegate, even behind a wrapper script
// that starts psql without exec. Meanwhile the tool and its watcher each hold the
// password once, in the environment psql inherits.
TEST(SilentServer, EndingTheToolWhileTheQueryWaitsEndsPsqlToo) {
    const std::string psql = runProcess({"/bin/sh", "-c", "command -v psql"}, "").output;
    ASSERT_FALSE(psql.empty());
    const std::string dir = psqlInFront("");
    const std::string wrapper = dir + "/wrap.sh";
    std::ofstream(wrapper) << "#!/bin/sh\necho $$ > \"${0%/*}/wrapper.pid\"\n'"
                           << psql.substr(0, psql.size() - 1) << "' \"$@\"\n";
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
    struct Ending {
        const char* keys; // typed on the terminal, or empty to send `signal` directly
        int signal;
        int byName; // 0: to the tool; 1: to every process named rolegate (killall); 2: to
                    // every process whose name holds rolegate (pkill)
    };
    for (const Ending& ending :
         {Ending{"\x03", SIGINT, 0}, Ending{"", SIGKILL, 0}, Ending{"", SIGKILL, 1},
          Ending{"", SIGKILL, 2}, Ending{"", SIGTERM, 1}}) {
        const std::string which =
            std::string(strsignal(ending.signal)) + " " + std::to_string(ending.byName);
        StallingProxy proxy = startStallingProxy();
        TerminalSession session =
            startOnTerminal({ROLEGATE_BINARY, "-h", "127.0.0.1", "-p", proxy.port, "-u",
                             kConnectingUser, "-m", "rg_super", "--psql", wrapper});
        ASSERT_TRUE(waitForScreen(session, "Please enter database password:")) << session.screen;
        typeOnTerminal(session, kPasswordLine);
        ASSERT_TRUE(waitForScreen(session, "Validating main user...")) << session.screen;
        // psql has logged in and sent its query once the proxy has swallowed it.
        ASSERT_TRUE(waitForScreen(
            session, [&proxy](const std::string&) { return *proxy.queriesSwallowed >= 1; }, 20))
            << session.screen;
        const std::vector<std::pair<int, std::string>> tree = processTree(session.pid);
        ASSERT_GE(tree.size(), 4u) << which; // the tool, its watcher, the wrapper, psql
        if (ending.signal == SIGINT) {
            // The server shows whose session it is.
            const ProcessResult sessions = runProcess(
                {"psql", "-X", "-A", "-t", "-h", "127.0.0.1", "-p", testCluster().port, "-U",
                 "postgres", "-d", "postgres", "-c",
                 "select distinct application_name from pg_stat_activity where usename = '" +
                     kConnectingUser + "'"},
                "", {{"PGPASSWORD", testCluster().superuserPassword}});
            EXPECT_EQ(sessions.output, "rolegate\n") << sessions.errors;
            EXPECT_EQ(occurrencesInMemory(tree[0].first, kConnectingPassword), 1) << "the tool";
            EXPECT_EQ(occurrencesInMemory(tree[1].first, kConnectingPassword), 1)
                << "the watcher, " << tree[1].second;
        }
        int wrapperPid = 0;
        std::ifstream(dir + "/wrapper.pid") >> wrapperPid;
        ASSERT_GT(wrapperPid, 0) << which;
        std::vector<int> named;
        for (const auto& [pid, name] : tree)
            if (ending.byName == 0   ? pid == session.pid
                : ending.byName == 1 ? name == "rolegate"
                                     : name.find("rolegate") != std::string::npos)
                named.push_back(pid);
        EXPECT_EQ(named, std::vector<int>{session.pid}) << which; // the watcher is not hit
        if (*ending.keys)
            typeOnTerminal(session, ending.keys);
        else
            for (int pid : named)
                kill(pid, ending.signal);
        const int status = waitForExit(session, 10);
        stopStallingProxy(proxy); // waits for psql's connection to end
        closeTerminal(session);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == ending.signal)
            << which << session.screen;
        EXPECT_EQ(*proxy.clientsGone, 1) << which;
        EXPECT_TRUE(ends(wrapperPid)) << which << ": the wrapper outlived the tool";
    }
    std::filesystem::remove_all(dir);
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

// A user or role name that is no text (here no UTF-8, as in the C locale) is refused
// before anything runs; a host, which may be a socket folder, is bytes and goes to psql.
TEST(UnreadableBytes, NamesThatAreNoTextAreRefused) {
    const std::string bad = "\xC3\x28\xFF";
    const std::string refused =
        "ERROR: The command line holds bytes that are no text in this system's character set\n";
    for (const EnvironmentChanges& locale :
         {EnvironmentChanges{{"LC_ALL", "C.UTF-8"}}, EnvironmentChanges{{"LC_ALL", "C"}}}) {
        for (const std::vector<std::string>& args :
             {checkArgs(bad), checkArgs("rg_super", bad),
              std::vector<std::string>{"-h", "127.0.0.1", "-p", testCluster().port, "-u", bad, "-m",
                                       "rg_super"}}) {
            const ProcessResult result = runRolegate(args, kPasswordLine, locale);
            EXPECT_EQ(result.exitCode, 1) << locale[0].second;
            EXPECT_EQ(result.output, refused) << locale[0].second;
        }
    }
    const ProcessResult host =
        runRolegate({"-h", "/nonexistent/" + bad, "-p", "1", "-u", "u", "-m", "m"}, kPasswordLine);
    EXPECT_EQ(host.exitCode, 0);
    EXPECT_NE(host.output.find(kMainError), std::string::npos) << host.output;
}

} // namespace
