#include "series/path_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace olvesk {
namespace {

// Every name Windows can hold, lone surrogates too, has one spelling in
// bytes and comes back from it unchanged.
TEST(PathBytesTest, KeepsEveryWindowsNameAndOnlyThose) {
  struct Case {
    std::u16string units;
    std::string bytes;
  };
  const Case kept[] = {
      {u"a.gns.car", "a.gns.car"},
      {u"\u00c6r\u00f8 \u65e5", "\xc3\x86r\xc3\xb8 \xe6\x97\xa5"},
      {u"\U0001F3C1.cup.car", "\xf0\x9f\x8f\x81.cup.car"},
      {u"x\xd800.gns.car", "x\xed\xa0\x80.gns.car"},
      {u"\xdfff", "\xed\xbf\xbf"},
      // A low surrogate before a high one is two lone ones.
      {u"\xdc00\xd800", "\xed\xb0\x80\xed\xa0\x80"},
  };
  for (const Case& c : kept) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(PathBytes(c.units), c.bytes);
    std::u16string units = u"left over";
    EXPECT_TRUE(PathUnits(c.bytes, &units));
    EXPECT_EQ(units, c.units);
  }

  const std::string refused[] = {
      "Citro\xebn.gns.car",             // Latin-1
      std::string("a.gns.car\0x", 11),  // would end the path early
      "\xc0\xae",                       // an overlong "."
      "\xf4\x90\x80\x80",               // beyond U+10FFFF
      "\xe6\x97",                       // cut short
      "\xed\xa0\xbd\xed\xb8\x80",       // a pair written as two
      "\x80",
  };
  for (const std::string& bytes : refused) {
    SCOPED_TRACE(bytes);
    std::u16string units = u"left over";
    EXPECT_FALSE(PathUnits(bytes, &units));
    EXPECT_TRUE(units.empty());
  }
}

// Every Linux name, UTF-8 or not, comes back from its text unchanged, and
// the bytes that are no UTF-8 each stand apart in it.
TEST(PathBytesTest, KeepsEveryLinuxName) {
  struct Case {
    std::string bytes;
    std::u16string units;
  };
  const Case kept[] = {
      {"a.gns.car", u"a.gns.car"},
      {"\xc3\x86r\xc3\xb8 \xf0\x9f\x8f\x81", u"\u00c6r\u00f8 \U0001F3C1"},
      {"Citro\xebn", u"Citro\xdcebn"},  // Latin-1
      {"\xe6\x97", u"\xdce6\xdc97"},    // cut short
      {"\xc0\xae", u"\xdcc0\xdcae"},    // an overlong "."
      // Surrogates written as UTF-8, one being the text of a kept byte.
      {"\xed\xb2\x80\xed\xa0\x80", u"\xdced\xdcb2\xdc80\xdced\xdca0\xdc80"},
      {"\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80"},  // beyond U+10FFFF
  };
  for (const Case& c : kept) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(UnitsKeepingBytes(c.bytes), c.units);
    EXPECT_EQ(BytesKeptInUnits(c.units), c.bytes);
  }
  // Lone surrogates that keep no byte.
  EXPECT_EQ(BytesKeptInUnits(u"\xd800-\xdc7f"), "\xef\xbf\xbd-\xef\xbf\xbd");
}

}  // namespace
}  // namespace olvesk
