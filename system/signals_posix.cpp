#include "system/signals_posix.h"

namespace {

std::vector<int> listEndingSignals() {
    std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS};
#ifdef SIGEMT
    signals.push_back(SIGEMT);
#endif
#ifdef __linux__
    // Linux ends the process for these too; elsewhere SIGIO is ignored by default, and
    // the others do not exist.
    signals.push_back(SIGIO);
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
#endif
#ifdef SIGRTMIN
    // The real-time signals the C library leaves to programs.
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber)
        signals.push_back(signalNumber);
#endif
    return signals;
}

} // namespace

const std::vector<int>& endingSignals() {
    static const std::vector<int> signals = listEndingSignals();
    return signals;
}

sigset_t endingSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : endingSignals())
        sigaddset(&set, signalNumber);
    return set;
}
