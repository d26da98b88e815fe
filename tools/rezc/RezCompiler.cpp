// RezCompiler.cpp - the resource compiler's scanner and parser (see RezCompiler.h).
//
// A hand-written recursive-descent parser: the language is a few statements, and its
// error messages must point at the exact place of a mistake.
#include "RezCompiler.h"

#include "TextUtils.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <vector>

namespace rezc {
namespace {

struct CompileError : std::runtime_error {
    CompileError(int l, int c, const std::string& m) : std::runtime_error(m), line(l), col(c) {}
    int line, col;
};

class Parser {
  public:
    explicit Parser(const std::string& s) : src_(s) {}

    toolbox::rsrc::ResourceMap parseFile() {
        toolbox::rsrc::ResourceMap map;
        skipSpace();
        while (!atEnd()) {
            parseResource(map);
            skipSpace();
        }
        return map;
    }

  private:
    const std::string& src_;
    std::size_t pos_ = 0;
    int line_ = 1, col_ = 1;

    bool atEnd() const { return pos_ >= src_.size(); }
    char peek() const { return atEnd() ? '\0' : src_[pos_]; }
    [[noreturn]] void fail(const std::string& message) const {
        throw CompileError(line_, col_, message);
    }
    [[noreturn]] void failAt(int line, int col, const std::string& message) const {
        throw CompileError(line, col, message);
    }

    char advance() {
        char c = src_[pos_++];
        if (c == '\n') {
            ++line_;
            col_ = 1;
        } else if ((UInt8(c) & 0xC0) != 0x80) {
            ++col_; // columns count characters, not the bytes of UTF-8
        }
        return c;
    }

    void skipSpace() {
        for (;;) {
            while (!atEnd() && std::isspace(UInt8(peek())))
                advance();
            if (src_.compare(pos_, 2, "//") == 0) {
                while (!atEnd() && peek() != '\n')
                    advance();
            } else if (src_.compare(pos_, 2, "/*") == 0) {
                int l = line_, c = col_;
                advance();
                advance();
                while (!atEnd() && src_.compare(pos_, 2, "*/") != 0)
                    advance();
                if (atEnd())
                    failAt(l, c, "comment is not closed (missing \"*/\")");
                advance();
                advance();
            } else {
                return;
            }
        }
    }

    void expect(char c, const char* what) {
        skipSpace();
        if (peek() != c)
            fail(std::string("expected ") + what + describeHere());
        advance();
    }

    std::string describeHere() const {
        if (atEnd())
            return " but the file ends";
        char c = peek();
        if (std::isprint(UInt8(c)))
            return std::string(" but found '") + c + "'";
        return " but found another character";
    }

    std::string word() {
        std::string w;
        while (!atEnd() && (std::isalnum(UInt8(peek())) || peek() == '_'))
            w += advance();
        return w;
    }

    // A Mac Roman byte string from a "..." literal.
    std::string quoted() {
        int l = line_, c = col_;
        if (peek() != '"')
            fail("expected a text in double quotes" + describeHere());
        advance();
        return markedToMacRoman(quotedBody(l, c), l, c);
    }

    // The literal up to its closing quote, escapes resolved. A \xHH byte is already Mac
    // Roman, so it stands behind a '\x01' mark that keeps the conversion off it.
    std::string quotedBody(int l, int c) {
        std::string utf8;
        for (;;) {
            if (atEnd() || peek() == '\n')
                failAt(l, c, "text is not closed (missing '\"')");
            char ch = advance();
            if (ch == '"')
                return utf8;
            if (ch != '\\') {
                utf8 += ch;
                continue;
            }
            if (atEnd())
                failAt(l, c, "text is not closed (missing '\"')");
            appendEscape(utf8);
        }
    }

    // The character after a backslash.
    void appendEscape(std::string& utf8) {
        char e = advance();
        switch (e) {
        case '"':
        case '\\':
        case '\'':
            utf8 += e;
            break;
        case 'n':
            utf8 += '\n';
            break;
        case 'r':
            utf8 += '\r';
            break;
        case 't':
            utf8 += '\t';
            break;
        case 'x': {
            std::string hex;
            for (int i = 0; i < 2 && std::isxdigit(UInt8(peek())); ++i)
                hex += advance();
            if (hex.size() != 2)
                fail("\\x needs two hexadecimal digits");
            utf8 += '\x01';
            utf8 += char(std::strtol(hex.c_str(), nullptr, 16));
            break;
        }
        default:
            fail(std::string("unknown escape \"\\") + e + "\"");
        }
    }

    // Converts the UTF-8 runs between marked bytes; errors point at the literal's start.
    std::string markedToMacRoman(const std::string& utf8, int l, int c) const {
        std::string out, run;
        auto flush = [&] {
            if (run.empty())
                return;
            if (!toolbox::text::isValidUtf8(run))
                failAt(l, c, "text is not valid UTF-8");
            auto mac = toolbox::text::utf8ToMacRoman(run);
            if (!mac)
                failAt(l, c, "text has a character that Mac Roman cannot hold");
            out += *mac;
            run.clear();
        };
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            if (utf8[i] == '\x01' && i + 1 < utf8.size()) {
                flush();
                out += utf8[++i];
            } else {
                run += utf8[i];
            }
        }
        flush();
        return out;
    }

    std::string hexBlock() {
        int l = line_, c = col_;
        advance(); // '$'
        if (peek() != '"')
            fail("expected '\"' after '$' of a hexadecimal block");
        advance();
        std::string digits;
        for (;;) {
            if (atEnd())
                failAt(l, c, "hexadecimal block is not closed (missing '\"')");
            char ch = advance();
            if (ch == '"')
                break;
            if (std::isspace(UInt8(ch)))
                continue;
            if (!std::isxdigit(UInt8(ch)))
                fail(std::string("'") + ch + "' is not a hexadecimal digit");
            digits += ch;
        }
        if (digits.size() % 2)
            failAt(l, c, "hexadecimal block has an odd number of digits");
        std::string out;
        for (std::size_t i = 0; i < digits.size(); i += 2)
            out += char(std::strtol(digits.substr(i, 2).c_str(), nullptr, 16));
        return out;
    }

    ResType typeCode() {
        int l = line_, c = col_;
        if (peek() != '\'')
            fail("expected a resource type in single quotes, such as 'STR#'" + describeHere());
        advance();
        std::string utf8;
        while (!atEnd() && peek() != '\'' && peek() != '\n')
            utf8 += advance();
        if (peek() != '\'')
            failAt(l, c, "resource type is not closed (missing \"'\")");
        advance();
        auto mac = toolbox::text::utf8ToMacRoman(utf8);
        if (!mac || mac->size() != 4)
            failAt(l, c, "a resource type has exactly four characters ('" + utf8 + "')");
        return (ResType(UInt8((*mac)[0])) << 24) | (ResType(UInt8((*mac)[1])) << 16) |
               (ResType(UInt8((*mac)[2])) << 8) | ResType(UInt8((*mac)[3]));
    }

    ResID resourceID() {
        int l = line_, c = col_;
        std::string digits;
        if (peek() == '-' || peek() == '+')
            digits += advance();
        while (!atEnd() && std::isdigit(UInt8(peek())))
            digits += advance();
        if (digits.empty() || digits == "-" || digits == "+")
            failAt(l, c, "expected a resource ID (a number)" + describeHere());
        long v = std::strtol(digits.c_str(), nullptr, 10);
        if (digits.size() > 7 || v < -32768 || v > 32767)
            failAt(l, c, "resource ID " + digits + " is outside -32768 to 32767");
        return ResID(v);
    }

    void parseResource(toolbox::rsrc::ResourceMap& map) {
        int l = line_, c = col_;
        std::string kw = word();
        if (kw != "resource")
            failAt(l, c,
                   kw.empty() ? "expected \"resource\"" + describeHere()
                              : "expected \"resource\" but found \"" + kw + "\"");
        skipSpace();
        toolbox::rsrc::Resource res;
        res.type = typeCode();
        expect('(', "'(' after the resource type");
        skipSpace();
        int idLine = line_, idCol = col_;
        res.id = resourceID();
        skipSpace();
        while (peek() == ',') {
            advance();
            skipSpace();
            nameOrAttribute(res);
            skipSpace();
        }
        expect(')', "')' or ',' after the resource ID");
        expect('{', "'{' to open the resource's contents");
        Contents body = contents(res.type);
        expect(';', "';' after the resource's '}'");
        res.data = resourceData(res.type, body, l, c);
        if (map.find(res.type, res.id))
            failAt(idLine, idCol,
                   "resource " + std::to_string(res.id) + " of this type is already defined");
        map.resources.push_back(std::move(res));
    }

    // One of the words after the ID: a "name" or an attribute.
    void nameOrAttribute(toolbox::rsrc::Resource& res) {
        if (peek() == '"') {
            int nl = line_, nc = col_;
            if (res.name)
                failAt(nl, nc, "the resource already has a name");
            std::string name = quoted();
            if (name.size() > 255)
                failAt(nl, nc, "a resource name has at most 255 characters");
            res.name = name;
            return;
        }
        int al = line_, ac = col_;
        std::string a = word();
        if (a == "sysheap")
            res.attributes |= resSysHeap;
        else if (a == "purgeable")
            res.attributes |= resPurgeable;
        else if (a == "locked")
            res.attributes |= resLocked;
        else if (a == "protected")
            res.attributes |= resProtected;
        else if (a == "preload")
            res.attributes |= resPreload;
        else
            failAt(al, ac,
                   a.empty() ? "expected a name or an attribute" + describeHere()
                             : "unknown attribute \"" + a + "\"");
    }

    // The body between the braces as written: its texts one by one for the string
    // types, and every text and hexadecimal block run together for the rest.
    struct Contents {
        std::vector<std::string> items;
        std::string raw;
    };

    Contents contents(ResType type) {
        Contents body;
        const bool isList = type == FOUR_CHAR_CODE("STR#");
        const bool isString = type == FOUR_CHAR_CODE("STR ");
        skipSpace();
        while (peek() != '}') {
            int il = line_, ic = col_;
            if (atEnd())
                fail("expected '}' to close the resource's contents but the file ends");
            if (peek() == '"') {
                std::string s = quoted();
                if ((isList || isString) && s.size() > 255)
                    failAt(il, ic, "a text of a string list has at most 255 characters");
                body.items.push_back(s);
                body.raw += s;
            } else if (peek() == '$' && !isList && !isString) {
                body.raw += hexBlock();
            } else {
                fail("expected a text in double quotes" + describeHere());
            }
            skipSpace();
            if (peek() == ';' || peek() == ',') {
                advance();
                skipSpace();
            } else if (peek() != '}' && isList) {
                fail("expected ';' between the texts of a string list" + describeHere());
            }
        }
        advance(); // '}'
        return body;
    }

    // The bytes a resource of this type stores for its body; errors point at the
    // resource's "resource" keyword (l, c).
    std::vector<UInt8> resourceData(ResType type, const Contents& body, int l, int c) const {
        std::vector<UInt8> data;
        if (type == FOUR_CHAR_CODE("STR#")) {
            if (body.items.size() > 32767)
                failAt(l, c, "a string list has at most 32767 texts");
            data.push_back(UInt8(body.items.size() >> 8));
            data.push_back(UInt8(body.items.size()));
            for (const auto& s : body.items) {
                data.push_back(UInt8(s.size()));
                data.insert(data.end(), s.begin(), s.end());
            }
        } else if (type == FOUR_CHAR_CODE("STR ")) {
            if (body.items.size() != 1)
                failAt(l, c, "a 'STR ' resource holds exactly one text");
            data.push_back(UInt8(body.items[0].size()));
            data.insert(data.end(), body.items[0].begin(), body.items[0].end());
        } else {
            data.assign(body.raw.begin(), body.raw.end());
        }
        return data;
    }
};

} // namespace

Result compile(const std::string& source, const std::string& sourceName) {
    Result r;
    try {
        r.map = Parser(source).parseFile();
        r.ok = true;
    } catch (const CompileError& e) {
        r.error = sourceName + ":" + std::to_string(e.line) + ":" + std::to_string(e.col) +
                  ": error: " + e.what();
    }
    return r;
}

} // namespace rezc
