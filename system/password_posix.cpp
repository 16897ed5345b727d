#include "system/password.h"

#include "system/line_input.h"
#include "system/signals_posix.h"

#include <cerrno>
#include <csignal>
#include <iostream>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

// The terminal settings from before echo was switched off, and whether it is off now;
// the signal handlers read and change both.
struct termios gSavedTerminal;
volatile sig_atomic_t gEchoIsOff = 0;
// Whether the prompt is on the screen, so that a job continued after a stop shows it again.
volatile sig_atomic_t gPromptShown = 0;

const char kPrompt[] = "Please enter database password:\n";

const int kStoppingSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
constexpr int kStoppingCount = sizeof kStoppingSignals / sizeof kStoppingSignals[0];

// Only the foreground job may change the terminal: a job in the background leaves
// it to whoever is using it. A terminal that is not this process's controlling
// terminal has no foreground job, and is free to change.
bool inForeground() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground == -1 || foreground == getpgrp();
}

// The signals the prompt handles, blocked while a handler runs and while echo is
// being switched, so that none finds the terminal changed but not yet recorded.
sigset_t handledSignals() {
    sigset_t handled = endingSignalSet();
    for (int signalNumber : kStoppingSignals)
        sigaddset(&handled, signalNumber);
    return handled;
}

// Takes the terminal's settings as they are now and switches its echo off.
void switchEchoOff() {
    const sigset_t handled = handledSignals();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &handled, &before);
    if (tcgetattr(STDIN_FILENO, &gSavedTerminal) == 0) {
        struct termios silent = gSavedTerminal;
        silent.c_lflag &= static_cast<tcflag_t>(~ECHO);
        if (tcsetattr(STDIN_FILENO, TCSANOW, &silent) == 0) // keep what was typed ahead
            gEchoIsOff = 1;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

void putTerminalBack() {
    if (gEchoIsOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        gEchoIsOff = 0;
    }
}

// Only async-signal-safe calls in the handlers.

extern "C" void restoreEchoAndDie(int signalNumber) {
    // What was typed of the password and not yet read is dropped first: left in the
    // terminal, it would be read, and shown, by whatever takes the terminal next, the
    // shell included. Then put the terminal back and let the signal end the process
    // the way it normally would.
    if (gEchoIsOff)
        tcflush(STDIN_FILENO, TCIFLUSH);
    putTerminalBack();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

extern "C" void restoreEchoAndStop(int signalNumber) {
    // Whoever takes the terminal while this job is stopped gets it back with echo on and
    // without the half-typed password. Continued in the foreground, echo goes off again
    // and the prompt is shown again; in the background, the read stops it again.
    const int savedErrno = errno;
    if (inForeground()) {
        if (gEchoIsOff)
            tcflush(STDIN_FILENO, TCIFLUSH);
        putTerminalBack();
    }

    struct sigaction stopping = {}, handler;
    stopping.sa_handler = SIG_DFL;
    sigemptyset(&stopping.sa_mask);
    sigaction(signalNumber, &stopping, &handler);
    sigset_t thisSignal;
    sigemptyset(&thisSignal);
    sigaddset(&thisSignal, signalNumber);
    sigprocmask(SIG_UNBLOCK, &thisSignal, nullptr);
    raise(signalNumber); // stopped until SIGCONT
    sigaction(signalNumber, &handler, nullptr);

    if (inForeground() && !gEchoIsOff) {
        switchEchoOff();
        if (gPromptShown) {
            ssize_t ignored = write(STDOUT_FILENO, kPrompt, sizeof kPrompt - 1);
            (void)ignored;
        }
    }
    errno = savedErrno;
}

// Handles each of `signals` with `handler`, keeping what was there in `previous`;
// a signal the process was started to ignore stays ignored.
void handleSignals(const int* signals, int count, void (*handler)(int),
                   struct sigaction* previous) {
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART; // the interrupted read goes on
    action.sa_mask = handledSignals();
    for (int i = 0; i < count; ++i) {
        sigaction(signals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN)
            sigaction(signals[i], &action, nullptr);
    }
}

void restoreSignals(const int* signals, int count, const struct sigaction* previous) {
    for (int i = 0; i < count; ++i)
        sigaction(signals[i], &previous[i], nullptr);
}

} // namespace

int readPassword(std::string& password) {
    const bool onTerminal = isatty(STDIN_FILENO) != 0;
    const std::vector<int>& ending = endingSignals();
    const int endingCount = static_cast<int>(ending.size());
    std::vector<struct sigaction> previousEnding(ending.size());
    struct sigaction previousStopping[kStoppingCount];
    if (onTerminal) {
        handleSignals(ending.data(), endingCount, restoreEchoAndDie, previousEnding.data());
        handleSignals(kStoppingSignals, kStoppingCount, restoreEchoAndStop, previousStopping);
        // Started in the background, the job first waits to be brought to the
        // foreground, so that it takes the terminal's settings from there and not
        // from whoever uses the terminal meanwhile; the stop handler then switches
        // echo off. (Where no shell can bring it there, the read fails instead.)
        if (!inForeground())
            raise(SIGTTIN);
        if (inForeground() && !gEchoIsOff)
            switchEchoOff();
    }

    gPromptShown = 1; // before it shows: a stop may come as soon as it does
    std::cout << kPrompt << std::flush;
    const LineRead outcome = readInputLine(password);
    gPromptShown = 0;
    if (outcome == LineRead::EndOfInput)
        password.clear();

    if (onTerminal) {
        // No signal may come between putting the handlers and the terminal back:
        // one that arrives meanwhile takes its course once echo is on again.
        const sigset_t handled = handledSignals();
        sigset_t before;
        sigprocmask(SIG_BLOCK, &handled, &before);
        restoreSignals(kStoppingSignals, kStoppingCount, previousStopping);
        restoreSignals(ending.data(), endingCount, previousEnding.data());
        putTerminalBack();
        sigprocmask(SIG_SETMASK, &before, nullptr);
    }

    if (outcome == LineRead::Error) {
        std::cout << "Could not enter database password" << std::endl;
        return 1;
    }
    return 0;
}

void keepSecretsOutOfDumps() {
    const struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
#ifdef __linux__
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}
