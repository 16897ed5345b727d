#define __STDC_WANT_LIB_EXT1__ 1 // memset_s on macOS
#include "system/console.h"

#include "system/internal.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

const std::vector<int> kStoppingSignals = {SIGTSTP, SIGTTIN, SIGTTOU};

// The terminal's settings from before echo went off, whether it is off, and whether and
// where the prompt shows; the signal handlers read and change them.
struct termios gSavedTerminal;
volatile sig_atomic_t gEchoIsOff = 0;
volatile sig_atomic_t gPromptShown = 0;
volatile sig_atomic_t gPromptFd = STDOUT_FILENO;
std::vector<struct sigaction> gPrevious; // the ending signals', then the stopping ones'

// Only the foreground job may change the terminal (one that is not this process's
// controlling terminal has no foreground job).
bool inForeground() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground == -1 || foreground == getpgrp();
}

// The signals the prompt handles: the ending ones, then the stopping ones.
std::vector<int> handledSignals() {
    std::vector<int> signals = endingSignals();
    signals.insert(signals.end(), kStoppingSignals.begin(), kStoppingSignals.end());
    return signals;
}

// Blocked while a handler runs and while echo is switched, so that none finds the
// terminal changed but not yet recorded.
sigset_t handledMask() {
    sigset_t handled;
    sigemptyset(&handled);
    for (int signalNumber : handledSignals())
        sigaddset(&handled, signalNumber);
    return handled;
}

void switchEchoOff() {
    const sigset_t handled = handledMask();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &handled, &before);
    if (tcgetattr(STDIN_FILENO, &gSavedTerminal) == 0) {
        struct termios silent = gSavedTerminal;
        silent.c_lflag &= static_cast<tcflag_t>(~ECHO);
        if (tcsetattr(STDIN_FILENO, TCSANOW, &silent) == 0) // keeps what was typed ahead
            gEchoIsOff = 1;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

// Drops what was typed and not yet read (whoever takes the terminal next would read and
// show it), then switches echo back on. Async-signal-safe.
void putTerminalBack() {
    if (gEchoIsOff) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        gEchoIsOff = 0;
    }
}

extern "C" void restoreEchoAndDie(int signalNumber) {
    putTerminalBack();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

extern "C" void restoreEchoAndStop(int signalNumber) {
    // Stopped, the job leaves the terminal with echo on. Continued in the foreground it
    // switches echo off and shows the prompt again; in the background its read stops it.
    const int savedErrno = errno;
    if (inForeground())
        putTerminalBack();
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
        if (gPromptShown)
            writePrompt(gPromptFd);
    }
    errno = savedErrno;
}

} // namespace

const std::vector<int>& endingSignals() {
    // Every signal but those whose default is to stop, to continue or to do nothing, and
    // those no program may handle: SIGKILL, SIGSTOP, and glibc's own two below SIGRTMIN.
    static const std::vector<int> signals = [] {
        std::vector<int> others = {SIGKILL,  SIGSTOP, SIGCONT, SIGCHLD, SIGURG,
                                   SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU};
#ifdef SIGINFO
        others.push_back(SIGINFO);
#endif
#ifndef __linux__
        others.push_back(SIGIO);
#endif
        std::vector<int> ending;
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
#ifdef SIGRTMIN
            if (signalNumber < 32 || signalNumber >= SIGRTMIN)
#endif
                if (std::find(others.begin(), others.end(), signalNumber) == others.end())
                    ending.push_back(signalNumber);
        return ending;
    }();
    return signals;
}

void handleSignals(const std::vector<int>& signals, void (*handler)(int), int flags,
                   const sigset_t& mask, struct sigaction* previous) {
    struct sigaction action = {}, before;
    action.sa_handler = handler;
    action.sa_flags = flags;
    action.sa_mask = mask;
    for (size_t i = 0; i < signals.size(); ++i) {
        struct sigaction& was = previous ? previous[i] : before;
        sigaction(signals[i], nullptr, &was);
        if (was.sa_handler != SIG_IGN)
            sigaction(signals[i], &action, nullptr);
    }
}

LineRead readLineOrInterrupt(std::string& line, bool&) {
    return readByteLine(line); // a terminal, a pipe or a file: the bytes as they come
}

void endInterruptedRun() {
    raise(SIGINT);
    std::_Exit(1);
}

void writePrompt(int fd) {
    const char* text = kPasswordPrompt;
    for (size_t left = sizeof kPasswordPrompt - 1; left > 0;) {
        const ssize_t n = write(fd, text, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

bool hideTyping(int promptFd) {
    if (!isatty(STDIN_FILENO))
        return false;
    gPromptFd = promptFd;
    const sigset_t handled = handledMask();
    const size_t ending = endingSignals().size();
    gPrevious.resize(ending + kStoppingSignals.size());
    handleSignals(endingSignals(), restoreEchoAndDie, SA_RESTART, handled, gPrevious.data());
    handleSignals(kStoppingSignals, restoreEchoAndStop, SA_RESTART, handled,
                  gPrevious.data() + ending);
    // Started in the background, the job waits to be brought to the foreground and takes
    // the terminal's settings there (where no shell can bring it, the read fails).
    if (!inForeground())
        raise(SIGTTIN);
    if (inForeground() && !gEchoIsOff)
        switchEchoOff();
    gPromptShown = 1; // before it shows: a stop may come as soon as it does
    return true;
}

void showTyping() {
    // A signal that comes meanwhile takes its course once echo is on again.
    const sigset_t handled = handledMask();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &handled, &before);
    gPromptShown = 0;
    const std::vector<int> signals = handledSignals();
    for (size_t i = 0; i < signals.size(); ++i)
        sigaction(signals[i], &gPrevious[i], nullptr);
    if (gEchoIsOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        gEchoIsOff = 0;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

void keepSecretsOutOfDumps() {
    const struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
#ifdef __linux__
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

void wipeSecret(std::string& secret) {
    secret.resize(secret.capacity());
#ifdef __APPLE__
    memset_s(&secret[0], secret.size(), 0, secret.size());
#else
    explicit_bzero(&secret[0], secret.size());
#endif
    secret.clear();
}
