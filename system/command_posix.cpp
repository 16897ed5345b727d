#include "system/command.h"

#include "system/internal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

extern char** environ;

const CommandLanguage kCommandLanguage = CommandLanguage::Sh;

namespace {

// The exit status of a watcher that could not start the shell.
constexpr int kShellNotStarted = 126;

// A pipe closed on exec, neither end a standard stream (pipe() hands out a closed one's).
bool openPipe(int fds[2]) {
    int made[2];
    if (pipe(made) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        fds[i] = fcntl(made[i], F_DUPFD_CLOEXEC, 3);
        close(made[i]);
    }
    return fds[0] >= 0 && fds[1] >= 0;
}

void closeEnd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// A command's pipes: its output, its errors (-1 when not collected), and the life pipe,
// whose write end only this process holds, so that it ends when this process ends.
struct Pipes {
    int output[2] = {-1, -1};
    int errors[2] = {-1, -1};
    int life[2] = {-1, -1};
};

void closePipes(Pipes& pipes) {
    for (int* ends : {pipes.output, pipes.errors, pipes.life}) {
        closeEnd(ends[0]);
        closeEnd(ends[1]);
    }
}

// In the watcher: the shell has ended, and so does the watcher.
extern "C" void leaveWithTheShell(int) {
    const int savedErrno = errno;
    if (waitpid(-1, nullptr, WNOHANG) > 0)
        _exit(0);
    errno = savedErrno;
}

// In the watcher: the tool has ended or an ending signal came; the group goes.
extern "C" void endGroup(int) {
    kill(0, SIGKILL);
}

// In the watcher's child: /bin/sh -c `command`, or a failure written to `started`
// (which closes as the shell is executed).
[[noreturn]] void execShell(char* command, const Pipes& pipes, int started, const sigset_t& mask,
                            const struct sigaction& childSignal) {
    char shell[] = "/bin/sh", dashC[] = "-c";
    char* const argv[] = {shell, dashC, command, nullptr};
#ifdef __linux__
    // A SIGKILL of the watcher still takes the shell (psql, once executed) with it.
    const pid_t watcher = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != watcher)
        _exit(kShellNotStarted);
#endif
    sigaction(SIGCHLD, &childSignal, nullptr);
    const int input = open("/dev/null", O_RDONLY);
    if (input > STDIN_FILENO && dup2(input, STDIN_FILENO) >= 0)
        close(input);
    if (input >= 0 && dup2(pipes.output[1], STDOUT_FILENO) >= 0 &&
        (pipes.errors[1] < 0 || dup2(pipes.errors[1], STDERR_FILENO) >= 0)) {
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        execve(shell, argv, environ);
    }
    const char failed = 1;
    ssize_t ignored = write(started, &failed, 1);
    (void)ignored;
    _exit(kShellNotStarted);
}

// Starts the shell under a watcher, a child leading a session and group of its own (so no
// terminal for psql to ask on), which ends that group when this process ends, however it
// ends, or when an ending signal reaches it. Returns the watcher's pid, or 0.
pid_t startShell(const std::string& command, const Pipes& pipes) {
    // Between fork and exec only async-signal-safe calls: a test program may have threads.
    sigset_t mask, onlyChild, none;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    sigemptyset(&onlyChild);
    sigaddset(&onlyChild, SIGCHLD);
    sigemptyset(&none);
    struct sigaction reaping = {}, childSignal;
    reaping.sa_handler = leaveWithTheShell;
    reaping.sa_flags = SA_NOCLDSTOP;
    sigfillset(&reaping.sa_mask);
    sigaction(SIGCHLD, nullptr, &childSignal); // what the shell gets, ignored or not
    const std::vector<int>& ending = endingSignals();
    const pid_t watcher = fork();
    if (watcher != 0)
        return watcher > 0 ? watcher : 0;

    int started[2];
    if (setsid() < 0 || !openPipe(started))
        _exit(kShellNotStarted);
#ifdef __linux__
    // killall and pkill read this name: the watcher must outlive a kill of rolegate.
    prctl(PR_SET_NAME, "psql-watcher");
#endif
    sigprocmask(SIG_BLOCK, &onlyChild, nullptr);
    handleSignals(ending, endGroup, 0, none, nullptr);
    sigaction(SIGCHLD, &reaping, nullptr);
    close(pipes.life[1]);
    close(pipes.output[0]);
    if (pipes.errors[0] >= 0)
        close(pipes.errors[0]);
    const pid_t shell = fork();
    if (shell == 0)
        execShell(const_cast<char*>(command.c_str()), pipes, started[1], mask, childSignal);
    close(started[1]);
    char failed;
    ssize_t n = 0;
    while (shell > 0 && (n = read(started[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    if (shell < 0 || n > 0)
        _exit(kShellNotStarted);
    // The watcher keeps the pipes' write ends, so the output ends once it can be reaped.
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    sigprocmask(SIG_SETMASK, &mask, nullptr); // leaveWithTheShell may come now
    for (;;) {
        // Nothing is written to the life pipe: it ends when this process has ended.
        pollfd life = {pipes.life[0], POLLIN, 0};
        if (poll(&life, 1, -1) > 0)
            endGroup(0);
    }
}

// Reads both streams until they end or the deadline passes (then false). What the pipes
// hold then is still read: a command that finished while this process was stopped
// (Ctrl-Z) counts as finished, one that goes on writing stops a pipe later.
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
        if (waited == 0 && left == 0)
            return false; // nothing more there, and the command has not ended
        for (int i = 0; i < 2 && waited > 0; ++i) {
            if (ends[i].fd < 0 || ends[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(ends[i].fd, buffer, sizeof buffer);
            if (n > 0)
                keepBytes(*kept[i], buffer, static_cast<size_t>(n), limits[i]);
            else if (n == 0 || errno != EINTR)
                ends[i].fd = -1; // the end, or a read error: what arrived is all of it
        }
    }
    return true;
}

// Waits for `pid` to end until the deadline (then false); `status` is its exit status, or
// 0 when it could not be waited for.
bool reapUntil(pid_t pid, CommandClock::time_point deadline, int& status) {
    // The output ended as the command exited: look again soon, then less and less often.
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

// Ends the watcher's group (the shell, psql and what they started) and reaps the watcher,
// waiting at most a second for the group to be gone.
void stopGroup(pid_t pid) {
    // The watcher may not lead its group yet if it has only just started.
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    // Killed again in case the shell started something meanwhile; a process of the group
    // that is this process's child (when orphans go to it) is reaped here.
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
    if (!openPipe(pipes.output) || !openPipe(pipes.life) ||
        (streams.collectErrors && !openPipe(pipes.errors))) {
        closePipes(pipes);
        return CommandEnd::NotStarted;
    }
    const pid_t pid = startShell(command, pipes);
    closeEnd(pipes.output[1]);
    closeEnd(pipes.errors[1]);
    closeEnd(pipes.life[0]);
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
    closePipes(pipes); // the life pipe last: the watcher has ended
    if (pid == 0 || (finished && WIFEXITED(status) && WEXITSTATUS(status) == kShellNotStarted))
        return CommandEnd::NotStarted;
    return finished ? CommandEnd::Finished : CommandEnd::Stopped;
}

void prepareCommandEnvironment() {
    // Without PATH dash and bash each take a default of their own: the system's is set, so
    // that the shell looks where programOnSearchPath looks.
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
    // Linux hands a new program no "name=value" longer than 32 pages (128 KiB at least):
    // setenv would succeed, and the shell then fail to start.
    constexpr size_t kLongestString = 32 * 4096;
    if (name.size() + value.size() + 2 > kLongestString)
        return 1;
    return setenv(name.c_str(), value.c_str(), 1) == 0 ? 0 : 1;
}

int clearInheritedVariable(const std::string& name) {
    return unsetenv(name.c_str()) == 0 ? 0 : 1;
}
