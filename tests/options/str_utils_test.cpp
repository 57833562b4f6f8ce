// Option strings and hex strings: the parsing rules every option of the
// library goes through.
#include "options/str_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

namespace {

TEST(StringlizeParamterTest, ParsesPairsFirstKeyWinsAndSkipsMalformedPieces) {
  StringlizeParamter p("a=1:b=2:a=3");
  EXPECT_EQ(p.get("a"), "1");
  EXPECT_EQ(p.get("b"), "2");
  EXPECT_EQ(p.to_string(), "a=1:b=2");

  StringlizeParamter q("x:=5:y==1");
  EXPECT_FALSE(q.has("x"));
  EXPECT_TRUE(q.has(""));
  EXPECT_EQ(q.get(""), "5");
  EXPECT_EQ(q.get("y"), "=1");

  StringlizeParamter trailing("a=1:");
  EXPECT_EQ(trailing.to_string(), "a=1");

  StringlizeParamter blanks(" k = v ::c=");
  EXPECT_EQ(blanks.get(" k "), " v ");
  EXPECT_TRUE(blanks.has("c"));
  EXPECT_EQ(blanks.get("c"), "");
}

TEST(StringlizeParamterTest, EmptyTextKeepsContentAndLoneSeparatorClears) {
  StringlizeParamter p("a=1:b=2");
  p.from_string("");
  EXPECT_EQ(p.to_string(), "a=1:b=2");
  p.from_string(":");
  EXPECT_EQ(p.to_string(), "");
  EXPECT_FALSE(p.has("a"));
}

TEST(StringlizeParamterTest, PrintsInKeyOrderAndGetInsertsAbsentKeys) {
  StringlizeParamter p;
  EXPECT_EQ(p.to_string(), "");
  p.put("b", "2");
  p.put("a", "1");
  EXPECT_EQ(p.to_string(), "a=1:b=2");
  p.put("gamma", "2.2");
  p.put("dither", "2");
  EXPECT_EQ(p.to_string(), "a=1:b=2:dither=2:gamma=2.2");

  EXPECT_FALSE(p.has("zz"));
  EXPECT_EQ(p.get("zz"), "");
  EXPECT_TRUE(p.has("zz"));
  EXPECT_EQ(p.to_string(), "a=1:b=2:dither=2:gamma=2.2:zz=");

  p.remove("zz");
  p.remove("not-there");
  EXPECT_EQ(p.to_string(), "a=1:b=2:dither=2:gamma=2.2");
  p.put("a", "9");
  EXPECT_EQ(p.get("a"), "9");
}

TEST(StringlizeParamterTest, IntegerReadingFollowsDecimalConversion) {
  StringlizeParamter p("sp= 42:plus=+7:neg=-3:tail=12abc:hex=0x1B:word=abc:big=3000000000:t=true");
  EXPECT_EQ(p.get_int("sp"), 42);
  EXPECT_EQ(p.get_int("plus"), 7);
  EXPECT_EQ(p.get_int("neg"), -3);
  EXPECT_EQ(p.get_int("tail"), 12);
  EXPECT_EQ(p.get_int("hex"), 0);
  EXPECT_THROW(p.get_int("word"), std::invalid_argument);
  EXPECT_THROW(p.get_int("big"), std::out_of_range);
  EXPECT_THROW(p.get_int("absent"), std::invalid_argument);
  EXPECT_THROW(p.get_bool("t"), std::invalid_argument);
  try {
    p.get_int("word");
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "stoi");
  }
}

TEST(StringlizeParamterTest, DoubleCarriesFloatPrecision) {
  StringlizeParamter p("g=2.2:h=0x1p-2:bad=x");
  EXPECT_EQ(p.get_double("g"), static_cast<double>(2.2f));
  EXPECT_NE(p.get_double("g"), 2.2);
  EXPECT_EQ(p.get_double("h"), 0.25);
  EXPECT_THROW(p.get_double("bad"), std::invalid_argument);
  p.put("huge", "1e300");
  EXPECT_THROW(p.get_double("huge"), std::out_of_range);
}

TEST(HexStringTest, DecodesPairsWithBadDigitsAsZero) {
  size_t len = 0;
  HexString a("1b 40");
  const uint8_t* bytes = a.to_array(len);
  ASSERT_EQ(len, 2u);
  EXPECT_EQ(bytes[0], 0x1B);
  EXPECT_EQ(bytes[1], 0x04);

  HexString b("1B40");
  std::vector<uint8_t> v{9, 9, 9};
  b.to_array(v);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x1B, 0x40}));

  HexString c("1B4");
  c.to_array(v);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x1B}));

  HexString d("GZ1,");
  d.to_array(v);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x00, 0x10}));
}

TEST(HexStringTest, PrintsUpperCasePairs) {
  HexString a("ff");
  EXPECT_STREQ(a.to_string(), "FF");
  HexString empty("");
  EXPECT_STREQ(empty.to_string(), "");
  const uint8_t raw[] = {0x1B, 0x0C, 0x00};
  HexString b;
  b.from_array(raw, sizeof raw);
  EXPECT_STREQ(b.to_string(), "1B0C00");
  b.from_string("abcdef");
  EXPECT_STREQ(b.to_string(), "ABCDEF");
}

TEST(StrToArrTest, FillsPairsAndZeroesMissingPieces) {
  std::array<int, 2> arr{};
  str_to_arr(std::string("10,-5"), arr);
  EXPECT_EQ(arr, (std::array<int, 2>{10, -5}));
  str_to_arr(std::string("7"), arr);
  EXPECT_EQ(arr, (std::array<int, 2>{7, 0}));
  str_to_arr(std::string(""), arr);
  EXPECT_EQ(arr, (std::array<int, 2>{0, 0}));
  str_to_arr(std::string("3,4,5"), arr);
  EXPECT_EQ(arr, (std::array<int, 2>{3, 4}));
  EXPECT_THROW(str_to_arr(std::string("x,1"), arr), std::invalid_argument);
}

}  // namespace
