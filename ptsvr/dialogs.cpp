#include "dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "edges.h"
#include "voice_units.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ptsvr {
namespace {

// The track bars span what the voice does: 0.5 to 2 times its speed, an octave down and up, and
// silence to full volume. A value outside (from the settings file) stays as it is until its track
// bar is moved. Beside each, the value in the user's terms.
struct Row {
  const wchar_t* label;
  LONG low, high;
  std::u16string (*in_user_terms)(std::int32_t);
};
constexpr Row kRows[3] = {{L"速度", 90, 360, SpeedInUserTerms},
                          {L"高さ", 40, 160, PitchInUserTerms},
                          {L"音量", 0, 65535, VolumeInUserTerms}};
constexpr int kTrackId = 100, kValueId = 110, kVoiceId = 120, kPreviewId = 130;

// An in-memory dialog template, built item by item.
class TemplateBuilder {
 public:
  void Header(DWORD style, short items, short cx, short cy, const wchar_t* title) {
    DLGTEMPLATE t{};
    t.style = style;
    t.cdit = items;
    t.cx = cx;
    t.cy = cy;
    Append(&t, sizeof t);
    Word(0);  // no menu
    Word(0);  // standard class
    Text(title);
    Word(9);  // DS_SETFONT: point size and face
    Text(L"MS UI Gothic");
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
            const wchar_t* cls, const wchar_t* text) {
    Align();
    DLGITEMTEMPLATE it{};
    it.style = style | WS_CHILD | WS_VISIBLE;
    it.x = x;
    it.y = y;
    it.cx = cx;
    it.cy = cy;
    it.id = id;
    Append(&it, sizeof it);
    if (cls) {
      Text(cls);
    } else {
      Word(0xFFFF);
      Word(atom);
    }
    Text(text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Append(const void* p, size_t bytes) {
    const WORD* w = static_cast<const WORD*>(p);
    words_.insert(words_.end(), w, w + bytes / 2);
  }
  void Word(WORD w) { words_.push_back(w); }
  void Text(const wchar_t* s) { Append(s, (wcslen(s) + 1) * 2); }
  void Align() {
    if (words_.size() % 2) words_.push_back(0);  // DWORD alignment
  }
  std::vector<WORD> words_;
};

struct DialogState {
  VoiceSettings* voice;
  const std::vector<VoiceOption>* voices;
  std::size_t* chosen;
  const std::wstring* no_voice;
  const VoicePreview* preview;
  VoiceSettings shown;  // the values as the dialog stands
};

LONG* Field(VoiceSettings& v, int row) { return row == 0 ? &v.speed : row == 1 ? &v.pitch : &v.volume; }

void ShowValue(HWND dlg, int row, LONG value) {
  const std::u16string text = kRows[row].in_user_terms(value);
  SetDlgItemTextW(dlg, kValueId + row, reinterpret_cast<const wchar_t*>(text.c_str()));
}

void FillVoices(HWND dlg, const DialogState& state) {
  HWND combo = GetDlgItem(dlg, kVoiceId);
  if (state.voices->empty()) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(state.no_voice->c_str()));
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    EnableWindow(combo, FALSE);
    return;
  }
  for (const auto& v : *state.voices)
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(v.name.c_str()));
  if (*state.chosen < state.voices->size()) SendMessageW(combo, CB_SETCURSEL, *state.chosen, 0);
}

INT_PTR HandleDialogMessage(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      state = reinterpret_cast<DialogState*>(lp);
      FillVoices(dlg, *state);
      state->shown = *state->voice;
      for (int row = 0; row < 3; ++row) {
        HWND track = GetDlgItem(dlg, kTrackId + row);
        SendMessageW(track, TBM_SETRANGEMIN, FALSE, kRows[row].low);
        SendMessageW(track, TBM_SETRANGEMAX, FALSE, kRows[row].high);
        SendMessageW(track, TBM_SETPAGESIZE, 0, (kRows[row].high - kRows[row].low) / 10);
        SendMessageW(track, TBM_SETPOS, TRUE,
                     std::clamp(*Field(state->shown, row), kRows[row].low, kRows[row].high));
        ShowValue(dlg, row, *Field(state->shown, row));
      }
      EnableWindow(GetDlgItem(dlg, kPreviewId), !state->voices->empty());
      return TRUE;
    }
    case WM_HSCROLL:
      if (state) {
        const int row = GetDlgCtrlID(reinterpret_cast<HWND>(lp)) - kTrackId;
        if (row >= 0 && row < 3) {
          *Field(state->shown, row) =
              static_cast<LONG>(SendDlgItemMessageW(dlg, kTrackId + row, TBM_GETPOS, 0, 0));
          ShowValue(dlg, row, *Field(state->shown, row));
        }
      }
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      const LRESULT voice = SendDlgItemMessageW(dlg, kVoiceId, CB_GETCURSEL, 0, 0);
      const bool listed = state && voice >= 0 && static_cast<std::size_t>(voice) < state->voices->size();
      if (id == kPreviewId && state) {
        if (listed && *state->preview) (*state->preview)(state->shown, static_cast<std::size_t>(voice));
        return TRUE;
      }
      if (id == IDOK && state) {
        *state->voice = state->shown;
        if (listed) *state->chosen = static_cast<std::size_t>(voice);
        EndDialog(dlg, IDOK);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
        return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  return WindowEdge<INT_PTR>(FALSE, [&] { return HandleDialogMessage(dlg, msg, wp, lp); });
}

}  // namespace

bool ShowVoiceSettingsDialog(HWND owner, VoiceSettings& voice,
                             const std::vector<VoiceOption>& voices, std::size_t& chosen,
                             const std::wstring& no_voice, const VoicePreview& preview) {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_BAR_CLASSES;
  InitCommonControlsEx(&icc);

  TemplateBuilder t;
  t.Header(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 14, 220,
           128, L"声の設定");
  t.Item(SS_LEFT, 7, 12, 30, 10, 0xFFFF, 0x0082, nullptr, L"音声");
  t.Item(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 40, 10, 173, 120, kVoiceId, 0x0085, nullptr,
         L"");
  for (short row = 0; row < 3; ++row) {
    const short y = static_cast<short>(34 + row * 24);
    t.Item(SS_LEFT, 7, y + 2, 30, 10, 0xFFFF, 0x0082, nullptr, kRows[row].label);
    t.Item(TBS_HORZ | TBS_NOTICKS | WS_TABSTOP, 40, y, 120, 15, kTrackId + row, 0,
           TRACKBAR_CLASSW, L"");
    t.Item(SS_LEFT | SS_NOPREFIX, 165, y + 2, 48, 10, kValueId + row, 0x0082, nullptr, L"");
  }
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 7, 108, 50, 14, kPreviewId, 0x0080, nullptr, L"試聴(&P)");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 106, 108, 50, 14, IDOK, 0x0080, nullptr, L"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 163, 108, 50, 14, IDCANCEL, 0x0080, nullptr, L"キャンセル");

  DialogState state{&voice, &voices, &chosen, &no_voice, &preview, voice};
  const INT_PTR result =
      DialogBoxIndirectParamW(reinterpret_cast<HINSTANCE>(&__ImageBase), t.Get(), owner,
                              DialogProc, reinterpret_cast<LPARAM>(&state));
  return result == IDOK;
}

}  // namespace ptsvr
