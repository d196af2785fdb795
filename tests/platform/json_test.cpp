#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "json.h"

namespace {

TEST(Json, RefusesWhatStrictJsonDoesNotAllow) {
    const std::pair<std::string, const char*> cases[] = {
        {"{} // note", "line 1, column 4: unexpected text after the value"},
        {"[01]", "line 1, column 3: leading zero in a number"},
        {"{\"a\":1,\n \"a\":2}", "line 2, column 2: duplicate key \"a\""},
        {"[\"a\nb\"]", "line 1, column 4: control character inside a string"},
        {"[\"\\udc00\"]", "line 1, column 9: unpaired low surrogate"},
        {"", "line 1, column 1: unexpected end of text, expected a value"},
        {std::string(66, '[') + std::string(66, ']'), "line 1, column 66: nesting too deep"},
    };
    for (const auto& [text, error] : cases) {
        JsonValue v;
        std::string err;
        EXPECT_FALSE(jsonParse(text, &v, &err)) << text;
        EXPECT_EQ(err, error) << text;
    }
}

}  // namespace
