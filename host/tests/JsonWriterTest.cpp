// The JSON of the commands: strings escaped (quotes, backslashes, every control character,
// UTF-8 as it is), numbers to the nanometre with no "-0" and null when not finite, containers
// on lines or on one line nested in each other, and a writer used out of order refused.
#include "JsonWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace morlane {
namespace {

using Layout = JsonWriter::Layout;

TEST(JsonWriterTest, StringsEscapeQuotesBackslashesAndEveryControlCharacter) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("Plate \"A\" \\ 2"), "\"Plate \\\"A\\\" \\\\ 2\"");
  EXPECT_EQ(JsonString("a\nb\tc\rd"), "\"a\\u000ab\\u0009c\\u000dd\"");
  EXPECT_EQ(JsonString(std::string("x\0y", 3)), "\"x\\u0000y\"");
  EXPECT_EQ(JsonString("del\x7F"), "\"del\\u007f\"");
  // Every byte below 0x20 as \u00xx, lower-case hex digits.
  for (int c = 0; c < 0x20; ++c) {
    char want[8];
    std::snprintf(want, sizeof want, "\\u%04x", c);
    EXPECT_EQ(JsonString(std::string(1, static_cast<char>(c))), std::string("\"") + want + "\"")
        << c;
  }
  // Printable ASCII and UTF-8 are copied as they are.
  EXPECT_EQ(JsonString(" !~/'<>&"), "\" !~/'<>&\"");
  EXPECT_EQ(JsonString("\xD0\x92\xD0\xB0\xD0\xBB \xC2\xB5m \xE2\x80\xA8"),
            "\"\xD0\x92\xD0\xB0\xD0\xBB \xC2\xB5m \xE2\x80\xA8\"");
}

TEST(JsonWriterTest, NumbersAreRoundedWithoutMinusZeroAndNotFiniteOnesAreNull) {
  EXPECT_EQ(Number(0), "0");
  EXPECT_EQ(Number(-0.0), "0");
  EXPECT_EQ(Number(-1e-7), "0");  // below the last digit kept: no "-0"
  EXPECT_EQ(Number(40), "40");
  EXPECT_EQ(Number(-2.5), "-2.5");
  EXPECT_EQ(Number(1.23456789), "1.234568");
  EXPECT_EQ(Number(0.1 + 0.2), "0.3");
  EXPECT_EQ(Number(12345.678901), "12345.6789");  // ten significant digits
  EXPECT_EQ(Number(1e12), "1e+12");
  EXPECT_EQ(Number(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(Number(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(Number(-std::numeric_limits<double>::infinity()), "null");

  JsonWriter json;
  const double values[] = {1, std::nan(""), -0.0, 1.5};
  json.Numbers(values, 4);
  EXPECT_EQ(json.Text(), "[1, null, 0, 1.5]");
}

TEST(JsonWriterTest, ContainersOnLinesHoldContainersOnOneLineAndEmptyOnesAreClosedAtOnce) {
  JsonWriter json;
  const double box[] = {40, 0, 0, 100, 80, 8};
  json.BeginObject(Layout::Lines);
  json.Key("name").String("Model").Key("color").Null();
  json.Key("colors").BeginObject(Layout::Inline).Key("solids").Integer(5);
  json.Key("distinct").BeginArray(Layout::Inline).String("#040404").String("#D3AF38").End();
  json.Key("more").Bool(false).End();
  json.Key("box").Numbers(box, 6);
  json.Key("children").BeginArray(Layout::Lines);
  json.BeginObject(Layout::Lines).Key("name").String("Plate");
  json.Key("children").BeginArray(Layout::Lines).End().End();
  json.BeginObject(Layout::Lines).Key("on").Bool(true).End();
  json.End().End();
  EXPECT_EQ(json.Text(),
            "{\n"
            "  \"name\": \"Model\",\n"
            "  \"color\": null,\n"
            "  \"colors\": {\"solids\": 5, \"distinct\": [\"#040404\", \"#D3AF38\"], \"more\": "
            "false},\n"
            "  \"box\": [40, 0, 0, 100, 80, 8],\n"
            "  \"children\": [\n"
            "    {\n"
            "      \"name\": \"Plate\",\n"
            "      \"children\": []\n"
            "    },\n"
            "    {\n"
            "      \"on\": true\n"
            "    }\n"
            "  ]\n"
            "}");

  // Inside a container on one line, one asked for on lines stays on that line too.
  JsonWriter inlined;
  inlined.BeginArray(Layout::Lines).BeginObject(Layout::Inline).Key("grooves");
  inlined.BeginArray(Layout::Lines).BeginObject(Layout::Lines).Key("type").Integer(-3);
  inlined.End().BeginObject(Layout::Inline).End().End().End().BeginArray(Layout::Inline).End();
  inlined.End();
  EXPECT_EQ(inlined.Text(), "[\n  {\"grooves\": [{\"type\": -3}, {}]},\n  []\n]");

  JsonWriter empty;
  empty.BeginObject(Layout::Lines).End();
  EXPECT_EQ(empty.Text(), "{}");
}

TEST(JsonWriterTest, AWriterUsedOutOfOrderIsRefused) {
  auto refused = [](auto&& steps) {
    JsonWriter json;
    try {
      steps(json);
      json.Text();
    } catch (const std::logic_error&) {
      return true;
    }
    return false;
  };
  EXPECT_TRUE(refused([](JsonWriter& j) { j.BeginObject(Layout::Lines).String("x").End(); }));
  EXPECT_TRUE(refused([](JsonWriter& j) { j.BeginArray(Layout::Lines).Key("x"); }));
  EXPECT_TRUE(refused([](JsonWriter& j) { j.Key("x"); }));
  EXPECT_TRUE(refused([](JsonWriter& j) { j.BeginObject(Layout::Inline).Key("a").Key("b"); }));
  EXPECT_TRUE(refused([](JsonWriter& j) { j.BeginObject(Layout::Inline).Key("a").End(); }));
  EXPECT_TRUE(refused([](JsonWriter& j) { j.End(); }));
  EXPECT_TRUE(refused([](JsonWriter& j) { j.BeginArray(Layout::Inline); }));  // left open
  EXPECT_TRUE(refused([](JsonWriter&) {}));                                   // nothing written
  EXPECT_TRUE(refused([](JsonWriter& j) { j.Null().Null(); }));
  EXPECT_FALSE(refused([](JsonWriter& j) { j.BeginArray(Layout::Inline).Null().End(); }));
}

}  // namespace
}  // namespace morlane
