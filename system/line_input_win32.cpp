#include "system/line_input_win32.h"

#include "system/line_input_bytes.h"
#include "system/wide_win32.h"

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

LineRead readInputLineOrInterrupt(std::string& line, bool& interrupted) {
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

LineRead readInputLine(std::string& line) {
    bool interrupted = false;
    const LineRead outcome = readInputLineOrInterrupt(line, interrupted);
    if (interrupted) {
        // The run ends here, as Ctrl-C ends any console program: nothing is run with an
        // answer cut short.
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return outcome;
}
