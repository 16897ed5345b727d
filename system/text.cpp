#include "system/text.h"

std::vector<std::string> splitFields(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1)
        fields.push_back(text.substr(from, at - from));
    fields.push_back(text.substr(from));
    return fields;
}

std::string withoutLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

long utf8CodePoint(const std::string& text, size_t at, size_t& length) {
    length = 1;
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80)
        return first;
    const size_t size = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
    if (size == 0 || first > 0xF4 || at + size > text.size())
        return -1;
    long c = first & (0x7F >> size);
    for (size_t i = 1; i < size; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return -1;
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    // Neither a longer form than needed, nor a surrogate, nor beyond Unicode.
    const long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[size] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return -1;
    length = size;
    return c;
}

void appendUtf8(long c, std::string& text) {
    const int size = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (size == 1) {
        text.push_back(static_cast<char>(c));
        return;
    }
    text.push_back(static_cast<char>((0xF00 >> size) | (c >> (6 * (size - 1)))));
    for (int i = size - 2; i >= 0; --i)
        text.push_back(static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F)));
}
