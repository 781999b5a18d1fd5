#include "base/json.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace mossbank {
namespace {

JsonValue parsed(std::string_view text) {
  auto v = parse_json(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v.value_or(JsonValue());
}

// Expected texts are what node v20 printed for JSON.stringify(JSON.parse(input)).
TEST(ToJsJson, AgreesWithJsonStringify) {
  struct Case {
    const char* input;
    const char* expected;
  };
  const Case cases[] = {
      {"1e21", "1e+21"},
      {"1e-7", "1e-7"},
      {"5e-324", "5e-324"},
      {"-0", "0"},
      {"9007199254740993", "9007199254740992"},
      {"0.30000000000000004", "0.30000000000000004"},
      {"123e-20", "1.23e-18"},
      {"0.000001", "0.000001"},
      {"0.0000001", "1e-7"},
      {"1.5e-7", "1.5e-7"},
      {"100", "100"},
      {"123456789012345680000", "123456789012345680000"},
      {"1.7976931348623157e308", "1.7976931348623157e+308"},
      {"2.2250738585072014e-308", "2.2250738585072014e-308"},
      {"4294967295", "4294967295"},
      {"-1.5", "-1.5"},
      {"1e20", "100000000000000000000"},
      {"1.2e21", "1.2e+21"},
      {"0.1", "0.1"},
      {"18446744073709551615", "18446744073709552000"},
      {"-9223372036854775808", "-9223372036854776000"},
      {"18446744073709551616", "18446744073709552000"},
      {"1.0", "1"},
      {"-1e-7", "-1e-7"},
      {"1e300", "1e+300"},
      {"123.456", "123.456"},
      {"0.001", "0.001"},
      {"25", "25"},
      {"[]", "[]"},
      {"{}", "{}"},
      {"null", "null"},
      {"true", "true"},
      {"[1,\"a\",null,false,{\"x\":[]}]", "[1,\"a\",null,false,{\"x\":[]}]"},
      {"{\"b\":1,\"2\":2,\"a\":3,\"10\":4,\"01\":5}",
       "{\"2\":2,\"10\":4,\"b\":1,\"a\":3,\"01\":5}"},
      {"{\"x\":3,\"4294967295\":1,\"4294967294\":2,\"0\":4,\"00\":5,\"-1\":6,\"1.5\":7,"
       "\"99999999999\":8,\"1\":9}",
       "{\"0\":4,\"1\":9,\"4294967294\":2,\"x\":3,\"4294967295\":1,\"00\":5,\"-1\":6,\"1.5\":7,"
       "\"99999999999\":8}"},
      {"{\"a\":1,\"b\":2,\"a\":3}", "{\"a\":3,\"b\":2}"},
      {"\"\\u2028\\u2029\\u007f\\u0000\\u0001\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\"",
       "\"\xe2\x80\xa8\xe2\x80\xa9\x7f\\u0000\\u0001\\u001f\\b\\t\\n\\f\\r\\\"\\\\/\""},
      {"\"\\ud83d\\ude00 \\u00e9 \\uFEFF\"", "\"\xf0\x9f\x98\x80 \xc3\xa9 \xef\xbb\xbf\""},
      {"{\"\\n\":\"\\u000b\"}", "{\"\\n\":\"\\u000b\"}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(to_js_json(parsed(c.input)), c.expected) << c.input;
  }
}

TEST(ToJsJson, ValuesBuiltInCode) {
  EXPECT_EQ(to_js_json(JsonValue(0.1 + 0.2)), "0.30000000000000004");
  EXPECT_EQ(to_js_json(JsonValue(-0.0)), "0");
  EXPECT_EQ(to_js_json(JsonValue(std::nan(""))), "null");
  EXPECT_EQ(to_js_json(JsonValue(std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(to_js_json(JsonValue(-std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(to_js_json(JsonValue(uint64_t{9007199254740993u})), "9007199254740992");
  EXPECT_EQ(to_js_json(JsonValue(int64_t{-42})), "-42");

  JsonValue obj = JsonValue::object();
  obj["b"] = 1;
  obj["2"] = true;
  obj["a"] = "x";
  obj["10"] = nullptr;
  obj["01"] = JsonValue::array({1, 2});
  EXPECT_EQ(to_js_json(obj), "{\"2\":true,\"10\":null,\"b\":1,\"a\":\"x\",\"01\":[1,2]}");

  // More than a handful of index keys, inserted backwards.
  JsonValue many = JsonValue::object();
  for (int i = 30; i >= 0; --i) many[std::to_string(i)] = i;
  std::string expected = "{";
  for (int i = 0; i <= 30; ++i)
    expected += (i ? ",\"" : "\"") + std::to_string(i) + "\":" + std::to_string(i);
  EXPECT_EQ(to_js_json(many), expected + "}");
}

TEST(ToJsJson, TextThatIsNotUtf8IsRepairedNotPassedOn) {
  JsonValue v = std::string(
      "a\xff"
      "b");
  EXPECT_EQ(to_js_json(v),
            "\"a\xef\xbf\xbd"
            "b\"");
  EXPECT_EQ(write_json_string("\x1f\x7f\xc3\xa9"), "\"\\u001f\x7f\xc3\xa9\"");
}

TEST(JsNumberToString, SpecialValues) {
  EXPECT_EQ(js_number_to_string(std::nan("")), "NaN");
  EXPECT_EQ(js_number_to_string(std::numeric_limits<double>::infinity()), "Infinity");
  EXPECT_EQ(js_number_to_string(-std::numeric_limits<double>::infinity()), "-Infinity");
  EXPECT_EQ(js_number_to_string(-0.0), "0");
  EXPECT_EQ(js_number_to_string(-1e21), "-1e+21");
  EXPECT_EQ(js_number_to_string(999999999999999868928.0), "999999999999999900000");
}

TEST(ParseJson, RepeatedKeyKeepsFirstPlaceAndLastValue) {
  JsonValue v = parsed(R"({"a":1,"b":2,"a":{"c":3}})");
  ASSERT_TRUE(v.is_object());
  auto it = v.begin();
  EXPECT_EQ(it.key(), "a");
  EXPECT_EQ(it.value(), JsonValue({{"c", 3}}));
  EXPECT_EQ((++it).key(), "b");
  EXPECT_EQ(v.size(), 2u);
}

TEST(ParseJson, Refusals) {
  const char* bad[] = {
      "",
      "   ",
      "\"\\ud800\"",         // lone high surrogate
      "\"\\udc00\"",         // lone low surrogate
      "\"\\ud800\\u0041\"",  // high surrogate not followed by a low one
      "1e400",               // beyond a double
      "-1e400",
      "[1e309]",
      "\xEF\xBB\xBF{}",  // byte order mark
      "{} x",            // trailing text
      "\"a\xff\"",       // not UTF-8
      "[1,]",
      "{\"a\" 1}",
      "01",
      "\"\x01\"",  // raw control character
      "NaN",
  };
  for (const char* text : bad) EXPECT_FALSE(parse_json(text).has_value()) << text;
}

TEST(ParseJson, Accepts) {
  EXPECT_EQ(parsed(" {\"a\" : [ 1 , 2 ] } \n"), JsonValue({{"a", {1, 2}}}));
  EXPECT_EQ(parsed("1e-400").get<double>(), 0.0);
  EXPECT_TRUE(parsed("18446744073709551616").is_number_float());
  EXPECT_EQ(parsed("\"\\ud83d\\ude00\"").get<std::string>(), "\xf0\x9f\x98\x80");
}

TEST(ParseJson, NestingLimit) {
  auto nested = [](size_t depth, bool objects) {
    std::string s;
    for (size_t i = 0; i < depth; ++i) s += objects ? "{\"k\":" : "[";
    s += "0";
    for (size_t i = 0; i < depth; ++i) s += objects ? "}" : "]";
    return s;
  };
  for (bool objects : {false, true}) {
    EXPECT_TRUE(parse_json(nested(kJsonMaxDepth, objects)).has_value()) << objects;
    EXPECT_FALSE(parse_json(nested(kJsonMaxDepth + 1, objects)).has_value()) << objects;
    EXPECT_FALSE(parse_json(nested(100000, objects)).has_value()) << objects;
  }
  // Depth counts open containers, not how many there are.
  std::string wide = "[";
  for (int i = 0; i < 1000; ++i) wide += i ? ",[[]]" : "[[]]";
  EXPECT_TRUE(parse_json(wide + "]").has_value());
}

TEST(JsToString, LikeString) {
  EXPECT_EQ(js_to_string(nullptr), "undefined");
  struct Case {
    const char* json;
    const char* expected;
  };
  const Case cases[] = {
      {"null", "null"},
      {"true", "true"},
      {"false", "false"},
      {"1e21", "1e+21"},
      {"-0", "0"},
      {"0.5", "0.5"},
      {"\"text\"", "text"},
      {"[1,null,[2,3],{}]", "1,,2,3,[object Object]"},
      {"[]", ""},
      {"[[],[[]]]", ","},
      {"[\"a\",true,1.5]", "a,true,1.5"},
      {"{\"a\":1}", "[object Object]"},
  };
  for (const Case& c : cases) EXPECT_EQ(js_to_string(parsed(c.json)), c.expected) << c.json;
  JsonValue obj = parsed(R"({"name":"Moss"})");
  EXPECT_EQ(js_to_string(json_member(obj, "name")), "Moss");
  EXPECT_EQ(js_to_string(json_member(obj, "missing")), "undefined");
  EXPECT_EQ(json_member(parsed("[1]"), "0"), nullptr);
}

TEST(JsonGetters, OnlyTheTypeAsked) {
  const JsonValue obj = parsed(R"({"s":"x","b":true,"n":2.5,"z":null,"i":3})");
  ASSERT_NE(json_string(obj, "s"), nullptr);
  EXPECT_EQ(*json_string(obj, "s"), "x");
  EXPECT_EQ(json_bool(obj, "b"), true);
  EXPECT_EQ(json_number(obj, "n"), 2.5);
  EXPECT_EQ(json_number(obj, "i"), 3.0);
  // another type, null, a missing key, and a value that is not an object
  for (std::string_view key : {"s", "b", "n", "z", "missing"}) {
    SCOPED_TRACE(std::string(key));
    if (key != "s") {
      EXPECT_EQ(json_string(obj, key), nullptr);
    }
    if (key != "b") {
      EXPECT_EQ(json_bool(obj, key), std::nullopt);
    }
    if (key != "n") {
      EXPECT_EQ(json_number(obj, key), std::nullopt);
    }
  }
  EXPECT_EQ(json_string(parsed(R"(["s"])"), "0"), nullptr);
  EXPECT_EQ(json_bool(parsed("true"), "b"), std::nullopt);
}

TEST(JsArrayJoin, Separator) {
  EXPECT_EQ(js_array_join(parsed(R"(["a",null,2,[3,[4,null]]])"), "; "), "a; ; 2; 3,4,");
  EXPECT_EQ(js_array_join(parsed("[]"), "; "), "");
}

TEST(JsTruthy, LikeBoolean) {
  EXPECT_FALSE(js_truthy(nullptr));
  struct Case {
    const char* json;
    bool expected;
  };
  const Case cases[] = {
      {"null", false}, {"false", false}, {"true", true},   {"0", false},    {"-0", false},
      {"0.0", false},  {"1", true},      {"-1", true},     {"\"\"", false}, {"\"0\"", true},
      {"[]", true},    {"{}", true},     {"5e-324", true},
  };
  for (const Case& c : cases) EXPECT_EQ(js_truthy(parsed(c.json)), c.expected) << c.json;
  EXPECT_FALSE(js_truthy(JsonValue(std::nan(""))));
}

TEST(IsArrayIndexKey, Table) {
  struct Case {
    const char* key;
    bool expected;
  };
  const Case cases[] = {
      {"0", true},           {"7", true},           {"10", true},   {"4294967294", true},
      {"4294967295", false}, {"9999999999", false}, {"01", false},  {"00", false},
      {"", false},           {"-1", false},         {"1.5", false}, {"12345678901", false},
      {"1a", false},         {"+1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_array_index_key(c.key), c.expected) << c.key;
}

TEST(ParseSemver, Table) {
  auto v = parse_semver("0.22.6");
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->pre_release.empty());
  EXPECT_EQ(v->major, 0);
  EXPECT_EQ(v->minor, 22);
  EXPECT_EQ(v->patch, 6);

  v = parse_semver(" 1.2.3-beta.1+build.5 ");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->pre_release, (std::vector<std::string>{"beta", "1"}));
  EXPECT_EQ(v->major, 1);
  EXPECT_EQ(v->minor, 2);
  EXPECT_EQ(v->patch, 3);

  v = parse_semver("1.2.3-rc-1.x-y");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->pre_release, (std::vector<std::string>{"rc-1", "x-y"}));

  v = parse_semver(
      "\xef\xbb\xbf"
      "10.20.30+meta-data.7");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->major, 10);
  EXPECT_TRUE(v->pre_release.empty());

  const char* bad[] = {"1.2", "1.2.x", "1.2.3+",    "1.2.3-a..b", "1.2.3-", "1.2.3.4", "",
                       "dev", "1..3",  "1.2.3+a+b", "1.2.3-a_b",  "-1.2.3", "v1.2.3",  "1.2. 3"};
  for (const char* text : bad) EXPECT_FALSE(parse_semver(text).has_value()) << text;
}

}  // namespace
}  // namespace mossbank
