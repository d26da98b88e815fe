// TextUtils.cpp - numbers as text, the string lists, Pascal strings and the Mac Roman
// conversions shared by the file names, Core Foundation strings and the resource compiler.
//
// The string lists are read through the resource chain, so a host that has opened a
// plug-in's resource map lets the plug-in find its own lists.
#include "TextUtils.h"

#include "MacMemory.h"
#include "Resources.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace toolbox::text {
namespace {

// One conversion through iconv, refusing anything it cannot convert exactly.
std::optional<std::string> convert(const char* to, const char* from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return std::nullopt;
    std::string out;
    out.resize(in.size() * 4 + 16);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == std::size_t(-1)) {
            if (errno == E2BIG) {
                std::size_t used = std::size_t(outPtr - out.data());
                out.resize(out.size() * 2);
                outPtr = out.data() + used;
                outLeft = out.size() - used;
                continue;
            }
            ok = false; // EILSEQ (no such character) or EINVAL (cut sequence)
            break;
        }
    }
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(std::size_t(outPtr - out.data()));
    return out;
}

} // namespace

bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = UInt8(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n;
        UInt32 cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size())
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            auto cc = UInt8(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

// The first 128 codes of Mac Roman are ASCII's, and ASCII text is its own UTF-8. Such text
// (every name and text of the plug-in's own) needs no converter: a libc without the Mac
// Roman module (Debian's PowerPC cross libc has no iconv modules at all) still handles it.
static bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x80; });
}

std::optional<std::string> macRomanToUtf8(std::string_view macRoman) {
    if (isAscii(macRoman))
        return std::string(macRoman);
    return convert("UTF-8", "MACINTOSH", macRoman);
}

std::optional<std::string> utf8ToMacRoman(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);
    if (!isValidUtf8(utf8))
        return std::nullopt;
    return convert("MACINTOSH", "UTF-8", utf8);
}

std::string fromPascal(ConstStr255Param p) {
    if (!p)
        return {};
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

void toPascal(std::string_view s, Str255 out) {
    std::size_t n = s.size() > 255 ? 255 : s.size();
    out[0] = UInt8(n);
    std::memcpy(out + 1, s.data(), n);
}

} // namespace toolbox::text

void NumToString(SInt32 theNum, Str255 theString) {
    // Work in 64 bits so that the most negative value has a positive counterpart.
    SInt64 v = theNum;
    bool negative = v < 0;
    if (negative)
        v = -v;
    char digits[16];
    int n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    int len = 0;
    if (negative)
        theString[++len] = '-';
    while (n > 0)
        theString[++len] = UInt8(digits[--n]);
    theString[0] = UInt8(len);
}

void StringToNum(ConstStr255Param theString, SInt32* theNum) {
    if (!theNum)
        return;
    SInt64 v = 0;
    bool negative = false;
    int i = 1;
    int len = theString ? theString[0] : 0;
    if (i <= len && (theString[i] == '-' || theString[i] == '+'))
        negative = theString[i++] == '-';
    for (; i <= len && theString[i] >= '0' && theString[i] <= '9'; ++i) {
        v = v * 10 + (theString[i] - '0');
        if (v > (SInt64(1) << 32))
            v = SInt64(1) << 32; // keep within range; the 32-bit result wraps as classic did
    }
    *theNum = SInt32(UInt32(negative ? -v : v));
}

void GetIndString(Str255 theString, SInt16 strListID, SInt16 index) {
    theString[0] = 0;
    if (index < 1)
        return;
    Handle h = GetResource(FOUR_CHAR_CODE("STR#"), strListID);
    if (!h || !*h)
        return;
    const auto* p = reinterpret_cast<const UInt8*>(*h);
    Size size = GetHandleSize(h);
    if (size < 2)
        return;
    int count = (p[0] << 8) | p[1];
    if (index > count)
        return;
    Size pos = 2;
    for (int i = 1; i < index; ++i) {
        if (pos >= size)
            return;
        pos += 1 + p[pos];
    }
    if (pos >= size || pos + 1 + p[pos] > size)
        return; // the list is shorter than it claims: give nothing rather than garbage
    std::memcpy(theString, p + pos, std::size_t(1 + p[pos]));
}

void CopyCStringToPascal(const char* src, Str255 dst) {
    toolbox::text::toPascal(src ? std::string_view(src) : std::string_view(), dst);
}

void CopyPascalStringToC(ConstStr255Param src, char* dst) {
    std::size_t n = src ? src[0] : 0;
    if (n)
        std::memmove(dst, src + 1, n);
    dst[n] = 0;
}

StringPtr c2pstr(char* aStr) {
    std::size_t n = std::strlen(aStr);
    if (n > 255)
        n = 255;
    std::memmove(aStr + 1, aStr, n);
    aStr[0] = char(n);
    return reinterpret_cast<StringPtr>(aStr);
}

char* p2cstr(StringPtr aStr) {
    std::size_t n = aStr[0];
    std::memmove(aStr, aStr + 1, n);
    aStr[n] = 0;
    return reinterpret_cast<char*>(aStr);
}
