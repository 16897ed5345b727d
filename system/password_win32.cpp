#include "system/password.h"

#include "system/line_input_win32.h"

#include <iostream>
#include <windows.h>

namespace {

// The console input mode from before echo was switched off, for the control handler.
HANDLE gInput = INVALID_HANDLE_VALUE;
DWORD gSavedMode = 0;

BOOL WINAPI restoreEchoOnBreak(DWORD) {
    // Put echo back, then let the default handler end the process as usual.
    SetConsoleMode(gInput, gSavedMode);
    return FALSE;
}

} // namespace

int readPassword(std::string& password) {
    gInput = GetStdHandle(STD_INPUT_HANDLE);
    gSavedMode = 0;
    const bool onConsole = GetConsoleMode(gInput, &gSavedMode) != 0;
    if (onConsole) {
        SetConsoleCtrlHandler(restoreEchoOnBreak, TRUE);
        SetConsoleMode(gInput, gSavedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }

    std::cout << "Please enter database password:" << std::endl;
    bool interrupted = false;
    const LineRead outcome = readInputLineOrInterrupt(password, interrupted);
    if (outcome == LineRead::EndOfInput)
        password.clear();

    if (onConsole) {
        SetConsoleMode(gInput, gSavedMode);
        SetConsoleCtrlHandler(restoreEchoOnBreak, FALSE);
    }
    if (interrupted) {
        // Ctrl-C cut the read short, while the control handler runs in a thread of its
        // own: the run ends here with echo on, as the handler would end it, and no check
        // runs with a password cut short.
        password.clear();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }

    if (outcome == LineRead::Error) {
        std::cout << "Could not enter database password" << std::endl;
        return 1;
    }
    return 0;
}

void keepSecretsOutOfDumps() {
    // Windows writes no core file of a console program unless the machine's owner set
    // up crash dumps for it; there is nothing for a program to switch off.
}
