#include <gtest/gtest.h>

#include <string>

#include "json.h"

namespace {

struct BadJson {
    const char* what;
    const char* text;
    const char* error;
};

TEST(Json, RefusesWhatStrictJsonDoesNotAllow) {
    const BadJson cases[] = {
        {"trailing comma in object", "{\"a\":1,}", "line 1, column 8: expected a string key"},
        {"trailing comma in list", "[1,]", "line 1, column 4: expected a value"},
        {"comment", "{} // note", "line 1, column 4: unexpected text after the value"},
        {"leading zero", "[01]", "line 1, column 3: leading zero in a number"},
        {"duplicate key", "{\"a\":1,\n \"a\":2}", "line 2, column 2: duplicate key \"a\""},
        {"raw newline in string", "[\"a\nb\"]", "line 1, column 4: control character inside a string"},
        {"unterminated string", "[\"abc", "line 1, column 6: unterminated string"},
        {"unknown escape", "[\"\\x\"]", "line 1, column 4: unknown escape in string"},
        {"lone low surrogate", "[\"\\udc00\"]", "line 1, column 9: unpaired low surrogate"},
        {"empty text", "", "line 1, column 1: unexpected end of text, expected a value"},
        {"single quotes", "{'a':1}", "line 1, column 2: expected a string key"},
        {"bare word", "[yes]", "line 1, column 2: expected a value"},
        {"missing colon", "{\"a\" 1}", "line 1, column 6: expected ':' after the key"},
        {"exponent without digits", "[1e]", "line 1, column 4: expected a digit in the exponent"},
    };
    for (const BadJson& c : cases) {
        JsonValue v;
        std::string err;
        EXPECT_FALSE(jsonParse(c.text, &v, &err)) << c.what;
        EXPECT_EQ(err, c.error) << c.what;
    }
}

TEST(Json, RefusesNestingBeyondTheLimit) {
    JsonValue v;
    std::string err;
    EXPECT_TRUE(jsonParse(std::string(64, '[') + std::string(64, ']'), &v, &err)) << err;
    EXPECT_FALSE(jsonParse(std::string(66, '[') + std::string(66, ']'), &v, &err));
    EXPECT_NE(err.find("nesting too deep"), std::string::npos) << err;
}

TEST(Json, ReadsNestedValuesInFileOrder) {
    JsonValue v;
    std::string err;
    const char* text =
        " {\"b\": [true, null, -12, 3.5, 1e2, 99999999999999999999],"
        " \"a\": {\"s\": \"x\\\"\\u00e9\\ud83d\\ude00\"}} ";
    ASSERT_TRUE(jsonParse(text, &v, &err)) << err;
    ASSERT_EQ(v.kind, JsonValue::Kind::Object);
    ASSERT_EQ(v.members.size(), 2u);
    EXPECT_EQ(v.members[0].first, "b");
    EXPECT_EQ(v.members[1].first, "a");
    const JsonValue& list = v.members[0].second;
    ASSERT_EQ(list.items.size(), 6u);
    EXPECT_TRUE(list.items[0].boolean);
    EXPECT_EQ(list.items[1].kind, JsonValue::Kind::Null);
    EXPECT_TRUE(list.items[2].integral);
    EXPECT_EQ(list.items[2].integer, -12);
    EXPECT_FALSE(list.items[3].integral);
    EXPECT_FALSE(list.items[4].integral) << "an exponent makes a number non-integral even when whole";
    EXPECT_FALSE(list.items[5].integral) << "beyond 64 bits";
    EXPECT_EQ(v.members[1].second.members[0].second.text, "x\"\xc3\xa9\xf0\x9f\x98\x80");
}

}  // namespace
