// The main window's menu commands in one table: their ids, captions and places. The program
// builds its actions and its menu from it; the tests choose and check menu items by it (Wine
// lets no other process read a menu).
#pragma once

#include <string_view>

enum class MenuCommand : unsigned {
  Separator = 0,
  Close = 101,          // 終了
  Voiseproperty = 103,  // 設定 → 声の設定
  Yomikata = 104,       // 設定 → 読み方の設定
  Help = 106,           // ヘルプ → 目次
  Version = 107,        // ヘルプ → バージョン情報
  OCXVer = 109,         // ヘルプ → コントロールバージョン
  EnginVer = 110,       // ヘルプ → 合成エンジンバージョン
};

struct MenuEntry {
  MenuCommand id;
  const char* caption;  // Shift-JIS
  const char* parent;   // the drop-down's caption; null: on the menu bar itself
};

// In menu order, left to right and top to bottom.
inline constexpr MenuEntry kMenuEntries[] = {
    {MenuCommand::Close, "終了", nullptr},
    {MenuCommand::Voiseproperty, "声の設定", "設定"},
    {MenuCommand::Yomikata, "読み方の設定", "設定"},
    {MenuCommand::Help, "目次", "ヘルプ"},
    {MenuCommand::Version, "バージョン情報", "ヘルプ"},
    {MenuCommand::Separator, "-", "ヘルプ"},
    {MenuCommand::OCXVer, "コントロールバージョン", "ヘルプ"},
    {MenuCommand::EnginVer, "合成エンジンバージョン", "ヘルプ"},
};

// The action list's order.
inline constexpr MenuCommand kActionOrder[] = {
    MenuCommand::Close,         MenuCommand::Version,  MenuCommand::OCXVer, MenuCommand::EnginVer,
    MenuCommand::Voiseproperty, MenuCommand::Yomikata, MenuCommand::Help,
};

inline constexpr const char* CaptionOf(MenuCommand id) {
  for (const MenuEntry& entry : kMenuEntries)
    if (entry.id == id) return entry.caption;
  return "";
}

// The command of a caption; Separator when no item has it.
inline MenuCommand CommandOf(std::string_view caption) {
  for (const MenuEntry& entry : kMenuEntries)
    if (entry.id != MenuCommand::Separator && caption == entry.caption) return entry.id;
  return MenuCommand::Separator;
}
