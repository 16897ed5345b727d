#pragma once

#include <string>

// Conversions between the UTF-8 text the tool works in and the UTF-16 text of the
// Windows API. Each returns 0, or 1 when `from` is no text in its encoding (bytes that
// are no UTF-8, a lone surrogate), leaving `to` unchanged; nothing is ever replaced by
// a look-alike or a question mark.
int toWide(const std::string& from, std::wstring& to);
int toUtf8(const std::wstring& from, std::string& to);

// Bytes of the code page `codePage` as UTF-8: 0, or 1 when they are no text in it.
int codePageToUtf8(const std::string& from, unsigned codePage, std::string& to);
