// The texts of the errors that reach the user, in one place: the framework's and the program's
// own, and those that are pure formatting. Shift-JIS, spelled as bytes so that they come out the
// same whatever execution character set the compiler uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace koe {

namespace text {
// "不明なエラーが発生しました": an error that is no error of ours or of the system.
inline constexpr char kUnknownError[] = "\x95s\x96\xBE\x82\xC8\x83G\x83\x89\x81[\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
// "ウィンドウを作成できません": a form's window could not be made.
inline constexpr char kCannotCreateWindow[] = "\x83\x45\x83\x42\x83\x93\x83h\x83\x45\x82\xF0\x8D\xEC\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
// "コントロールを作成できません": a child window could not be made.
inline constexpr char kCannotCreateControl[] = "\x83R\x83\x93\x83g\x83\x8D\x81[\x83\x8B\x82\xF0\x8D\xEC\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
// "表示中のウィンドウはモーダルにできません": ShowModal on a form already shown.
inline constexpr char kCannotShowModal[] = "\x95\x5C\x8E\xA6\x92\x86\x82\xCC\x83\x45\x83\x42\x83\x93\x83h\x83\x45\x82\xCD\x83\x82\x81[\x83_\x83\x8B\x82\xC9\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
// "OLE コントロールのアクティベートに失敗しました": the control offers no in-place object.
inline constexpr char kControlActivationFailed[] = "OLE \x83R\x83\x93\x83g\x83\x8D\x81[\x83\x8B\x82\xCC\x83\x41\x83N\x83\x65\x83\x42\x83x\x81[\x83g\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
// "表にないセルまたは列です": a grid cell or column that the grid does not have.
inline constexpr char kNoSuchGridCell[] = "\x95\x5C\x82\xC9\x82\xC8\x82\xA2\x83Z\x83\x8B\x82\xDC\x82\xBD\x82\xCD\x97\xF1\x82\xC5\x82\xB7";
// "アプリケーション エラー": the caption of the last-resort box.
inline constexpr char kStartupErrorCaption[] = "\x83\x41\x83v\x83\x8A\x83P\x81[\x83V\x83\x87\x83\x93 \x83G\x83\x89\x81[";
}  // namespace text

// The standard error box shows the message with "." appended when it is not empty and its
// last byte sorts above ".".
std::string ErrorBoxText(std::string_view message);

// A control's exception description with trailing bytes up to 0x20 and full stops removed.
std::string TrimExceptionDescription(std::string_view description);

// "OLE エラー %.8x": the text for a COM status the system has no message for.
std::string UnknownOleErrorText(std::uint32_t status);

// The last-resort box of a failed start-up:
// "<kind>がモジュール <module> の <offset> で発生しました。\r\n<message><.>"
std::string StartupErrorText(std::string_view kind, std::string_view module, std::uint32_t offset,
                             std::string_view message);

// "<file> に書き込めません": the settings file refused a write.
std::string CannotWriteText(std::string_view file);

// "<file> を読み込めないため、設定を保存しませんでした: <reason>": the settings file is there
// but could not be read (held by another program, access denied, a read that failed), so that a
// save would replace it by less than it holds; nothing was written.
std::string CannotReadText(std::string_view file, std::string_view reason);

// The readings list was kept but not saved, because the settings file was there but could not be
// read at start-up (the list in use is not the file's):
// "読み方は保存されませんでした: 起動したときに <file> を読み込めなかったため、ファイルにある
// 読み方を上書きしません。編集した読み方は Koemado を終了するまで使われます。保存するには、
// Koemado を起動し直してください。読み込めなかった理由: <reason>"
std::string ReadingsNotReadText(std::string_view file, std::string_view reason);

// The readings list was kept but not saved, because the system's code page is not Shift-JIS:
// "読み方は保存されませんでした: この Windows の文字コード (コード ページ <code page>) がシフト
// JIS (932) ではないため、設定ファイルに書き込むと日本語が壊れます。編集した読み方は Koemado を
// 終了するまで使われます。保存するには、コントロール パネルの [地域] の [管理] にある [システム
// ロケールの変更] で「日本語 (日本)」を選び、「ベータ: ワールドワイド言語サポートで Unicode UTF-8
// を使用」のチェックを外して、Windows を再起動してください"
std::string ReadingsNotSavedText(std::uint32_t code_page);

// "ヘルプ ファイル <path> を開けません": the manual could not be opened.
std::string CannotOpenHelpText(std::string_view path);

}  // namespace koe
