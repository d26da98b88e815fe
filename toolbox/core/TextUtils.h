// TextUtils.h - numbers as text, the string lists, and Pascal/C string helpers.
//
// Promises: NumToString writes decimal digits with a leading '-' for negatives (INT32_MIN
// included). GetIndString reads 'STR#' resources (a big-endian count, then Pascal strings)
// through the resource chain and gives an empty string when the list or the index does not
// exist or the list is damaged; it never reads past the resource. The conversions in
// toolbox::text fail (std::nullopt) rather than guess.
#pragma once

#include "MacTypes.h"

#include <optional>
#include <string>
#include <string_view>

enum : ScriptCode {
    smSystemScript = -1,
    smRoman = 0,
};

void NumToString(SInt32 theNum, Str255 theString);
// Reads an optional sign and decimal digits; stops at the first other character.
void StringToNum(ConstStr255Param theString, SInt32* theNum);

// The text at index (from 1) of the 'STR#' resource strListID, or an empty string.
void GetIndString(Str255 theString, SInt16 strListID, SInt16 index);

// C string to Pascal string, cut to 255 characters.
void CopyCStringToPascal(const char* src, Str255 dst);
// Pascal string to a NUL-terminated C string; dst must hold 256 bytes.
void CopyPascalStringToC(ConstStr255Param src, char* dst);
// In-place conversions (the classic c2pstr / p2cstr); strings over 255 are cut.
StringPtr c2pstr(char* aStr);
char* p2cstr(StringPtr aStr);

namespace toolbox::text {
// Mac Roman bytes to UTF-8 (every Mac Roman byte has a Unicode character).
std::optional<std::string> macRomanToUtf8(std::string_view macRoman);
// UTF-8 to Mac Roman; nullopt if the text is not UTF-8 or has a character Mac Roman lacks.
std::optional<std::string> utf8ToMacRoman(std::string_view utf8);
// True if the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);
// The Pascal string's contents as a std::string, and back (cut to 255 bytes).
std::string fromPascal(ConstStr255Param p);
void toPascal(std::string_view s, Str255 out);
} // namespace toolbox::text
