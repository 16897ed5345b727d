#include "support/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void execInChild(const std::vector<std::string>& argv,
                              const EnvironmentChanges& environment) {
    signal(SIGPIPE, SIG_DFL);
    const rlimit noCore = {0, 0}; // a test that ends a child with SIGQUIT leaves no core file
    setrlimit(RLIMIT_CORE, &noCore);
    for (const auto& [name, value] : environment)
        setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void recordStatus(int status, ProcessResult& result) {
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.termSignal = WTERMSIG(status);
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Appends what is readable on `fd` within `ms`; false once it is closed.
bool readSome(int fd, std::string& into, int ms) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return true;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0)
        return n < 0 && errno == EINTR;
    into.append(buffer, static_cast<size_t>(n));
    return true;
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                         const EnvironmentChanges& environment, int timeoutSeconds) {
    signal(SIGPIPE, SIG_IGN); // a child that stops reading must not end the test
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        execInChild(argv, environment);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);

    ProcessResult result;
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && remainingMs(deadline) > 0) {
        pollfd fds[3] = {{outOpen ? out[0] : -1, POLLIN, 0},
                         {errOpen ? err[0] : -1, POLLIN, 0},
                         {inFd, POLLOUT, 0}};
        if (poll(fds, 3, remainingMs(deadline)) <= 0)
            continue;
        if (fds[0].revents)
            outOpen = readSome(out[0], result.output, 0);
        if (fds[1].revents)
            errOpen = readSome(err[0], result.errors, 0);
        if (inFd >= 0 && fds[2].revents) {
            const ssize_t n = write(inFd, input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<size_t>(n);
            if (n < 0 || written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    close(out[0]);
    close(err[0]);

    int status = 0;
    if (outOpen || errOpen) {
        result.timedOut = true;
        kill(pid, SIGKILL);
    }
    waitpid(pid, &status, 0);
    if (!result.timedOut)
        recordStatus(status, result);
    return result;
}

std::string psqlInFront(const std::string& first) {
    const ProcessResult realPsql = runProcess({"sh", "-c", "command -v psql"}, "");
    if (realPsql.exitCode != 0 || realPsql.output.empty())
        throw std::runtime_error("no psql on the search path");
    char pattern[] = "/tmp/rolegate-psql-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    const std::string folder = pattern;
    {
        std::ofstream script(folder + "/psql");
        script << "#!/bin/sh\n"
               << first << "exec '" << realPsql.output.substr(0, realPsql.output.size() - 1)
               << "' \"$@\"\n";
    }
    std::filesystem::permissions(folder + "/psql", std::filesystem::perms::owner_all);
    return folder;
}

std::string compileLocales(const std::vector<std::string>& names) {
    static std::string folder;
    if (folder.empty()) {
        char pattern[] = "/tmp/rolegate-locales-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        std::atexit([] { std::filesystem::remove_all(folder); });
    }
    for (const std::string& name : names) {
        if (access((folder + "/" + name).c_str(), F_OK) == 0)
            continue;
        const size_t dot = name.find('.');
        std::string charmap = name.substr(dot + 1);
        if (charmap == "SJIS")
            charmap = "SHIFT_JIS";
        // A warning (Shift JIS is no superset of ASCII) makes localedef exit 1.
        const ProcessResult made =
            runProcess({"localedef", "--no-warnings=ascii", "-c", "-i", name.substr(0, dot), "-f",
                        charmap, folder + "/" + name},
                       "");
        if (access((folder + "/" + name).c_str(), F_OK) != 0)
            throw std::runtime_error("localedef " + name + ": " + made.output + made.errors);
    }
    return folder;
}

TerminalSession startOnTerminal(const std::vector<std::string>& argv,
                                const EnvironmentChanges& environment, TerminalMode mode) {
    TerminalSession session;
    session.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (session.master < 0 || grantpt(session.master) != 0 || unlockpt(session.master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slaveName = ptsname(session.master);
    session.slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    if (session.slave < 0)
        throw std::runtime_error("cannot open " + slaveName);

    session.pid = fork();
    if (session.pid < 0)
        throw std::runtime_error("fork failed");
    if (session.pid == 0) {
        setsid();
        const int tty = open(slaveName.c_str(), O_RDWR); // becomes the controlling terminal
        dup2(tty, 0);
        dup2(tty, 1);
        dup2(tty, 2);
        if (tty > 2)
            close(tty);
        if (mode == TerminalMode::Raw) {
            termios settings{};
            tcgetattr(0, &settings);
            cfmakeraw(&settings);
            tcsetattr(0, TCSANOW, &settings);
        }
        close(session.master);
        close(session.slave);
        execInChild(argv, environment);
    }
    return session;
}

bool waitForScreen(TerminalSession& session, const std::string& text, int timeoutSeconds) {
    return waitForScreen(
        session,
        [&text](const std::string& screen) { return screen.find(text) != std::string::npos; },
        timeoutSeconds);
}

bool waitForScreen(TerminalSession& session,
                   const std::function<bool(const std::string& screen)>& shows,
                   int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!shows(session.screen)) {
        if (remainingMs(deadline) == 0 || !readSome(session.master, session.screen, 100))
            return shows(session.screen);
    }
    return true;
}

void typeOnTerminal(TerminalSession& session, const std::string& keys) {
    if (write(session.master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        throw std::runtime_error("cannot type on the terminal");
}

bool terminalEchoes(const TerminalSession& session) {
    termios settings{};
    if (tcgetattr(session.slave, &settings) != 0)
        throw std::runtime_error("cannot read terminal settings");
    return (settings.c_lflag & ECHO) != 0;
}

bool waitForEcho(TerminalSession& session, bool on, int timeoutSeconds) {
    return waitForScreen(
        session, [&session, on](const std::string&) { return terminalEchoes(session) == on; },
        timeoutSeconds);
}

int waitForExit(TerminalSession& session, int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    while (waitpid(session.pid, &status, WNOHANG) == 0) {
        if (remainingMs(deadline) == 0) {
            kill(session.pid, SIGKILL);
            waitpid(session.pid, &status, 0);
            return -1;
        }
        readSome(session.master, session.screen, 50);
    }
    // Whatever the process wrote just before it ended is still in the terminal.
    for (;;) {
        pollfd p = {session.master, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0 || !readSome(session.master, session.screen, 0))
            break;
    }
    return status;
}

void closeTerminal(TerminalSession& session) {
    if (session.master >= 0)
        close(session.master);
    if (session.slave >= 0)
        close(session.slave);
    session.master = session.slave = -1;
}
