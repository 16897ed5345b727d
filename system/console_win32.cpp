#include "system/console.h"

#include "system/internal.h"

#include <io.h>
#include <windows.h>

namespace {

// Drops the line feed that ends `text`, and one carriage return before it.
void dropLineEnd(std::wstring& text) {
    if (!text.empty() && text.back() == L'\n')
        text.pop_back();
    if (!text.empty() && text.back() == L'\r')
        text.pop_back();
}

// One line as typed at the console: the characters themselves, not their bytes in
// one code page or another.
LineRead readConsoleLine(HANDLE input, std::string& line, bool& interrupted) {
    std::wstring typed;
    while (typed.empty() || typed.back() != L'\n') {
        wchar_t buffer[256];
        DWORD got = 0;
        if (!ReadConsoleW(input, buffer, sizeof buffer / sizeof buffer[0], &got, nullptr)) {
            if (GetLastError() == ERROR_OPERATION_ABORTED)
                interrupted = true;
            return LineRead::Error;
        }
        if (got == 0) {
            // A line from the console ends in CR LF; a read with nothing in it was cut
            // short by Ctrl-C or Ctrl-Break.
            interrupted = true;
            return LineRead::Error;
        }
        typed.append(buffer, got);
    }
    // Ctrl-Z ends the input, as it does for a program reading the console through the
    // C runtime: what was typed before it is the last line.
    const size_t endOfInput = typed.find(L'\x1a');
    if (endOfInput == 0)
        return LineRead::EndOfInput;
    if (endOfInput != std::wstring::npos)
        typed.erase(endOfInput);
    dropLineEnd(typed);
    std::string text;
    if (toUtf8(typed, text) != 0)
        return LineRead::Error;
    line.swap(text);
    return LineRead::Line;
}

} // namespace

LineRead readLineOrInterrupt(std::string& line, bool& interrupted) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(input, &mode))
        return readConsoleLine(input, line, interrupted);
    // Piped in or read from a file: text in the console's input code page, or in the
    // ANSI code page when there is no console, as the programs that wrote it would
    // have written it.
    std::string bytes;
    const LineRead outcome = readByteLine(bytes);
    if (outcome != LineRead::Line)
        return outcome;
    const UINT console = GetConsoleCP();
    std::string text;
    if (codePageToUtf8(bytes, console != 0 ? console : GetACP(), text) != 0)
        return LineRead::Error;
    line.swap(text);
    return LineRead::Line;
}

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
    // Windows writes no core file of a console program unless the machine's owner set
    // up crash dumps for it; there is nothing for a program to switch off.
}

void wipeSecret(std::string& secret) {
    secret.resize(secret.capacity());
    SecureZeroMemory(&secret[0], secret.size());
    secret.clear();
}
