#include "dlgYOMI.h"

TdlgYomikata* dlgYomikata = nullptr;

namespace {

fw::FormLayout YomikataLayout() {
  fw::FormLayout layout;
  layout.class_name = "TdlgYomikata";
  layout.caption = "読み方の設定";
  layout.left = 478;
  layout.top = 144;
  layout.width = 556;
  layout.height = 370;
  layout.border = fw::BorderStyle::Sizeable;
  layout.font = {"ＭＳ Ｐゴシック", -12, SHIFTJIS_CHARSET};
  return layout;
}

}  // namespace

TdlgYomikata::TdlgYomikata() : fw::Form(YomikataLayout()) {}
