#include "json.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxDepth = 64;

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    bool parseDocument(JsonValue* out) {
        skipBlanks();
        if (!parseValue(out, 0)) return false;
        skipBlanks();
        if (pos_ != s_.size()) return fail("unexpected text after the value");
        return true;
    }

    std::string error() const { return error_; }

private:
    bool fail(const char* what) {
        if (!error_.empty()) return false;  // keep the first, innermost reason
        size_t line = 1, column = 1;
        for (size_t i = 0; i < pos_ && i < s_.size(); ++i) {
            if (s_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        error_ = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
        return false;
    }

    bool atEnd() const { return pos_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[pos_]; }

    void skipBlanks() {
        while (!atEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) ++pos_;
    }

    bool consumeWord(const char* word) {
        size_t n = std::strlen(word);
        if (s_.compare(pos_, n, word) != 0) return false;
        pos_ += n;
        return true;
    }

    bool parseValue(JsonValue* out, int depth) {
        if (depth > kMaxDepth) return fail("nesting too deep");
        if (atEnd()) return fail("unexpected end of text, expected a value");
        char c = peek();
        if (c == '{') return parseObject(out, depth);
        if (c == '[') return parseArray(out, depth);
        if (c == '"') {
            out->kind = JsonValue::Kind::String;
            return parseString(&out->text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return parseNumber(out);
        if (consumeWord("true")) {
            out->kind = JsonValue::Kind::Bool;
            out->boolean = true;
            return true;
        }
        if (consumeWord("false")) {
            out->kind = JsonValue::Kind::Bool;
            out->boolean = false;
            return true;
        }
        if (consumeWord("null")) {
            out->kind = JsonValue::Kind::Null;
            return true;
        }
        return fail("expected a value");
    }

    bool parseObject(JsonValue* out, int depth) {
        out->kind = JsonValue::Kind::Object;
        ++pos_;  // '{'
        skipBlanks();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipBlanks();
            if (peek() != '"') return fail("expected a string key");
            size_t keyPos = pos_;
            std::string key;
            if (!parseString(&key)) return false;
            for (const auto& m : out->members) {
                if (m.first == key) {
                    pos_ = keyPos;
                    return fail(("duplicate key \"" + key + "\"").c_str());
                }
            }
            skipBlanks();
            if (peek() != ':') return fail("expected ':' after the key");
            ++pos_;
            skipBlanks();
            out->members.emplace_back(std::move(key), JsonValue{});
            if (!parseValue(&out->members.back().second, depth + 1)) return false;
            skipBlanks();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }

    bool parseArray(JsonValue* out, int depth) {
        out->kind = JsonValue::Kind::Array;
        ++pos_;  // '['
        skipBlanks();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipBlanks();
            out->items.emplace_back();
            if (!parseValue(&out->items.back(), depth + 1)) return false;
            skipBlanks();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool parseHex4(uint32_t* out) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            int d = hexDigit(peek());
            if (d < 0) return fail("expected four hex digits after \\u");
            v = v << 4 | uint32_t(d);
            ++pos_;
        }
        *out = v;
        return true;
    }

    static void appendUtf8(std::string* s, uint32_t cp) {
        if (cp < 0x80) {
            s->push_back(char(cp));
        } else if (cp < 0x800) {
            s->push_back(char(0xC0 | cp >> 6));
            s->push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            s->push_back(char(0xE0 | cp >> 12));
            s->push_back(char(0x80 | (cp >> 6 & 0x3F)));
            s->push_back(char(0x80 | (cp & 0x3F)));
        } else {
            s->push_back(char(0xF0 | cp >> 18));
            s->push_back(char(0x80 | (cp >> 12 & 0x3F)));
            s->push_back(char(0x80 | (cp >> 6 & 0x3F)));
            s->push_back(char(0x80 | (cp & 0x3F)));
        }
    }

    // \uXXXX, with a following low surrogate when the first is a high one.
    bool parseUnicodeEscape(std::string* out) {
        uint32_t cp = 0;
        if (!parseHex4(&cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("unpaired low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!consumeWord("\\u")) return fail("high surrogate without its low half");
            uint32_t low = 0;
            if (!parseHex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("high surrogate without its low half");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, cp);
        return true;
    }

    bool parseEscape(std::string* out) {
        char e = peek();
        ++pos_;
        switch (e) {
        case '"': out->push_back('"'); return true;
        case '\\': out->push_back('\\'); return true;
        case '/': out->push_back('/'); return true;
        case 'b': out->push_back('\b'); return true;
        case 'f': out->push_back('\f'); return true;
        case 'n': out->push_back('\n'); return true;
        case 'r': out->push_back('\r'); return true;
        case 't': out->push_back('\t'); return true;
        case 'u': return parseUnicodeEscape(out);
        default: --pos_; return fail("unknown escape in string");
        }
    }

    bool parseString(std::string* out) {
        ++pos_;  // opening quote
        for (;;) {
            if (atEnd()) return fail("unterminated string");
            char c = s_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return fail("control character inside a string");
            ++pos_;
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (!parseEscape(out)) return false;
        }
    }

    bool skipDigits() {
        size_t start = pos_;
        while (!atEnd() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    bool parseNumber(JsonValue* out) {
        size_t start = pos_;
        if (peek() == '-') ++pos_;
        if (peek() == '0') {
            ++pos_;
            if (peek() >= '0' && peek() <= '9') return fail("leading zero in a number");
        } else if (!skipDigits()) {
            return fail("expected a digit");
        }
        bool integral = true;
        if (peek() == '.') {
            ++pos_;
            integral = false;
            if (!skipDigits()) return fail("expected a digit after '.'");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos_;
            integral = false;
            if (peek() == '+' || peek() == '-') ++pos_;
            if (!skipDigits()) return fail("expected a digit in the exponent");
        }
        std::string literal = s_.substr(start, pos_ - start);
        out->kind = JsonValue::Kind::Number;
        out->number = std::strtod(literal.c_str(), nullptr);
        if (integral) {
            errno = 0;
            long long v = std::strtoll(literal.c_str(), nullptr, 10);
            out->integral = errno != ERANGE;
            out->integer = v;
        }
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

bool jsonParse(const std::string& text, JsonValue* out, std::string* err) {
    JsonReader reader(text);
    JsonValue value;
    if (!reader.parseDocument(&value)) {
        if (err != nullptr) *err = reader.error();
        return false;
    }
    *out = std::move(value);
    return true;
}

const char* jsonKindName(JsonValue::Kind kind) {
    switch (kind) {
    case JsonValue::Kind::Null: return "null";
    case JsonValue::Kind::Bool: return "a boolean";
    case JsonValue::Kind::Number: return "a number";
    case JsonValue::Kind::String: return "a string";
    case JsonValue::Kind::Array: return "a list";
    case JsonValue::Kind::Object: return "an object";
    }
    return "a value";
}
