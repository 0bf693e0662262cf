// SPDX-License-Identifier: GPL-2.0-or-later
#include "Display.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <wchar.h>

#include "vorlixfile.h"

namespace {

// Length of the UTF-8 sequence at s[i] (1 to 4) and its code point; 0 when
// the bytes there are not UTF-8 (overlong forms and surrogates included).
size_t Decode(const std::string &s, size_t i, uint32_t &c)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b = byte(i);
    size_t n;
    uint32_t min;
    if (b < 0x80) {
        c = b;
        return 1;
    }
    if (b >= 0xc2 && b < 0xe0)
        n = 2, c = b & 0x1f, min = 0x80;
    else if (b >= 0xe0 && b < 0xf0)
        n = 3, c = b & 0x0f, min = 0x800;
    else if (b >= 0xf0 && b < 0xf5)
        n = 4, c = b & 0x07, min = 0x10000;
    else
        return 0;
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i + k) & 0x3f);
    }
    if (c < min || c > 0x10ffff || (c >= 0xd800 && c < 0xe000))
        return 0;
    return n;
}

bool Control(uint32_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0);
}

const char replacement[] = "\xef\xbf\xbd";  // U+FFFD

} // namespace

std::string Printable(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        uint32_t c;
        const size_t n = Decode(text, i, c);
        if (n == 0 || Control(c))
            out += replacement;
        else
            out.append(text, i, n);
        i += n == 0 ? 1 : n;
    }
    return out;
}

std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        uint32_t c;
        size_t n = Decode(text, i, c);
        if (n == 0) {
            c = static_cast<uint8_t>(text[i]);  // not UTF-8: the byte's value
            n = 1;
        } else if (!Control(c) && c != '"' && c != '\\') {
            out.append(text, i, n);
            i += n;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        }
        i += n;
    }
    return out + "\"";
}

std::string Clock(uint64_t samples, int32_t rate)
{
    const uint64_t ms = rate > 0 ? (samples * 1000 + static_cast<uint64_t>(rate) / 2) / static_cast<uint64_t>(rate) : 0;
    const uint64_t s = ms / 1000, m = s / 60, h = m / 60;
    char text[48];
    if (h > 0)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%03llu", static_cast<unsigned long long>(h),
                      static_cast<unsigned long long>(m % 60), static_cast<unsigned long long>(s % 60),
                      static_cast<unsigned long long>(ms % 1000));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu.%03llu", static_cast<unsigned long long>(m),
                      static_cast<unsigned long long>(s % 60), static_cast<unsigned long long>(ms % 1000));
    return text;
}

namespace {

// Columns of one character, by the C library's table for UTF-8 whatever the
// process's locale; one where there is no such table.
size_t CharColumns(uint32_t c)
{
    if (c < 0x80)
        return 1;
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8 == static_cast<locale_t>(nullptr))
        return 1;
    const locale_t before = uselocale(utf8);
    const int w = wcwidth(static_cast<wchar_t>(c));
    uselocale(before);
    return w < 0 ? 1 : static_cast<size_t>(w);
}

} // namespace

size_t Columns(const std::string &printable)
{
    size_t columns = 0;
    for (size_t i = 0; i < printable.size();) {
        uint32_t c;
        const size_t n = Decode(printable, i, c);
        columns += n == 0 ? 1 : CharColumns(c);
        i += n == 0 ? 1 : n;
    }
    return columns;
}

std::string Fit(const std::string &printable, size_t columns)
{
    if (Columns(printable) <= columns)
        return printable;
    if (columns == 0)
        return "";
    // whole characters while they leave a column for the ellipsis
    std::string out;
    size_t used = 0;
    for (size_t i = 0; i < printable.size();) {
        uint32_t c;
        size_t n = Decode(printable, i, c);
        const size_t w = n == 0 ? 1 : CharColumns(c);
        n = n == 0 ? 1 : n;
        if (used + w > columns - 1)
            break;
        out.append(printable, i, n);
        used += w;
        i += n;
    }
    return out + "\xe2\x80\xa6";  // U+2026
}

std::string BaseName(const std::string &path)
{
    std::string name = path;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    const size_t slash = name.rfind('/');
    return slash == std::string::npos || name.size() == 1 ? name : name.substr(slash + 1);
}

namespace {

// strerror_r as the C library declares it: the GNU one returns the text,
// the POSIX one fills the buffer.
[[maybe_unused]] const char *ErrorText(const char *text, const char *)
{
    return text;
}
[[maybe_unused]] const char *ErrorText(int failed, const char *buffer)
{
    return failed == 0 ? buffer : "Unknown error";
}

} // namespace

std::string SystemError(int errnum)
{
    char buffer[256] = "";
    return ErrorText(strerror_r(errnum, buffer, sizeof buffer), buffer);
}

std::string InputFailure(const std::string &name, int code, int openErrno)
{
    switch (code) {
    case VF_EOPEN:
        return "cannot open " + name + ": " + SystemError(openErrno);
    case VF_EREAD:
        return "read error in " + name;
    case VF_ENOTAUDIO:
        return "no MPEG audio frames found in " + name;
    default:
        return "cannot decode " + name + ": " + vf_strerror(code);
    }
}
