#include "system/command.h"

#include "system/command_run.h"
#include "system/signals_posix.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The process group of the command running now, for the signal handlers below.
volatile sig_atomic_t gRunningGroup = 0;

extern "C" void endCommandAndDie(int signalNumber) {
    // The command runs in a process group of its own, which a Ctrl-C at the terminal
    // does not reach: end it, then end this process the way the signal would have.
    if (gRunningGroup > 0)
        kill(-static_cast<pid_t>(gRunningGroup), SIGKILL);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// A pipe whose ends are neither standard stream (one of them may be closed, so that
// pipe() hands out its number) and are closed in the command.
bool openPipe(int fds[2]) {
    if (pipe(fds) != 0) {
        fds[0] = fds[1] = -1;
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        const int moved = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
        close(fds[i]);
        fds[i] = moved;
    }
    if (fds[0] >= 0 && fds[1] >= 0)
        return true;
    for (int i = 0; i < 2; ++i) {
        if (fds[i] >= 0)
            close(fds[i]);
        fds[i] = -1;
    }
    return false;
}

// The pipes of one command: its standard output, its standard error when that is
// collected (else both ends are -1), and the life pipe of the watcher below.
struct Pipes {
    int output[2] = {-1, -1};
    int errors[2] = {-1, -1};
    int life[2] = {-1, -1};
};

void closeEnd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool openPipes(Pipes& pipes, bool collectErrors) {
    if (openPipe(pipes.output) && openPipe(pipes.life) &&
        (!collectErrors || openPipe(pipes.errors)))
        return true;
    for (int* ends : {pipes.output, pipes.errors, pipes.life}) {
        closeEnd(ends[0]);
        closeEnd(ends[1]);
    }
    return false;
}

// The exit status of a watcher that could not start the shell.
constexpr int kShellNotStarted = 126;

// In the watcher: its one child, the shell, has ended, and the watcher ends with it.
extern "C" void leaveWithTheShell(int) {
    const int savedErrno = errno;
    int status;
    if (waitpid(-1, &status, WNOHANG) > 0)
        _exit(0);
    errno = savedErrno;
}

// Starts `/bin/sh -c command`, its standard input /dev/null, its standard output into
// the output pipe and its standard error into the errors pipe (or this process's
// standard error when there is none), with the signal mask `mask`, under a watcher:
// a child of this process
// that leads a session of its own (so also a process group, whose number is its pid),
// in which it starts the shell and waits for it to end. The watcher holds the read end
// of the life pipe, whose only write end this process holds: when that pipe reaches its
// end, this process has ended (however it ended, SIGKILL included), and the watcher
// ends the whole group, the shell, psql and whatever they started. Returns the
// watcher's pid, 0 when it could not be started.
pid_t startShell(const std::string& command, const Pipes& pipes, const sigset_t& mask) {
    // Everything is made ready here: between fork and exec only async-signal-safe
    // calls are made (a test program that runs commands may have threads).
    char shell[] = "/bin/sh", dashC[] = "-c";
    char* const argv[] = {shell, dashC, const_cast<char*>(command.c_str()), nullptr};
    struct sigaction reaping = {}, childSignal;
    reaping.sa_handler = leaveWithTheShell;
    reaping.sa_flags = SA_NOCLDSTOP;
    sigfillset(&reaping.sa_mask);
    sigaction(SIGCHLD, nullptr, &childSignal); // what the shell gets, ignored or not
    sigset_t onlyChild, watching = mask;
    sigemptyset(&onlyChild);
    sigaddset(&onlyChild, SIGCHLD);
    sigdelset(&watching, SIGCHLD);

    const pid_t watcher = fork();
    if (watcher != 0)
        return watcher > 0 ? watcher : 0;

    // The watcher. Nothing the command runs may ask on the terminal. psql never prompts
    // (-w), but OpenSSL asks for the pass phrase of an encrypted PGSSLKEY, on /dev/tty
    // or else on standard input: killed at the deadline or by Ctrl-C it would leave echo
    // off, and in a background job it could not read the answer, which the shell then
    // would, a pass phrase run as a command. In a session without a controlling
    // terminal, which only its leader (the watcher, which opens none) could acquire,
    // and with no input it finds nothing to read and the check fails at once. Standard
    // error, where it is not collected, is still the terminal, so psql's messages are
    // shown, `stty tostop` or not.
    sigprocmask(SIG_BLOCK, &onlyChild, nullptr);
    if (setsid() < 0)
        _exit(kShellNotStarted);
    // An ending signal that reaches the watcher ends the group too (endCommandAndDie).
    gRunningGroup = getpid();
    close(pipes.life[1]);
    close(pipes.output[0]);
    if (pipes.errors[0] >= 0)
        close(pipes.errors[0]);
    int started[2]; // reaches its end when the shell has been executed
    if (pipe(started) != 0 || fcntl(started[1], F_SETFD, FD_CLOEXEC) != 0)
        _exit(kShellNotStarted);
    sigaction(SIGCHLD, &reaping, nullptr);
    const pid_t shellPid = fork();
    if (shellPid == 0) {
        // The shell. The handlers of this process are reset by exec, and what it
        // ignores stays ignored.
        close(started[0]);
        sigaction(SIGCHLD, &childSignal, nullptr);
        const int input = open("/dev/null", O_RDONLY);
        if (input >= 0 && input != STDIN_FILENO) {
            dup2(input, STDIN_FILENO);
            close(input);
        }
        if (input >= 0 && dup2(pipes.output[1], STDOUT_FILENO) >= 0 &&
            (pipes.errors[1] < 0 || dup2(pipes.errors[1], STDERR_FILENO) >= 0)) {
            sigprocmask(SIG_SETMASK, &mask, nullptr);
            execve(shell, argv, environ);
        }
        const char failed = 1;
        ssize_t ignored = write(started[1], &failed, 1);
        (void)ignored;
        _exit(kShellNotStarted);
    }
    close(started[1]);
    // The watcher keeps its copies of the pipes' write ends until it ends, so the output
    // reaches its end only once the watcher can be reaped: no waiting for it after.
    if (shellPid < 0)
        _exit(kShellNotStarted);
    char failed;
    ssize_t n;
    while ((n = read(started[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    if (n > 0)
        _exit(kShellNotStarted);
    close(started[0]);
    // The watcher keeps none of this process's standard streams open.
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    sigprocmask(SIG_SETMASK, &watching, nullptr); // leaveWithTheShell may come now
    for (;;) {
        pollfd life = {pipes.life[0], POLLIN, 0};
        if (poll(&life, 1, -1) > 0)
            break; // nothing is ever written: this process has ended
    }
    kill(0, SIGKILL);
    _exit(kShellNotStarted);
}

// Reads the output and the errors until both reach their end or the deadline; false
// when the deadline came first. What the pipes hold once the deadline has passed is
// still read, so that a command that finished while this process could not run
// (stopped with Ctrl-Z, say) counts as finished; a command that goes on writing is
// stopped after a pipe's worth or so.
bool readUntil(const Pipes& pipes, CommandClock::time_point deadline, CommandStreams& streams) {
    constexpr int kReadsAfterDeadline = 64; // 256 KiB, more than a pipe holds
    // poll passes over a negative descriptor: a stream that has ended, or is not read.
    pollfd ends[2] = {{pipes.output[0], POLLIN, 0}, {pipes.errors[0], POLLIN, 0}};
    std::string* const kept[2] = {&streams.output, &streams.errors};
    const size_t limits[2] = {kCommandOutputLimit, kCommandErrorsLimit};
    for (int late = 0; ends[0].fd >= 0 || ends[1].fd >= 0;) {
        const int left = millisecondsUntil(deadline);
        if (left == 0 && ++late > kReadsAfterDeadline)
            return false;
        const int waited = poll(ends, 2, left);
        if (waited < 0 && errno == EINTR)
            continue;
        if (waited < 0)
            return true; // a poll error ends the capture with what arrived
        if (waited == 0) {
            if (left == 0)
                return false; // nothing more there, and the command has not ended
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (ends[i].fd < 0 || ends[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(ends[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                ends[i].fd = -1; // the end, or a read error: what arrived is all of it
            else
                keepBytes(*kept[i], buffer, static_cast<size_t>(n), limits[i]);
        }
    }
    return true;
}

// Waits for `pid` to end until the deadline; false when it is still running then.
// `status` is its exit status, or 0 when it could not be waited for.
bool reapUntil(pid_t pid, CommandClock::time_point deadline, int& status) {
    // The output ends as the command exits, so the wait is short: look again soon at
    // first, then less and less often.
    for (long pause = 20000;; pause = pause < 10000000 ? pause * 2 : pause) {
        status = 0;
        const pid_t reaped = waitpid(pid, &status, WNOHANG);
        if (reaped == pid || (reaped < 0 && errno != EINTR))
            return true;
        if (millisecondsUntil(deadline) == 0)
            return false;
        const timespec nap = {0, pause};
        nanosleep(&nap, nullptr);
    }
}

// Ends the watcher's group, the shell, psql and whatever they started, and reaps the
// watcher. SIGKILL ends a process a moment after it is sent: the command counts as
// stopped once the group is gone, at most a second later.
void stopGroup(pid_t pid) {
    // The watcher may not lead its group yet if it has only just started.
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    // Killed again each time, in case the shell started something in the meantime; a
    // process of the group that is this process's child (when this process is the one
    // orphans are given to) is reaped here, since nothing else would.
    for (int wait = 0; wait < 1000 && (kill(-pid, SIGKILL) == 0 || errno == EPERM); ++wait) {
        while (waitpid(-pid, nullptr, WNOHANG) > 0) {
        }
        const timespec nap = {0, 1000000};
        nanosleep(&nap, nullptr);
    }
}

} // namespace

CommandEnd runOnThisPlatform(const std::string& command, const std::string&,
                             CommandClock::time_point deadline, CommandStreams& streams) {
    Pipes pipes;
    if (!openPipes(pipes, streams.collectErrors))
        return CommandEnd::NotStarted;

    // No ending signal between starting the command and knowing its group.
    const std::vector<int>& endingList = endingSignals();
    const sigset_t endingSet = endingSignalSet();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &endingSet, &before);
    struct sigaction ending = {};
    std::vector<struct sigaction> previous(endingList.size());
    ending.sa_handler = endCommandAndDie;
    ending.sa_mask = endingSet;
    for (size_t i = 0; i < endingList.size(); ++i) {
        sigaction(endingList[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN)
            sigaction(endingList[i], &ending, nullptr);
    }
    const pid_t pid = startShell(command, pipes, before);
    closeEnd(pipes.output[1]);
    closeEnd(pipes.errors[1]);
    closeEnd(pipes.life[0]);
    gRunningGroup = pid;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    bool finished = true;
    int status = 0;
    if (pid != 0) {
        // The watcher ends a moment after the shell has closed the output: one that
        // closed it just before the deadline is given that moment.
        finished = readUntil(pipes, deadline, streams) &&
                   reapUntil(pid, deadline + std::chrono::milliseconds(100), status);
        if (!finished)
            stopGroup(pid);
    }
    closeEnd(pipes.output[0]);
    closeEnd(pipes.errors[0]);
    sigprocmask(SIG_BLOCK, &endingSet, nullptr);
    gRunningGroup = 0;
    for (size_t i = 0; i < endingList.size(); ++i)
        sigaction(endingList[i], &previous[i], nullptr);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    // The watcher has ended: this end may go.
    closeEnd(pipes.life[1]);

    if (pid == 0 || (finished && WIFEXITED(status) && WEXITSTATUS(status) == kShellNotStarted))
        return CommandEnd::NotStarted;
    return finished ? CommandEnd::Finished : CommandEnd::Stopped;
}

void prepareCommandEnvironment() {
    // Without PATH each shell takes a default of its own (dash's and bash's differ): the
    // system's default search path is set, and the shell then looks where
    // programOnSearchPath looks. Where it cannot be, programOnSearchPath finds nothing.
    if (std::getenv("PATH"))
        return;
    const size_t size = confstr(_CS_PATH, nullptr, 0);
    if (size == 0)
        return;
    std::string folders(size, '\0');
    confstr(_CS_PATH, &folders[0], size);
    folders.resize(size - 1);
    setInheritedVariable("PATH", folders);
}

int setInheritedVariable(const std::string& name, const std::string& value) {
    // Linux hands a new program no environment string ("name=value" and its zero)
    // longer than 32 pages, 128 KiB with the smallest pages: a longer one would let
    // setenv succeed here and the shell then fail to start.
    constexpr size_t kLongestString = 32 * 4096;
    if (name.size() + value.size() + 2 > kLongestString)
        return 1;
    return setenv(name.c_str(), value.c_str(), 1) == 0 ? 0 : 1;
}

int clearInheritedVariable(const std::string& name) {
    return unsetenv(name.c_str()) == 0 ? 0 : 1;
}

CommandInterpreter commandInterpreter() {
    return CommandInterpreter::PosixShell;
}
