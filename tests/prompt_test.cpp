// The password prompt on a real pseudo-terminal, as a person at a terminal sees it.
#include "support/cluster.h"
#include "support/process.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

TerminalSession startAtPrompt(const std::string& role, const EnvironmentChanges& environment = {}) {
    std::vector<std::string> argv = {ROLEGATE_BINARY};
    for (const std::string& arg : checkArgs(role))
        argv.push_back(arg);
    TerminalSession session = startOnTerminal(argv, environment);
    EXPECT_TRUE(waitForScreen(session, "Please enter database password:")) << session.screen;
    return session;
}

TEST(PasswordPrompt, TypedPasswordIsNotShownAndEchoReturns) {
    TerminalSession session = startAtPrompt("rg_super");
    ASSERT_TRUE(terminalEchoes(session) == false);
    typeOnTerminal(session, kConnectingPassword + "\r");
    const int status = waitForExit(session);
    ASSERT_TRUE(WIFEXITED(status)) << session.screen;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(terminalEchoes(session));
    EXPECT_EQ(session.screen.find("p@ss"), std::string::npos) << session.screen;
    EXPECT_NE(session.screen.find("Main PostgreSQL user: OK"), std::string::npos) << session.screen;
    closeTerminal(session);
}

// Nothing psql runs may ask on the terminal, as OpenSSL does for the pass phrase of an
// encrypted client key: a background job could never read the answer, and what was
// typed would be left for the shell to run. A psql in front of the real one tells
// whether it could open the terminal or finds it on its standard input.
TEST(PasswordPrompt, PsqlCannotOpenTheTerminal) {
    const std::string dir = psqlInFront("if (exec 3</dev/tty) 2>/dev/null || [ -t 0 ]; then "
                                        "echo 'terminal: reached' >&2; else echo "
                                        "'terminal: none' >&2; fi\n");
    TerminalSession session =
        startAtPrompt("rg_super", {{"PATH", dir + ":" + std::getenv("PATH")}});
    typeOnTerminal(session, kConnectingPassword + "\r");
    const int status = waitForExit(session);
    closeTerminal(session);
    std::filesystem::remove_all(dir);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << session.screen;
    EXPECT_NE(session.screen.find("terminal: none"), std::string::npos) << session.screen;
    EXPECT_EQ(session.screen.find("terminal: reached"), std::string::npos) << session.screen;
    EXPECT_NE(session.screen.find("Main PostgreSQL user: OK"), std::string::npos) << session.screen;
}

TEST(PasswordPrompt, EndOfInputRestoresEcho) {
    TerminalSession session = startAtPrompt("rg_super");
    typeOnTerminal(session, "\x04"); // Ctrl-D on an empty line
    const int status = waitForExit(session);
    ASSERT_TRUE(WIFEXITED(status)) << session.screen;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(terminalEchoes(session));
    EXPECT_NE(session.screen.find("ERROR: Could not execute main user compliant check"),
              std::string::npos)
        << session.screen;
    closeTerminal(session);
}

TEST(PasswordPrompt, SignalsWhileWaitingRestoreEchoAndStillEndTheRun) {
    struct Interruption {
        const char* keys; // typed on the terminal, or empty to send `signal` directly
        int signal;
    };
    std::vector<Interruption> interruptions = {{"\x03", SIGINT}, {"\x1c", SIGQUIT}, {"", SIGTERM},
                                               {"", SIGHUP},     {"", SIGPIPE},     {"", SIGUSR1},
                                               {"", SIGALRM},    {"", SIGSYS}};
#ifdef SIGPWR
    interruptions.push_back({"", SIGPWR});
#endif
#ifdef SIGRTMIN
    interruptions.push_back({"", SIGRTMIN + 1});
#endif
    for (const Interruption& interruption : interruptions) {
        TerminalSession session = startAtPrompt("rg_super");
        ASSERT_FALSE(terminalEchoes(session));
        typeOnTerminal(session, "half-typed");
        if (*interruption.keys)
            typeOnTerminal(session, interruption.keys);
        else
            kill(session.pid, interruption.signal);
        const int status = waitForExit(session);
        ASSERT_TRUE(WIFSIGNALED(status)) << strsignal(interruption.signal) << session.screen;
        EXPECT_EQ(WTERMSIG(status), interruption.signal);
        EXPECT_TRUE(terminalEchoes(session)) << strsignal(interruption.signal);
        EXPECT_EQ(session.screen.find("half-typed"), std::string::npos);
        // Nothing of the half-typed password is left for whoever reads the terminal next.
        typeOnTerminal(session, "\n");
        pollfd ready = {session.slave, POLLIN, 0};
        char left[64];
        ASSERT_EQ(poll(&ready, 1, 5000), 1) << strsignal(interruption.signal);
        const ssize_t got = read(session.slave, left, sizeof left);
        EXPECT_EQ(std::string(left, got > 0 ? static_cast<size_t>(got) : 0), "\n")
            << strsignal(interruption.signal);
        closeTerminal(session);
    }
}

// The one process whose parent is `parent`, or -1.
int childOf(int parent, int timeoutSeconds = 10) {
    const std::string list =
        "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    for (int tries = 0; tries < timeoutSeconds * 50; ++tries) {
        int child = -1;
        if (std::ifstream(list) >> child)
            return child;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

bool waitUntilStopped(int pid) {
    for (int tries = 0; tries < 500; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidField, name, state;
        stat >> pidField >> name >> state;
        if (state == "T")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string rolegateCommandLine(const std::string& role) {
    std::string line = ROLEGATE_BINARY;
    for (const std::string& arg : checkArgs(role))
        line += " '" + arg + "'";
    return line;
}

// What a user does: Ctrl-Z at the prompt of an interactive shell, then fg, then the
// password. It must not be shown, though the shell put echo back on meanwhile.
TEST(PasswordPrompt, CtrlZAndFgKeepThePasswordHidden) {
    TerminalSession session = startOnTerminal(
        {"/bin/bash", "--norc", "--noprofile", "--noediting", "-i"}, {{"PS1", "shell> "}});
    ASSERT_TRUE(waitForScreen(session, "shell> ")) << session.screen;
    typeOnTerminal(session, rolegateCommandLine("rg_super") + "\r");
    ASSERT_TRUE(waitForScreen(session, "Please enter database password:")) << session.screen;
    typeOnTerminal(session, "\x1a");
    ASSERT_TRUE(waitForScreen(session, "Stopped")) << session.screen;
    typeOnTerminal(session, "fg\r");
    ASSERT_TRUE(waitForEcho(session, false)) << session.screen;
    typeOnTerminal(session, kConnectingPassword + "\r");
    EXPECT_TRUE(waitForScreen(session, "Main PostgreSQL user: OK")) << session.screen;
    EXPECT_TRUE(waitForEcho(session, true));
    typeOnTerminal(session, "exit\r");
    waitForExit(session);
    EXPECT_EQ(session.screen.find("p@ss"), std::string::npos) << session.screen;
    closeTerminal(session);
}

// Started in the background from a shell whose line editor has the terminal in its
// own mode: the prompt must wait to be brought to the foreground and take the
// terminal's settings only then, or Enter would never end the line.
TEST(PasswordPrompt, StartedInTheBackgroundWaitsForFg) {
    TerminalSession session =
        startOnTerminal({"/bin/bash", "--norc", "--noprofile", "-i", "-b"}, {{"PS1", "shell> "}});
    ASSERT_TRUE(waitForScreen(session, "shell> ")) << session.screen;
    typeOnTerminal(session, rolegateCommandLine("rg_super") + " &\r");
    // -b: the shell says at once that the job has stopped, waiting for the terminal.
    ASSERT_TRUE(waitForScreen(session, "Stopped")) << session.screen;
    typeOnTerminal(session, "fg\r");
    ASSERT_TRUE(waitForScreen(session, "Please enter database password:")) << session.screen;
    EXPECT_FALSE(terminalEchoes(session));
    typeOnTerminal(session, kConnectingPassword + "\r");
    EXPECT_TRUE(waitForScreen(session, "Main PostgreSQL user: OK", 15)) << session.screen;
    typeOnTerminal(session, "exit\r");
    waitForExit(session);
    EXPECT_EQ(session.screen.find("p@ss"), std::string::npos) << session.screen;
    closeTerminal(session);
}

// The same by signals sent with kill, with a job-control shell that leaves the terminal
// alone and reads nothing from it: echo is on while the job is stopped and nothing
// typed before the stop is left for whoever reads the terminal then; once continued,
// echo is off again and the prompt shown again, and what is typed then is the password.
// With --format json the prompt shown again goes where the first went, never into the
// document on standard output.
TEST(PasswordPrompt, StoppedJobGivesEchoBackAndTakesItAgain) {
    for (const auto& [stop, json] :
         {std::pair{SIGTSTP, false}, std::pair{SIGTTIN, false}, std::pair{SIGTSTP, true}}) {
        char pattern[] = "/tmp/rolegate-stop-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        const std::string fifo = std::string(pattern) + "/go";
        const std::string document = std::string(pattern) + "/report.json";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::vector<std::string> argv = {"/bin/bash", "-m", "-c",
                                         "\"$0\" \"$@\"" + (json ? " > '" + document + "'" : "") +
                                             "; read go < '" + fifo +
                                             "'; fg > /dev/null; echo \"[status $?]\"",
                                         ROLEGATE_BINARY};
        for (const std::string& arg : checkArgs("rg_super"))
            argv.push_back(arg);
        if (json)
            argv.insert(argv.end(), {"--format", "json"});
        const std::string which = std::string(strsignal(stop)) + (json ? " json" : "");
        TerminalSession session = startOnTerminal(argv);
        ASSERT_TRUE(waitForScreen(session, "Please enter database password:")) << session.screen;
        const int rolegate = childOf(session.pid);
        ASSERT_GT(rolegate, 0);

        typeOnTerminal(session, "half-typed");
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // in the terminal's queue
        kill(rolegate, stop);
        ASSERT_TRUE(waitUntilStopped(rolegate)) << which;
        EXPECT_TRUE(terminalEchoes(session)) << which;
        typeOnTerminal(session, "\n");
        pollfd ready = {session.slave, POLLIN, 0};
        char left[64];
        ASSERT_EQ(poll(&ready, 1, 5000), 1) << which;
        const ssize_t got = read(session.slave, left, sizeof left);
        EXPECT_EQ(std::string(left, got > 0 ? static_cast<size_t>(got) : 0), "\n") << which;
        std::ofstream(fifo) << "go" << std::endl;
        EXPECT_TRUE(waitForEcho(session, false)) << which;
        const auto promptedTwice = [](const std::string& screen) {
            const size_t first = screen.find("Please enter database password:");
            return first != std::string::npos &&
                   screen.find("Please enter database password:", first + 1) != std::string::npos;
        };
        EXPECT_TRUE(waitForScreen(session, promptedTwice)) << which << session.screen;
        typeOnTerminal(session, kConnectingPassword + "\r");

        EXPECT_TRUE(waitForScreen(session, "[status 0]")) << which << session.screen;
        waitForExit(session);
        EXPECT_TRUE(terminalEchoes(session));
        EXPECT_NE(session.screen.find("Main PostgreSQL user: OK"), std::string::npos)
            << which << session.screen;
        EXPECT_EQ(session.screen.find(kConnectingPassword.substr(4, 6)), std::string::npos)
            << session.screen;
        if (json) {
            std::ifstream file(document);
            const std::string text((std::istreambuf_iterator<char>(file)), {});
            const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
            ASSERT_FALSE(report.is_discarded()) << text;
            EXPECT_EQ(report["ready"], true) << text;
        }
        closeTerminal(session);
        std::filesystem::remove_all(pattern);
    }
}

} // namespace
