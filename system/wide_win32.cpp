#include "system/wide_win32.h"

#include <climits>
#include <windows.h>

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
