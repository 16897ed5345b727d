#include "system/password.h"

#include "system/line_input.h"

#include <csignal>
#include <iostream>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

// The terminal settings from before echo was switched off, for the signal handler.
struct termios gSavedTerminal;

const int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kRestoringSignals / sizeof kRestoringSignals[0];

extern "C" void restoreEchoAndDie(int signalNumber) {
    // Only async-signal-safe calls here: put the terminal back, then let the signal
    // end the process the way it normally would.
    tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

} // namespace

int readPassword(std::string& password) {
    const bool echoOff = tcgetattr(STDIN_FILENO, &gSavedTerminal) == 0;
    struct sigaction previous[kSignalCount];
    if (echoOff) {
        struct sigaction restoring = {};
        restoring.sa_handler = restoreEchoAndDie;
        sigemptyset(&restoring.sa_mask);
        for (int i = 0; i < kSignalCount; ++i) {
            // A signal the process was started to ignore stays ignored.
            sigaction(kRestoringSignals[i], nullptr, &previous[i]);
            if (previous[i].sa_handler != SIG_IGN)
                sigaction(kRestoringSignals[i], &restoring, nullptr);
        }

        struct termios silent = gSavedTerminal;
        silent.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &silent); // keep what was typed ahead
    }

    std::cout << "Please enter database password:" << std::endl;
    const LineRead outcome = readInputLine(password);
    if (outcome == LineRead::EndOfInput)
        password.clear();

    if (echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kRestoringSignals[i], &previous[i], nullptr);
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
