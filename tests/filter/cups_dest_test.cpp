// Option lookup without a print server: parsing of the job options, the
// defaults for a missing destination, and the reading of integer choices.
// The lookups against a real server (destination and job options over the
// PPD default) run in the e2e suite with a private cupsd.

#include <string>

#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "cups_dest.h"

namespace {

using quill_test::LogCapture;
using spdlog::level::debug;
using spdlog::level::warn;

TEST(CupsOptions, ParsesTheJobOptionsAndLogsEach) {
  LogCapture log;
  cups::Options opts("CustomColorMode=2 media=A4 noduplex");
  ASSERT_EQ(opts.count(), 3);
  EXPECT_STREQ(cupsGetOption("CustomColorMode", opts.count(), opts.options()), "2");
  EXPECT_EQ(log.Count(debug, "parse 3 options"), 1);
  // One record per option, numbered from 0, in the order libcups keeps them.
  for (int i = 0; i < opts.count(); ++i) {
    std::string expected = std::to_string(i) + ": " + opts.options()[i].name + "=" +
                           opts.options()[i].value;
    EXPECT_EQ(log.Count(debug, expected), 1) << expected;
  }
}

TEST(CupsOptions, EmptyAndNullArgumentsGiveNoOptions) {
  LogCapture log;
  cups::Options empty("");
  cups::Options none(nullptr);
  EXPECT_EQ(empty.count(), 0);
  EXPECT_EQ(none.count(), 0);
  EXPECT_EQ(log.Count(debug, "parse 0 options"), 2);
}

TEST(CupsDest, NullNameLooksUpNothingAndAnswersDefaults) {
  LogCapture log;
  cups::Dest dest(nullptr);
  dest.parse_arg("CustomColorMode=2");
  EXPECT_FALSE(dest.has_ppd());
  EXPECT_EQ(dest.get_option<int>("CustomColorMode", -1), -1);
  EXPECT_EQ(dest.get_option<std::string>("CustomColorMode", "x"), "x");
  EXPECT_EQ(log.Count(debug, "CustomColorMode not found"), 2);
  EXPECT_FALSE(log.Contains("failed to get dest"));
}

TEST(CupsDest, UnknownDestinationWarnsAndAnswersDefaults) {
  LogCapture log;
  cups::Dest dest("quill-no-such-queue");
  EXPECT_EQ(log.Count(warn, "failed to get dest"), 1);
  // Without job options every lookup gives the default.
  EXPECT_EQ(dest.get_option<int>("CustomColorMode", -1), -1);
  dest.parse_arg("CustomColorMode=2");
  EXPECT_EQ(dest.get_option<int>("CustomColorMode", -1), -1);
  EXPECT_EQ(dest.get_option<int>(nullptr, 5), 5);
  EXPECT_EQ(log.Count(debug, "(null) not found"), 1);
}

TEST(CupsDest, IntegerChoicesReadAsDecimalNumbers) {
  LogCapture log;
  EXPECT_EQ(cups::ChoiceToInt("CustomColorMode", "2", -1), 2);
  EXPECT_EQ(cups::ChoiceToInt("CustomColorMode", "  -3", -1), -3);
  EXPECT_EQ(cups::ChoiceToInt("CustomColorMode", "+7", -1), 7);
  EXPECT_EQ(cups::ChoiceToInt("CustomColorMode", "010", -1), 10);  // decimal, not octal
  EXPECT_EQ(cups::ChoiceToInt("CustomColorMode", "2dpi", -1), 2);  // trailing text ignored
  EXPECT_TRUE(log.Records().empty());
}

TEST(CupsDest, ChoicesThatAreNoNumberWarnAndGiveTheDefault) {
  LogCapture log;
  EXPECT_EQ(cups::ChoiceToInt("CustomColorMode", "RedBlack", -1), -1);
  EXPECT_EQ(log.Count(warn, "CustomColorMode=RedBlack is not a decimal number, using -1"), 1);
  EXPECT_EQ(cups::ChoiceToInt("CustomColorMode", "99999999999", 0), 0);
  EXPECT_EQ(log.Count(warn, "CustomColorMode=99999999999 is out of range, using 0"), 1);
}

}  // namespace
