#include "system/text.h"

#include <cctype>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <langinfo.h>
#include <sstream>

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

// The locale character sets PostgreSQL knows, as nl_langinfo(CODESET) names them in lower
// case without - and _, each followed by PostgreSQL's name; UTF-8 is read as UTF-8.
const char kServerEncodings[] =
    "eucjp EUC_JP ibmeucjp EUC_JP euccn EUC_CN ibmeuccn EUC_CN gb2312 EUC_CN euckr EUC_KR "
    "ibmeuckr EUC_KR euctw EUC_TW ibmeuctw EUC_TW iso88591 LATIN1 iso88592 LATIN2 "
    "iso88593 LATIN3 iso88594 LATIN4 iso88599 LATIN5 iso885910 LATIN6 iso885913 LATIN7 "
    "iso885914 LATIN8 iso885915 LATIN9 iso885916 LATIN10 iso88595 ISO_8859_5 "
    "iso88596 ISO_8859_6 iso88597 ISO_8859_7 iso88598 ISO_8859_8 koi8r KOI8R koi8u KOI8U "
    "cp866 WIN866 cp874 WIN874 cp1250 WIN1250 cp1251 WIN1251 cp1252 WIN1252 cp1253 WIN1253 "
    "cp1254 WIN1254 cp1255 WIN1255 cp1256 WIN1256 cp1257 WIN1257 cp1258 WIN1258 sjis SJIS "
    "pck SJIS cp932 SJIS shiftjis SJIS sjis2004 SHIFT_JIS_2004 big5 BIG5 big5hkscs BIG5 "
    "cp950 BIG5 gbk GBK cp936 GBK uhc UHC cp949 UHC johab JOHAB gb18030 GB18030";

// PostgreSQL's name for the character set `codeset`, or "" when it knows none.
std::string serverEncoding(const char* codeset) {
    std::string name;
    for (const char* c = codeset; *c != '\0'; ++c)
        if (*c != '-' && *c != '_')
            name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*c))));
    std::istringstream table(kServerEncodings);
    for (std::string known, encoding; table >> known >> encoding;)
        if (name == known)
            return encoding;
    return "";
}

} // namespace

CommandLine readCommandLine(int argc, char* argv[]) {
    CommandLine line;
    for (int i = 0; i < argc; ++i)
        line.arguments.push_back({argv[i], argv[i], true});
    if (std::setlocale(LC_CTYPE, "") == nullptr)
        return line; // no such locale here: the C locale stays, and the bytes with it
    // In the C locale nothing says what the bytes are, and UTF-8 is what they are on
    // nearly every system today: they are taken as they are, as in a UTF-8 locale.
    const std::string locale = std::setlocale(LC_CTYPE, nullptr);
    const char* const codeset = nl_langinfo(CODESET);
    if (locale != "C" && locale != "POSIX" && std::strcmp(codeset, "UTF-8") != 0) {
        const std::string encoding = serverEncoding(codeset);
        for (int i = 1; i < argc; ++i) {
            Argument& argument = line.arguments[static_cast<size_t>(i)];
            argument.isText = localeToUtf8(argv[i], argument.text);
            if (!argument.isText)
                argument.text = argv[i];
            // The server's conversion tables decide what bytes it knows the set of mean.
            if (encoding.empty())
                argument.bytes = argument.text;
        }
        if (!encoding.empty())
            line.encoding = encoding;
    }
    std::setlocale(LC_CTYPE, "C");
    return line;
}

std::string systemOutputText(const std::string& output) {
    return output;
}
