// UIText.cpp - the text conversions between the toolbox's strings (Mac Roman Pascal strings,
// CFStrings, four-character codes) and Qt's.
//
// Promises: Mac Roman always converts (every byte has a character); four-character codes are
// accepted from Qt texts only when they spell exactly four Mac Roman characters (a shorter
// text is padded with spaces, as "ok" stands for "ok  ").
#include "UIPrivate.h"

#include "TextUtils.h"

namespace toolbox::ui {

std::string utf8FromMacRoman(const unsigned char* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) {
        return {};
    }
    auto text = toolbox::text::macRomanToUtf8(
        std::string_view(reinterpret_cast<const char*>(bytes), length));
    return text ? *text : std::string();
}

std::string utf8FromPascal(ConstStr255Param s) {
    return s == nullptr ? std::string() : utf8FromMacRoman(s + 1, s[0]);
}

std::string utf8FromCF(CFStringRef s) {
    return s == nullptr ? std::string() : toolbox::cf::utf8(s);
}

QString qstringFromCF(CFStringRef s) {
    return QString::fromStdString(utf8FromCF(s));
}

std::string fourCC(UInt32 code) {
    const char chars[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    return std::string(chars, 4);
}

UInt32 fourCCFromText(const QString& text, bool* ok) {
    *ok = false;
    auto bytes = toolbox::text::utf8ToMacRoman(text.toStdString());
    if (!bytes || bytes->empty() || bytes->size() > 4) {
        return 0;
    }
    bytes->resize(4, ' ');
    *ok = true;
    return (UInt32(UInt8((*bytes)[0])) << 24) | (UInt32(UInt8((*bytes)[1])) << 16) |
           (UInt32(UInt8((*bytes)[2])) << 8) | UInt32(UInt8((*bytes)[3]));
}

} // namespace toolbox::ui
