// The ground every Windows test stands on: a Japanese ANSI code page and Shift-JIS literals.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Platform, AnsiCodePageIsJapanese) { EXPECT_EQ(GetACP(), 932u); }

TEST(Platform, FullWidthSpaceLiteralIsShiftJisAndConvertsToU3000) {
  const char text[] = "　";
  ASSERT_EQ(sizeof(text), 3u);
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 0x81);
  EXPECT_EQ(static_cast<unsigned char>(text[1]), 0x40);
  wchar_t wide[4] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, 2, wide, 4), 1);
  EXPECT_EQ(wide[0], 0x3000);
}
