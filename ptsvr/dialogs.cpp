#include "dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "edges.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ptsvr {
namespace {

// Ranges of the track bars; the number boxes take any value.
struct Row {
  const wchar_t* label;
  LONG low, high;
};
constexpr Row kRows[3] = {{L"速度", 50, 500}, {L"ピッチ", 40, 400}, {L"音量", 0, 65535}};
constexpr int kTrackId = 100, kEditId = 110, kVoiceId = 120;

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
  bool syncing = false;
};

LONG* Field(VoiceSettings& v, int row) { return row == 0 ? &v.speed : row == 1 ? &v.pitch : &v.volume; }

void SetTrack(HWND dlg, int row, LONG value) {
  SendDlgItemMessageW(dlg, kTrackId + row, TBM_SETPOS, TRUE,
                      std::clamp(value, kRows[row].low, kRows[row].high));
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
      state->syncing = true;
      for (int row = 0; row < 3; ++row) {
        HWND track = GetDlgItem(dlg, kTrackId + row);
        SendMessageW(track, TBM_SETRANGEMIN, FALSE, kRows[row].low);
        SendMessageW(track, TBM_SETRANGEMAX, FALSE, kRows[row].high);
        SendMessageW(track, TBM_SETPAGESIZE, 0, (kRows[row].high - kRows[row].low) / 10);
        SetTrack(dlg, row, *Field(*state->voice, row));
        SetDlgItemInt(dlg, kEditId + row, *Field(*state->voice, row), TRUE);
      }
      state->syncing = false;
      return TRUE;
    }
    case WM_HSCROLL:
      if (state && !state->syncing) {
        const int row = GetDlgCtrlID(reinterpret_cast<HWND>(lp)) - kTrackId;
        if (row >= 0 && row < 3) {
          state->syncing = true;
          SetDlgItemInt(dlg, kEditId + row,
                        static_cast<LONG>(SendDlgItemMessageW(dlg, kTrackId + row, TBM_GETPOS, 0, 0)),
                        TRUE);
          state->syncing = false;
        }
      }
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      if (HIWORD(wp) == EN_CHANGE && state && !state->syncing && id >= kEditId && id < kEditId + 3) {
        BOOL ok = FALSE;
        const LONG v = static_cast<LONG>(GetDlgItemInt(dlg, id, &ok, TRUE));
        if (ok) {
          state->syncing = true;
          SetTrack(dlg, id - kEditId, v);
          state->syncing = false;
        }
        return TRUE;
      }
      if (id == IDOK && state) {
        for (int row = 0; row < 3; ++row) {
          BOOL ok = FALSE;
          const LONG v = static_cast<LONG>(GetDlgItemInt(dlg, kEditId + row, &ok, TRUE));
          if (ok) *Field(*state->voice, row) = v;
        }
        const LRESULT voice = SendDlgItemMessageW(dlg, kVoiceId, CB_GETCURSEL, 0, 0);
        if (voice >= 0 && static_cast<std::size_t>(voice) < state->voices->size())
          *state->chosen = static_cast<std::size_t>(voice);
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
                             const std::wstring& no_voice) {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_BAR_CLASSES;
  InitCommonControlsEx(&icc);

  TemplateBuilder t;
  t.Header(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 13, 220,
           128, L"声の設定");
  t.Item(SS_LEFT, 7, 12, 30, 10, 0xFFFF, 0x0082, nullptr, L"音声");
  t.Item(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 40, 10, 173, 120, kVoiceId, 0x0085, nullptr,
         L"");
  for (short row = 0; row < 3; ++row) {
    const short y = static_cast<short>(34 + row * 24);
    t.Item(SS_LEFT, 7, y + 2, 30, 10, 0xFFFF, 0x0082, nullptr, kRows[row].label);
    t.Item(TBS_HORZ | TBS_NOTICKS | WS_TABSTOP, 40, y, 120, 15, kTrackId + row, 0,
           TRACKBAR_CLASSW, L"");
    t.Item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 165, y + 1, 48, 12, kEditId + row,
           0x0081, nullptr, L"");
  }
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 106, 108, 50, 14, IDOK, 0x0080, nullptr, L"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 163, 108, 50, 14, IDCANCEL, 0x0080, nullptr, L"キャンセル");

  DialogState state{&voice, &voices, &chosen, &no_voice};
  const INT_PTR result =
      DialogBoxIndirectParamW(reinterpret_cast<HINSTANCE>(&__ImageBase), t.Get(), owner,
                              DialogProc, reinterpret_cast<LPARAM>(&state));
  return result == IDOK;
}

}  // namespace ptsvr
