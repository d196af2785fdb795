// The configuration reader on top of the JSON library's event parser: the
// events build a JsonValue directly, so the strict rules the library does
// not enforce itself (duplicate keys, nesting depth) are checked as the
// values arrive, and a syntax error is turned into one line with the line,
// the column and what was expected there.
#include "json.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <map>

namespace {

// Containers inside the outermost one.
constexpr int kMaxDepth = 64;

using Json = nlohmann::json;

// "line L, column C" of byte offset `pos` (0-based) of `text`.
std::string where(const std::string& text, size_t pos) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < pos && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The library names tokens in its own words; these read better in a
// configuration error.
std::string tokenWords(std::string s) {
    const std::pair<const char*, const char*> words[] = {
        {"string literal", "a string key"},
        {"end of input", "the end of the text"},
        {"'[', '{', or a literal", "a value"},
        {"value", "a value"},
        {"number literal", "a number"},
        {"literal", "a value"},
    };
    for (const auto& [from, to] : words)
        if (s == from) return to;
    return s;
}

// The library's text after "parse error ... : " is
// "syntax error while parsing <context> - <problem>[; expected <token>]".
std::string syntaxReason(const std::string& what, const std::string& text, size_t at) {
    std::string s = what;
    const size_t colon = s.find(": ");
    if (colon != std::string::npos) s = s.substr(colon + 2);
    const size_t dash = s.find(" - ");
    if (dash != std::string::npos) s = s.substr(dash + 3);
    const size_t expected = s.find("; expected ");
    std::string problem = expected == std::string::npos ? s : s.substr(0, expected);
    // "01" reads as the number 0 followed by another number.
    const auto digit = [&](size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    if (problem.find("unexpected number literal") != std::string::npos && at >= 1 && at < text.size() &&
        digit(at) && text[at - 1] == '0' && (at < 2 || (!digit(at - 2) && text[at - 2] != '.')))
        return "leading zero in a number";
    if (problem.rfind("invalid string: control character", 0) == 0) return "control character inside a string";
    if (problem.rfind("invalid string: missing closing quote", 0) == 0) return "unterminated string";
    if (problem.rfind("invalid string: forbidden character after backslash", 0) == 0)
        return "unknown escape in string";
    if (problem.rfind("invalid string: '\\u' must be followed by 4 hex digits", 0) == 0)
        return "expected four hex digits after \\u";
    if (problem.rfind("invalid string: surrogate", 0) == 0) return "unpaired surrogate";
    if (problem.rfind("invalid number", 0) == 0) return "expected a digit";
    if (problem.rfind("invalid literal", 0) == 0) return "expected a value";
    if (expected != std::string::npos) return "expected " + tokenWords(s.substr(expected + 11));
    if (problem.rfind("unexpected end of input", 0) == 0) return "unexpected end of text, expected a value";
    return problem;
}

// Builds the value tree from the parser's events.
class Builder : public nlohmann::json_sax<Json> {
public:
    explicit Builder(const std::string& text) : text_(text) {}

    bool null() override { return put(JsonValue{}); }
    bool boolean(bool v) override {
        JsonValue j;
        j.kind = JsonValue::Kind::Bool;
        j.boolean = v;
        return put(std::move(j));
    }
    bool number_integer(number_integer_t v) override { return putInteger(int64_t(v), true); }
    bool number_unsigned(number_unsigned_t v) override {
        // Above the 64-bit signed range the literal is kept as a non-integral number.
        if (v > uint64_t(INT64_MAX)) return putNumber(double(v));
        return putInteger(int64_t(v), true);
    }
    bool number_float(number_float_t v, const string_t&) override { return putNumber(v); }
    bool string(string_t& v) override {
        JsonValue j;
        j.kind = JsonValue::Kind::String;
        j.text = std::move(v);
        return put(std::move(j));
    }
    bool binary(binary_t&) override { return fail(0, "binary values are not JSON"); }

    bool start_object(std::size_t) override { return open(JsonValue::Kind::Object); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(JsonValue::Kind::Array); }
    bool end_array() override { return close(); }

    bool key(string_t& k) override {
        JsonValue& obj = *stack_.back();
        for (const auto& member : obj.members)
            if (member.first == k) return fail(keyPos(k), "duplicate key \"" + k + "\"");
        ++keysSeen_[k];
        key_ = std::move(k);
        return true;
    }

    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
        // `position` counts the bytes read, the offending one included.
        const size_t at = position > 0 ? position - 1 : 0;
        if (done_) return fail(at, "unexpected text after the value");
        return fail(at, syntaxReason(ex.what(), text_, at));
    }

    JsonValue root;
    std::string error;

private:
    bool fail(size_t pos, const std::string& what) {
        if (error.empty()) error = where(text_, pos) + ": " + what;
        return false;
    }

    // Position of the key just read. The library reports none for events:
    // the duplicate is taken to be the next occurrence of the quoted key in
    // the text after the ones already seen as keys.
    size_t keyPos(const std::string& k) {
        const std::string quotedKey = "\"" + k + "\"";
        size_t found = text_.find(quotedKey);
        for (int seen = keysSeen_[k]; seen > 0 && found != std::string::npos; --seen)
            found = text_.find(quotedKey, found + 1);
        return found == std::string::npos ? 0 : found;
    }

    bool putInteger(int64_t v, bool integral) {
        JsonValue j;
        j.kind = JsonValue::Kind::Number;
        j.integral = integral;
        j.integer = v;
        j.number = double(v);
        return put(std::move(j));
    }
    bool putNumber(double v) {
        JsonValue j;
        j.kind = JsonValue::Kind::Number;
        j.number = v;
        return put(std::move(j));
    }

    // Places a finished value into its parent, or as the root.
    JsonValue* place(JsonValue&& v) {
        if (stack_.empty()) {
            done_ = v.kind != JsonValue::Kind::Array && v.kind != JsonValue::Kind::Object;
            root = std::move(v);
            return &root;
        }
        JsonValue& parent = *stack_.back();
        if (parent.kind == JsonValue::Kind::Array) {
            parent.items.push_back(std::move(v));
            return &parent.items.back();
        }
        parent.members.emplace_back(std::move(key_), std::move(v));
        return &parent.members.back().second;
    }
    bool put(JsonValue&& v) {
        place(std::move(v));
        return true;
    }

    bool open(JsonValue::Kind kind) {
        if (int(stack_.size()) > kMaxDepth) return fail(depthPos(), "nesting too deep");
        JsonValue v;
        v.kind = kind;
        stack_.push_back(place(std::move(v)));
        return true;
    }
    bool close() {
        stack_.pop_back();
        done_ = stack_.empty();
        return true;
    }

    // The bracket that goes one level too deep: the (kMaxDepth + 1)-th
    // unclosed '[' or '{' outside strings.
    size_t depthPos() const {
        int depth = 0;
        bool inString = false;
        for (size_t i = 0; i < text_.size(); ++i) {
            const char c = text_[i];
            if (inString) {
                if (c == '\\') ++i;
                else if (c == '"') inString = false;
                continue;
            }
            if (c == '"') inString = true;
            if (c == '[' || c == '{') {
                if (++depth > kMaxDepth + 1) return i;
            }
            if (c == ']' || c == '}') --depth;
        }
        return 0;
    }

    const std::string& text_;
    std::map<std::string, int> keysSeen_;
    bool done_ = false;  // the outermost value is complete
    std::vector<JsonValue*> stack_;  // open containers; pointers stay valid while their parent is open
    std::string key_;
};

}  // namespace

// Containers are filled in place: a child's address is taken only while it
// is the last element of its open parent, and nothing is appended to that
// parent until the child is closed, so the pointers on the stack stay valid.
bool jsonParse(const std::string& text, JsonValue* out, std::string* err) {
    Builder b(text);
    const bool ok = Json::sax_parse(text, &b, Json::input_format_t::json, true, false) && b.error.empty();
    if (!ok) {
        if (err != nullptr) *err = b.error.empty() ? "not a JSON text" : b.error;
        return false;
    }
    *out = std::move(b.root);
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
