#pragma once

#include <string>

// The one UTF-8 decoder and encoder of the store: the data file's reader
// and writer, and the search's folding, read text alike.
namespace store {

// Decodes one UTF-8 sequence at `s` (strictly: no overlong forms, no
// surrogates, nothing above U+10FFFF, nothing cut short by `end`). Returns
// its length, or 0 when `s` does not start a well-formed sequence. Inline:
// the search's hot loop calls it for every character above ASCII.
inline int decodeUtf8(const unsigned char *s, const unsigned char *end, char32_t &cp)
{
    const unsigned char c = s[0];
    int len;
    char32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (end - s < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

// Appends `cp` (a scalar value) to `out` as UTF-8.
inline void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

} // namespace store
