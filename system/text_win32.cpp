#include "system/text.h"

#include "system/internal.h"

#include <climits>
#include <windows.h>

#include <shellapi.h>

namespace {

int multiByteToWide(const std::string& from, UINT codePage, std::wstring& to) {
    if (from.empty()) {
        to.clear();
        return 0;
    }
    if (from.size() > INT_MAX)
        return 1;
    const int size = static_cast<int>(from.size());
    const int length =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, from.data(), size, nullptr, 0);
    if (length <= 0)
        return 1;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, from.data(), size, &wide[0], length) !=
        length)
        return 1;
    to.swap(wide);
    return 0;
}

} // namespace

int toWide(const std::string& from, std::wstring& to) {
    return multiByteToWide(from, CP_UTF8, to);
}

int toUtf8(const std::wstring& from, std::string& to) {
    if (from.empty()) {
        to.clear();
        return 0;
    }
    if (from.size() > INT_MAX)
        return 1;
    const int size = static_cast<int>(from.size());
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, from.data(), size,
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return 1;
    std::string text(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, from.data(), size, &text[0], length,
                            nullptr, nullptr) != length)
        return 1;
    to.swap(text);
    return 0;
}

int codePageToUtf8(const std::string& from, unsigned codePage, std::string& to) {
    std::wstring wide;
    if (multiByteToWide(from, codePage, wide) != 0)
        return 1;
    return toUtf8(wide, to);
}

int commandLineArguments(int, char*[], std::vector<std::string>& arguments) {
    // The narrow argv holds the command line in the ANSI code page, where a character it
    // lacks has already become a look-alike (ü as u) or a question mark; the wide command
    // line holds what was typed.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return 1;
    std::vector<std::string> converted(static_cast<size_t>(count));
    int status = 0;
    for (int i = 0; i < count && status == 0; ++i)
        status = toUtf8(wide[i], converted[static_cast<size_t>(i)]);
    LocalFree(wide);
    if (status == 0)
        arguments.swap(converted);
    return status;
}

std::string argumentsForServer(int, char*[], const std::vector<std::string>& arguments,
                               std::vector<std::string>& given) {
    given = arguments; // read from the wide command line
    return "UTF8";
}

std::string systemOutputText(const std::string& output) {
    const UINT console = GetConsoleOutputCP();
    std::string text;
    if (codePageToUtf8(output, console != 0 ? console : GetOEMCP(), text) != 0)
        return output;
    return text;
}
