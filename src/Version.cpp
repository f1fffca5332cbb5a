#include "Version.h"

#include <algorithm>

#include "koemado_version.h"

TAboutBox* AboutBox = nullptr;

namespace {

fw::FormLayout AboutBoxLayout() {
  fw::FormLayout layout;
  layout.class_name = "TAboutBox";
  layout.caption = "バージョン情報";
  layout.width = 353;
  layout.height = 154;
  layout.client_size = true;
  layout.border = fw::BorderStyle::Dialog;
  layout.position = fw::FormPosition::ScreenCenter;
  layout.font = {"ＭＳ Ｐゴシック", -12, SHIFTJIS_CHARSET};
  return layout;
}

const fw::FontSpec kLabelFont = {"System", -19, SHIFTJIS_CHARSET};
constexpr int kLabelMargin = 8;  // between a label's text and the panel's right edge

HICON ProgramIconImage() { return ::LoadIconA(::GetModuleHandleA(nullptr), "MAINICON"); }

}  // namespace

TAboutBox::TAboutBox()
    : fw::Form(AboutBoxLayout()),
      Panel1(*this, Handle(), 8, 8, 337, 105, fw::Panel::Bevel::Raised, fw::Panel::Bevel::Lowered),
      ProgramIcon(*this, Panel1.Handle(), 8, 16, 32, 32, ProgramIconImage()),
      ProductName(*this, Panel1.Handle(), "Koemado－みるふぉ用音声ソフト", 56, 8),
      Version(*this, Panel1.Handle(), "Version " KOE_VERSION_TEXT, 56, 32),
      Copyright(*this, Panel1.Handle(), "Copyright (C) Koemado developers", 8, 72),
      OKButton(*this, Handle(), "OK", 139, 124, 75, 25, {.modal_result = fw::mrOk, .is_default = true}) {
  ProductName.SetFont(kLabelFont);
  Version.SetFont(kLabelFont);
  Copyright.SetFont(kLabelFont);
  MakeRoomForTheLabels();
}

// The labels size themselves to their text in the System font, which is wider on some systems
// than the panel leaves room for: the panel and the dialog grow by what the widest one needs,
// with the margin the icon keeps on the left. Everything else stays where it is.
void TAboutBox::MakeRoomForTheLabels() {
  RECT panel{};
  ::GetWindowRect(Panel1.Handle(), &panel);
  int needed = 0;
  for (const fw::Label* label : {&ProductName, &Version, &Copyright}) {
    RECT r{};
    ::GetWindowRect(label->Handle(), &r);
    needed = std::max<int>(needed, r.right + kLabelMargin - panel.right);
  }
  if (needed <= 0) return;
  Panel1.SetBounds(8, 8, 337 + needed, 105);
  RECT outer{};
  ::GetWindowRect(Handle(), &outer);
  ::SetWindowPos(Handle(), nullptr, 0, 0, outer.right - outer.left + needed, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
