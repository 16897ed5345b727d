#include "system/text.h"

#include <cctype>
#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <langinfo.h>
#include <sstream>

namespace {

// Whether mbrtowc gives Unicode code points in every locale (glibc's does; macOS's not for
// Shift JIS, GBK and the like, where only ASCII can then be taken as text).
#ifdef __STDC_ISO_10646__
constexpr bool kWideIsUnicode = true;
#else
constexpr bool kWideIsUnicode = false;
#endif

// `bytes` read in the locale's character set, as UTF-8; false when they are no text there.
bool localeToUtf8(const char* bytes, std::string& text) {
    std::mbstate_t state{};
    const char* at = bytes;
    const char* const end = bytes + std::strlen(bytes);
    text.clear();
    while (at < end) {
        // A byte below 0x80 starting a character is ASCII, as PostgreSQL reads it: glibc's
        // Shift JIS takes 0x5C for the yen sign, so a\b would name another role.
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
        appendUtf8(static_cast<long>(c), text);
        at += used;
    }
    return true;
}

// The locale character sets PostgreSQL knows but UTF-8, as nl_langinfo(CODESET) names
// them in lower case without - and _, each followed by PostgreSQL's name.
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

// Sets LC_CTYPE from the environment; true when it is read as UTF-8: a UTF-8 locale, or
// the C locale (also in place of one not installed), where UTF-8 is the likeliest.
bool useLocaleIsUtf8() {
    if (std::setlocale(LC_CTYPE, "") == nullptr)
        return true;
    const std::string locale = std::setlocale(LC_CTYPE, nullptr);
    return locale == "C" || locale == "POSIX" || std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

bool isUtf8(const std::string& text) {
    size_t length = 0;
    for (size_t at = 0; at < text.size(); at += length)
        if (utf8CodePoint(text, at, length) < 0)
            return false;
    return true;
}

} // namespace

CommandLine readCommandLine(int argc, char* argv[]) {
    CommandLine line;
    const bool utf8 = useLocaleIsUtf8();
    if (!utf8)
        line.encoding = serverEncoding(nl_langinfo(CODESET));
    for (int i = 0; i < argc; ++i) {
        Argument argument = {argv[i], argv[i], true};
        if (i > 0) // the program's name is never checked
            argument.isText = utf8 ? isUtf8(argument.bytes) : localeToUtf8(argv[i], argument.text);
        if (!argument.isText)
            argument.text = argv[i];
        line.arguments.push_back(argument);
    }
    std::setlocale(LC_CTYPE, "C");
    return line;
}

std::string toLocaleText(const std::string& utf8) {
    std::string text;
    if (useLocaleIsUtf8()) {
        text = utf8;
    } else {
        std::mbstate_t state{};
        size_t length = 0;
        for (size_t at = 0; at < utf8.size(); at += length) {
            const long c = utf8CodePoint(utf8, at, length);
            char bytes[MB_LEN_MAX];
            size_t size = static_cast<size_t>(-1);
            // ASCII as PostgreSQL reads it, whatever the C library maps its bytes to.
            if (c >= 0 && c < 0x80)
                text.push_back(static_cast<char>(c));
            else if (c >= 0 && kWideIsUnicode &&
                     (size = std::wcrtomb(bytes, static_cast<wchar_t>(c), &state)) !=
                         static_cast<size_t>(-1))
                text.append(bytes, size);
            else
                text.push_back('?');
        }
    }
    std::setlocale(LC_CTYPE, "C");
    return text;
}

std::string systemOutputText(const std::string& output) {
    return output;
}
