// The password prompt on a real pseudo-terminal, as a person at a terminal sees it.
#include "support/cluster.h"
#include "support/process.h"
#include "support/report.h"
#include "support/roles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

namespace {

TerminalSession startAtPrompt(const std::string& role) {
    std::vector<std::string> argv = {ROLEGATE_BINARY};
    for (const std::string& arg : checkArgs(role))
        argv.push_back(arg);
    TerminalSession session = startOnTerminal(argv);
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
    const Interruption interruptions[] = {
        {"\x03", SIGINT}, {"\x1c", SIGQUIT}, {"", SIGTERM}, {"", SIGHUP}};
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
        closeTerminal(session);
    }
}

} // namespace
