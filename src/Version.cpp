#include "Version.h"

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
}
