#include "command_line.h"

#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct ScanCase {
  const char* label;
  std::vector<const char*> args;  // without the program name
  bool help;
  bool lowGiven;
  bool highGiven;
  std::uint32_t low;
  std::int32_t high;
};

LuidArguments scan(std::vector<const char*> args) {
  args.insert(args.begin(), "brindle.exe");
  return scanCommandLine(static_cast<int>(args.size()), args.data());
}

class ScanTest : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, ReadsBothPartsOrStops) {
  const ScanCase& c = GetParam();
  const LuidArguments a = scan(c.args);
  EXPECT_EQ(a.helpRequested, c.help);
  EXPECT_EQ(a.lowGiven, c.lowGiven);
  EXPECT_EQ(a.highGiven, c.highGiven);
  if (c.lowGiven) {
    EXPECT_EQ(a.lowPart, c.low);
  }
  if (c.highGiven) {
    EXPECT_EQ(a.highPart, c.high);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ScanTest,
    testing::Values(
        ScanCase{"none", {}, false, false, false, 0, 0},
        ScanCase{"both", {"--luid-low", "1234", "--luid-high", "-1"}, false, true, true, 1234, -1},
        ScanCase{"only_low", {"--luid-low", "5"}, false, true, false, 5, 0},
        ScanCase{"trailing_high_has_no_value", {"--luid-low", "5", "--luid-high"}, false, true,
                 false, 5, 0},
        ScanCase{"help_after_both", {"--luid-low", "1", "--luid-high", "2", "--help"}, true, true,
                 true, 1, 2},
        ScanCase{"short_help", {"-h", "--luid-low", "1"}, true, false, false, 0, 0},
        ScanCase{"help_as_value", {"--luid-low", "--help", "--luid-high", "3"}, false, true, true,
                 0, 3},
        ScanCase{"unknown_ignored", {"--verbose", "--luid-low", "1", "--luid-high", "2", "extra"},
                 false, true, true, 1, 2},
        ScanCase{"last_repeat_wins", {"--luid-low", "1", "--luid-low", "7", "--luid-high", "2"},
                 false, true, true, 7, 2},
        ScanCase{"case_sensitive", {"--LUID-LOW", "1", "--luid-high", "2", "--HELP"}, false, false,
                 true, 0, 2},
        ScanCase{"option_as_value_of_option", {"--luid-high", "--luid-low", "9"}, false, false,
                 true, 0, 0}),
    LabelName{});

TEST(ScanCommandLine, SkipsNullEntriesAndNeverTakesOneAsAValue) {
  const char* args[] = {"brindle.exe", nullptr, "--luid-low", nullptr, "--luid-low", "4",
                        "--luid-high", "8"};
  const LuidArguments a = scanCommandLine(8, args);
  EXPECT_TRUE(a.lowGiven);
  EXPECT_EQ(a.lowPart, 4u);
  EXPECT_EQ(a.highPart, 8);
}

struct NumberCase {
  const char* text;
  std::uint32_t asUnsigned;
  std::int32_t asSigned;
};

class NumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberTest, ConvertsWithSaturation) {
  EXPECT_EQ(toUnsigned32(GetParam().text), GetParam().asUnsigned) << GetParam().text;
  EXPECT_EQ(toSigned32(GetParam().text), GetParam().asSigned) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumberTest,
    testing::Values(NumberCase{"0", 0u, 0}, NumberCase{"1234", 1234u, 1234},
                    NumberCase{"-1", 4294967295u, -1},
                    NumberCase{"4294967295", 4294967295u, 2147483647},
                    NumberCase{"4294967296", 4294967295u, 2147483647},
                    NumberCase{"-4294967295", 1u, -2147483647 - 1},
                    NumberCase{"-4294967296", 4294967295u, -2147483647 - 1},
                    NumberCase{"2147483647", 2147483647u, 2147483647},
                    NumberCase{"2147483648", 2147483648u, 2147483647},
                    NumberCase{"-2147483648", 2147483648u, -2147483647 - 1},
                    NumberCase{"-2147483649", 2147483647u, -2147483647 - 1},
                    NumberCase{"99999999999999999999999999", 4294967295u, 2147483647},
                    NumberCase{"-99999999999999999999999999", 4294967295u, -2147483647 - 1},
                    NumberCase{" +12x", 12u, 12}, NumberCase{"\t\n\v\f\r 7", 7u, 7},
                    NumberCase{"12abc", 12u, 12}, NumberCase{"0x10", 0u, 0},
                    NumberCase{"", 0u, 0}, NumberCase{"-", 0u, 0}, NumberCase{"+", 0u, 0},
                    NumberCase{"abc", 0u, 0}, NumberCase{"--5", 0u, 0},
                    NumberCase{"-0", 0u, 0}, NumberCase{"007", 7u, 7}));

}  // namespace
