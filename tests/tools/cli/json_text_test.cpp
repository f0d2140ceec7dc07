// The two JSON layouts of the tools: separators, lines, numbers and text
// that needs escaping or is not UTF-8.

#include "tools/cli/JsonText.h"

#include <gtest/gtest.h>

namespace rd::cli {
namespace {

TEST(JsonText, LayoutsKeepKeyOrderAndNumbers) {
  const Json doc = {{"name", "a\"b\\c\n\x01"}, {"size", 4294967296ull},
                    {"seconds", 1.23456789},   {"list", {1, 3}},
                    {"none", nullptr},         {"rows", {{{"i", 0}}, {{"i", 1}}}}};
  EXPECT_EQ(CompactJson(doc),
            R"({"name":"a\"b\\c\n\u0001","size":4294967296,"seconds":1.23456789,"list":[1,3],)"
            R"("none":null,"rows":[{"i":0},{"i":1}]})");
  EXPECT_EQ(SpacedJson(doc),
            R"({"name": "a\"b\\c\n\u0001", "size": 4294967296, "seconds": 1.23457, )"
            R"("list": [1, 3], "none": null, "rows": [{"i": 0}, {"i": 1}]})");
  EXPECT_EQ(
      SpacedJson(doc, true),
      "{\"name\": \"a\\\"b\\\\c\\n\\u0001\",\n \"size\": 4294967296,\n \"seconds\": 1.23457,\n"
      " \"list\": [1, 3],\n \"none\": null,\n \"rows\": [\n  {\"i\": 0},\n  {\"i\": 1}\n ]}");
  EXPECT_EQ(SpacedJson(Json::array(), true), "[\n]");
}

TEST(JsonText, TextThatIsNotUtf8IsReplaced) {
  const Json doc = {{"file", std::string("x\xff.mys")}};
  EXPECT_EQ(CompactJson(doc), "{\"file\":\"x\xef\xbf\xbd.mys\"}");
  EXPECT_EQ(SpacedJson(doc), "{\"file\": \"x\xef\xbf\xbd.mys\"}");
}

}  // namespace
}  // namespace rd::cli
