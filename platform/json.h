// A small strict JSON reader for the platform configuration file.
// Strict means: one value per text, no comments, no trailing commas, no
// duplicate keys in an object, no control characters inside strings, no
// leading zeros, and nesting at most 64 deep.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool boolean = false;
    // Numbers: `integral` when the literal has no fraction or exponent and
    // fits 64 bits; then `integer` holds it exactly.
    bool integral = false;
    int64_t integer = 0;
    double number = 0;
    std::string text;                                        // String
    std::vector<JsonValue> items;                            // Array
    std::vector<std::pair<std::string, JsonValue>> members;  // Object, in file order

    // Declared here and defined below, once the type is complete: an
    // implicit destructor would be needed while the member pair type is
    // still being formed, which clang's checks refuse.
    JsonValue() = default;
    JsonValue(const JsonValue&) = default;
    JsonValue(JsonValue&&) = default;
    JsonValue& operator=(const JsonValue&) = default;
    JsonValue& operator=(JsonValue&&) = default;
    ~JsonValue();
};

inline JsonValue::~JsonValue() = default;

// Parses `text` into `out`. On failure returns false and sets `err` to
// "line L, column C: <what was expected>".
bool jsonParse(const std::string& text, JsonValue* out, std::string* err);

// Name of a kind for error messages ("an object", "a string", ...).
const char* jsonKindName(JsonValue::Kind kind);
