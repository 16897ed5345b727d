#include "system/text.h"

#include "system/internal.h"

#include <climits>
#include <windows.h>

#include <shellapi.h>

namespace {

// Converts `from` by `convert`, a call of MultiByteToWideChar or WideCharToMultiByte given
// the input, its size, the output and its size: 0, or 1 leaving `to` unchanged.
template <typename To, typename From, typename Convert>
int converted(const From& from, To& to, Convert convert) {
    if (from.size() > INT_MAX)
        return 1;
    const int size = static_cast<int>(from.size());
    // The calls fail on empty input, which stays empty.
    const int length = size == 0 ? 0 : convert(from.data(), size, nullptr, 0);
    if (size > 0 && length <= 0)
        return 1;
    To text(static_cast<size_t>(length), 0);
    if (size > 0 && convert(from.data(), size, &text[0], length) != length)
        return 1;
    to.swap(text);
    return 0;
}

int codePageToWide(const std::string& from, UINT codePage, std::wstring& to) {
    return converted(from, to, [codePage](const char* in, int size, wchar_t* out, int length) {
        return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in, size, out, length);
    });
}

} // namespace

int toWide(const std::string& from, std::wstring& to) {
    return codePageToWide(from, CP_UTF8, to);
}

int toUtf8(const std::wstring& from, std::string& to) {
    return converted(from, to, [](const wchar_t* in, int size, char* out, int length) {
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, in, size, out, length, nullptr,
                                   nullptr);
    });
}

int codePageToUtf8(const std::string& from, unsigned codePage, std::string& to) {
    std::wstring wide;
    const int status = codePageToWide(from, codePage, wide) != 0 ? 1 : toUtf8(wide, to);
    wipeSecret(wide); // a password piped in passes through here
    return status;
}

CommandLine readCommandLine(int argc, char* argv[]) {
    // The narrow argv is in the ANSI code page, where a character it lacks has become a
    // look-alike (ü as u) or ?; the wide command line holds what was typed.
    CommandLine line;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; i < (wide ? count : argc); ++i) {
        Argument argument;
        argument.isText = wide && toUtf8(wide[i], argument.text) == 0;
        if (!argument.isText)
            argument.text = i < argc ? argv[i] : "";
        argument.bytes = argument.text;
        line.arguments.push_back(argument);
    }
    if (wide)
        LocalFree(wide);
    return line;
}

std::string systemOutputText(const std::string& output) {
    const UINT console = GetConsoleOutputCP();
    std::string text;
    if (codePageToUtf8(output, console != 0 ? console : GetOEMCP(), text) != 0)
        return output;
    return text;
}

std::string toLocaleText(const std::string& utf8) {
    return utf8;
}
