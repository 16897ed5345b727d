#include "system/text.h"

#include <clocale>
#include <cstring>
#include <cwchar>
#include <langinfo.h>
#include <strings.h>

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

// The locale character sets PostgreSQL knows, as nl_langinfo(CODESET) names them (in
// any case), with PostgreSQL's names for them; UTF-8 and ASCII are read as UTF-8.
struct Codeset {
    const char* codeset;
    const char* encoding;
};
const Codeset kServerEncodings[] = {
    {"EUC-JP", "EUC_JP"},
    {"eucJP", "EUC_JP"},
    {"IBM-eucJP", "EUC_JP"},
    {"EUC-CN", "EUC_CN"},
    {"eucCN", "EUC_CN"},
    {"IBM-eucCN", "EUC_CN"},
    {"GB2312", "EUC_CN"},
    {"EUC-KR", "EUC_KR"},
    {"eucKR", "EUC_KR"},
    {"IBM-eucKR", "EUC_KR"},
    {"EUC-TW", "EUC_TW"},
    {"eucTW", "EUC_TW"},
    {"IBM-eucTW", "EUC_TW"},
    {"ISO-8859-1", "LATIN1"},
    {"ISO8859-1", "LATIN1"},
    {"ISO-8859-2", "LATIN2"},
    {"ISO8859-2", "LATIN2"},
    {"ISO-8859-3", "LATIN3"},
    {"ISO8859-3", "LATIN3"},
    {"ISO-8859-4", "LATIN4"},
    {"ISO8859-4", "LATIN4"},
    {"ISO-8859-9", "LATIN5"},
    {"ISO8859-9", "LATIN5"},
    {"ISO-8859-10", "LATIN6"},
    {"ISO8859-10", "LATIN6"},
    {"ISO-8859-13", "LATIN7"},
    {"ISO8859-13", "LATIN7"},
    {"ISO-8859-14", "LATIN8"},
    {"ISO8859-14", "LATIN8"},
    {"ISO-8859-15", "LATIN9"},
    {"ISO8859-15", "LATIN9"},
    {"ISO-8859-16", "LATIN10"},
    {"ISO8859-16", "LATIN10"},
    {"ISO-8859-5", "ISO_8859_5"},
    {"ISO8859-5", "ISO_8859_5"},
    {"ISO-8859-6", "ISO_8859_6"},
    {"ISO8859-6", "ISO_8859_6"},
    {"ISO-8859-7", "ISO_8859_7"},
    {"ISO8859-7", "ISO_8859_7"},
    {"ISO-8859-8", "ISO_8859_8"},
    {"ISO8859-8", "ISO_8859_8"},
    {"KOI8-R", "KOI8R"},
    {"KOI8-U", "KOI8U"},
    {"CP866", "WIN866"},
    {"CP874", "WIN874"},
    {"CP1250", "WIN1250"},
    {"CP1251", "WIN1251"},
    {"CP1252", "WIN1252"},
    {"CP1253", "WIN1253"},
    {"CP1254", "WIN1254"},
    {"CP1255", "WIN1255"},
    {"CP1256", "WIN1256"},
    {"CP1257", "WIN1257"},
    {"CP1258", "WIN1258"},
    {"SJIS", "SJIS"},
    {"PCK", "SJIS"},
    {"CP932", "SJIS"},
    {"SHIFT_JIS", "SJIS"},
    {"BIG5", "BIG5"},
    {"BIG5HKSCS", "BIG5"},
    {"Big5-HKSCS", "BIG5"},
    {"CP950", "BIG5"},
    {"GBK", "GBK"},
    {"CP936", "GBK"},
    {"UHC", "UHC"},
    {"CP949", "UHC"},
    {"JOHAB", "JOHAB"},
    {"GB18030", "GB18030"},
    {"SJIS_2004", "SHIFT_JIS_2004"},
};

} // namespace

std::string argumentsForServer(int argc, char* argv[], const std::vector<std::string>& arguments,
                               std::vector<std::string>& given) {
    given = arguments;
    const char* const locale = std::setlocale(LC_CTYPE, "");
    if (locale == nullptr)
        return "UTF8";
    const std::string name = locale;
    std::string encoding = "UTF8";
    if (name != "C" && name != "POSIX") {
        const char* const codeset = nl_langinfo(CODESET);
        for (const Codeset& known : kServerEncodings) {
            if (strcasecmp(codeset, known.codeset) == 0) {
                given.assign(argv, argv + argc);
                encoding = known.encoding;
                break;
            }
        }
    }
    std::setlocale(LC_CTYPE, "C");
    return encoding;
}

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
