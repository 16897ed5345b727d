#include "system/text.h"

#include <clocale>
#include <cstring>
#include <cwchar>
#include <langinfo.h>

namespace {

void appendUtf8(char32_t c, std::string& text) {
    if (c < 0x80) {
        text.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (c >> 6)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | (c >> 12)));
        text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xF0 | (c >> 18)));
        text.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Whether mbrtowc gives Unicode code points whatever the locale's character set (glibc
// does; macOS does not for Shift JIS, GBK and the like, where only the bytes of ASCII
// can then be taken as text).
#ifdef __STDC_ISO_10646__
constexpr bool kWideIsUnicode = true;
#else
constexpr bool kWideIsUnicode = false;
#endif

// `bytes` read in the current locale's character set, as UTF-8; false when they are
// no text in it, or no text known here.
bool localeToUtf8(const char* bytes, std::string& text) {
    std::mbstate_t state{};
    const char* at = bytes;
    const char* const end = bytes + std::strlen(bytes);
    text.clear();
    while (at < end) {
        // A byte below 0x80 that starts a character is ASCII, as PostgreSQL and psql read
        // it, in every character set a locale may have: glibc's Shift JIS takes 0x5C
        // and 0x7E for the yen sign and the overline, so a\b would name another role.
        if (static_cast<unsigned char>(*at) < 0x80) {
            text.push_back(*at++);
            state = std::mbstate_t{};
            continue;
        }
        wchar_t c;
        const size_t used = std::mbrtowc(&c, at, static_cast<size_t>(end - at), &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0 ||
            static_cast<unsigned long>(c) > 0x10FFFF || (!kWideIsUnicode && c >= 0x80))
            return false;
        appendUtf8(static_cast<char32_t>(c), text);
        at += used;
    }
    return true;
}

} // namespace

int commandLineArguments(int argc, char* argv[], std::vector<std::string>& arguments) {
    arguments.assign(argv, argv + argc);
    if (std::setlocale(LC_CTYPE, "") == nullptr)
        return 0; // no such locale here: the C locale stays, and the bytes with it
    // In the C locale nothing says what the bytes are, and UTF-8 is what they are
    // on nearly every system today: they are taken as they are, as in a UTF-8 locale.
    const std::string locale = std::setlocale(LC_CTYPE, nullptr);
    int status = 0;
    if (locale != "C" && locale != "POSIX" && std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        for (int i = 1; i < argc && status == 0; ++i)
            if (!localeToUtf8(argv[i], arguments[static_cast<size_t>(i)]))
                status = 1;
    }
    std::setlocale(LC_CTYPE, "C");
    return status;
}

std::string systemOutputText(const std::string& output) {
    return output;
}
