#pragma once

#include <csignal>
#include <vector>

// Every signal whose default action ends the process, but SIGKILL and SIGSTOP, which
// cannot be caught: sent by a user, a terminal, a supervisor or a limit, or raised by a
// fault. The password prompt puts the terminal's echo back before one of them ends the
// process, and the command runner ends the command's process group first.
const std::vector<int>& endingSignals();

// The same signals as a set.
sigset_t endingSignalSet();
