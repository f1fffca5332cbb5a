// The command ids of the main window's menu items. The program binds its actions to them; the
// tests choose menu items by them (Wine lets no other process read a menu).
#pragma once

namespace menu_command {
inline constexpr unsigned kClose = 101;            // 終了
inline constexpr unsigned kVoiseproperty = 103;    // 設定 → 声の設定
inline constexpr unsigned kYomikata = 104;         // 設定 → 読み方の設定
inline constexpr unsigned kHelp = 106;             // ヘルプ → 目次
inline constexpr unsigned kVersion = 107;          // ヘルプ → バージョン情報
inline constexpr unsigned kOCXVer = 109;           // ヘルプ → コントロールバージョン
inline constexpr unsigned kEnginVer = 110;         // ヘルプ → 合成エンジンバージョン
}  // namespace menu_command
