#include "system/console.h"

#include "system/internal.h"

#include <io.h>
#include <windows.h>

namespace {

// The console input mode from before echo was switched off, for the control handler.
HANDLE gInput = INVALID_HANDLE_VALUE;
DWORD gSavedMode = 0;

BOOL WINAPI restoreEchoOnBreak(DWORD) {
    // Echo back on, then the default handler ends the process as usual.
    SetConsoleMode(gInput, gSavedMode);
    return FALSE;
}

// One line as typed at the console: the characters themselves, not their bytes in one
// code page or another.
LineRead readConsoleLine(HANDLE input, std::string& line, bool& interrupted) {
    // Room for a long line at once, and every buffer wiped: the line may be a password.
    std::wstring typed;
    typed.reserve(4096);
    wchar_t buffer[256];
    LineRead outcome = LineRead::Line;
    while (outcome == LineRead::Line && (typed.empty() || typed.back() != L'\n')) {
        DWORD got = 0;
        if (!ReadConsoleW(input, buffer, sizeof buffer / sizeof buffer[0], &got, nullptr)) {
            interrupted = GetLastError() == ERROR_OPERATION_ABORTED;
            outcome = LineRead::Error;
        } else if (got == 0) {
            // A line from the console ends in CR LF: a read of nothing was cut short by
            // Ctrl-C or Ctrl-Break.
            interrupted = true;
            outcome = LineRead::Error;
        } else {
            typed.append(buffer, got);
        }
    }
    SecureZeroMemory(buffer, sizeof buffer);
    // Ctrl-Z ends the input, as for a program reading the console through the C runtime:
    // what was typed before it is the last line.
    const size_t endOfInput = typed.find(L'\x1a');
    if (outcome == LineRead::Line && endOfInput == 0)
        outcome = LineRead::EndOfInput;
    if (endOfInput != std::wstring::npos)
        typed.erase(endOfInput);
    for (wchar_t end : {L'\n', L'\r'})
        if (!typed.empty() && typed.back() == end)
            typed.pop_back();
    std::string text;
    if (outcome == LineRead::Line && toUtf8(typed, text) != 0)
        outcome = LineRead::Error;
    wipeSecret(typed);
    if (outcome == LineRead::Line)
        line.swap(text);
    return outcome;
}

} // namespace

LineRead readLineOrInterrupt(std::string& line, bool& interrupted) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(input, &mode))
        return readConsoleLine(input, line, interrupted);
    // Piped or from a file: text in the console's input code page, or the ANSI code page
    // without a console, as the programs that wrote it would have written it.
    std::string bytes, text;
    LineRead outcome = readByteLine(bytes);
    const UINT console = GetConsoleCP();
    if (outcome == LineRead::Line &&
        codePageToUtf8(bytes, console != 0 ? console : GetACP(), text) != 0)
        outcome = LineRead::Error;
    wipeSecret(bytes); // it may be a password
    if (outcome == LineRead::Line)
        line.swap(text);
    return outcome;
}

void endInterruptedRun() {
    // Ctrl-C cut the read short while the control handler runs in a thread of its own:
    // the run ends here, as that handler would end it.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void writePrompt(int fd) {
    // Through the C runtime's descriptor, in text mode as the other lines are.
    _write(fd, kPasswordPrompt, sizeof kPasswordPrompt - 1);
}

bool hideTyping(int) {
    gInput = GetStdHandle(STD_INPUT_HANDLE);
    gSavedMode = 0;
    if (!GetConsoleMode(gInput, &gSavedMode))
        return false;
    SetConsoleCtrlHandler(restoreEchoOnBreak, TRUE);
    SetConsoleMode(gInput, gSavedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    return true;
}

void showTyping() {
    SetConsoleMode(gInput, gSavedMode);
    SetConsoleCtrlHandler(restoreEchoOnBreak, FALSE);
}

void keepSecretsOutOfDumps() {
    // Windows dumps a console program only where the machine's owner set that up.
}

void wipeSecret(std::string& secret) {
    secret.resize(secret.capacity());
    SecureZeroMemory(&secret[0], secret.size());
    secret.clear();
}

void wipeSecret(std::wstring& secret) {
    secret.resize(secret.capacity());
    SecureZeroMemory(&secret[0], secret.size() * sizeof(wchar_t));
    secret.clear();
}
