// Error texts shown to the user.
#include "messages.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol.h"
#include "sjis_text.h"

namespace koe {
namespace {

// The program's identity as the client and the user see it; everything else uses these names.
TEST(Identity, WindowClassesCaptionAndTitle) {
  EXPECT_STREQ(kMainWindowClass, "TMainForm");
  EXPECT_EQ(std::string(kMainWindowCaption), "無題 - Koemado"_sj);
  EXPECT_STREQ(kApplicationClass, "TApplication");
  EXPECT_STREQ(kApplicationTitle, "Koemado V2.0");
}

TEST(ErrorBoxText, AppendsFullStopOnlyAfterBytesAboveIt) {
  const struct {
    std::string message, shown;
  } cases[] = {
      {"", ""},
      {"failed", "failed."},
      {"failed.", "failed."},
      {"failed!", "failed!"},   // '!' sorts below '.'
      {"failed-", "failed-"},   // '-' sorts below '.'
      {"failed/", "failed/."},  // '/' sorts above '.'
      {"書き込めません"_sj, "書き込めません."_sj},  // "ん" ends in 0xF1: compared unsigned
      {"x ", "x "},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorBoxText(c.message), c.shown) << c.message;
}

TEST(TrimExceptionDescription, RemovesTrailingBlanksAndFullStops) {
  const struct {
    std::string description, trimmed;
  } cases[] = {
      {"", ""},
      {"No voice.", "No voice"},
      {"No voice. \r\n", "No voice"},
      {"No voice . . .\t", "No voice"},
      {"...  ", ""},
      {"a.b", "a.b"},
      {"失敗。"_sj, "失敗。"_sj},  // the full-width full stop stays
      {std::string("x\0", 2), "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimExceptionDescription(c.description), c.trimmed);
}

TEST(UnknownOleErrorText, ShowsStatusInEightLowerCaseHexDigits) {
  EXPECT_EQ(UnknownOleErrorText(0x8000FFFFu), "OLE エラー 8000ffff"_sj);
  EXPECT_EQ(UnknownOleErrorText(0x1Au), "OLE エラー 0000001a"_sj);
  EXPECT_EQ(UnknownOleErrorText(0), "OLE エラー 00000000"_sj);
  // The literal is Shift-JIS: "エラー" is 83 47 83 89 81 5B.
  EXPECT_EQ(UnknownOleErrorText(0).substr(4, 6), "\x83\x47\x83\x89\x81\x5B");
}

TEST(StartupErrorText, FormatsTheLastResortMessage) {
  EXPECT_EQ(StartupErrorText("EOleSysError", "Koemado.exe", 0x0001A2bC, "クラスが登録されていません"_sj),
            "EOleSysErrorがモジュール Koemado.exe の 0001A2BC で発生しました。\r\n"_sj
            "クラスが登録されていません."_sj);
  EXPECT_EQ(StartupErrorText("E", "k.exe", 0, "done."),
            "Eがモジュール k.exe の 00000000 で発生しました。\r\ndone."_sj);
  EXPECT_EQ(StartupErrorText("E", "k.exe", 0xFFFFFFFF, ""),
            "Eがモジュール k.exe の FFFFFFFF で発生しました。\r\n"_sj);
  // Unlike the standard error box, any last byte other than '.' gets one.
  EXPECT_EQ(StartupErrorText("E", "k", 1, "oops!"),
            "Eがモジュール k の 00000001 で発生しました。\r\noops!."_sj);
}

}  // namespace
}  // namespace koe
