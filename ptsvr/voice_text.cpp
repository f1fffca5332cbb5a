#include "voice_text.h"

#include <algorithm>

#include "voice_units.h"

namespace ptsvr {
namespace {

enum class CharClass { kBlank, kHiragana, kKatakana, kKanji, kLatin, kDigit, kOther };

CharClass ClassOf(char16_t c) {
  if (c == u' ' || c == u'\u3000') return CharClass::kBlank;
  if (c >= u'\u3041' && c <= u'\u309F') return CharClass::kHiragana;
  if ((c >= u'\u30A0' && c <= u'\u30FF') || (c >= u'\u31F0' && c <= u'\u31FF') ||
      (c >= u'\uFF66' && c <= u'\uFF9F'))
    return CharClass::kKatakana;
  if ((c >= u'\u3400' && c <= u'\u4DBF') || (c >= u'\u4E00' && c <= u'\u9FFF') ||
      (c >= u'\uF900' && c <= u'\uFAFF') || c == u'\u3005')
    return CharClass::kKanji;
  if ((c >= u'0' && c <= u'9') || (c >= u'\uFF10' && c <= u'\uFF19')) return CharClass::kDigit;
  if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'\uFF21' && c <= u'\uFF3A') ||
      (c >= u'\uFF41' && c <= u'\uFF5A') || (c >= u'\u00C0' && c <= u'\u024F'))
    return CharClass::kLatin;
  return CharClass::kOther;
}

bool EndsSentence(char16_t c) {
  return c == u'。' || c == u'．' || c == u'！' || c == u'？' || c == u'!' || c == u'?' || c == u'｡';
}

bool Closes(char16_t c) {
  return std::u16string_view(u"」』）)］]】〕〉》”’\"'｣").find(c) != std::u16string_view::npos;
}

bool BreaksWell(char16_t c) {
  return c == u'、' || c == u'，' || c == u',' || c == u'､' || ClassOf(c) == CharClass::kBlank;
}

// Whether a character of the Basic Multilingual Plane reaches the voice.
bool Kept(char16_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) return false;   // surrogates (pairs are dropped whole)
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;  // controls, tab and line ends aside
  if (c == 0xFEFF || c == 0xFFFE || c == 0xFFFF || (c >= 0xFDD0 && c <= 0xFDEF)) return false;
  return true;
}

class Splitter {
 public:
  std::vector<std::string> Take() {
    End();
    return std::move(pieces_);
  }

  // Adds one character of the text.
  void Add(char16_t c) {
    if (!piece_.empty() && ended_ && !Closes(c)) End();
    const CharClass cls = ClassOf(c);
    run_ = (!piece_.empty() && cls == run_class_) ? run_ + 1 : 1;
    run_class_ = cls;
    if (run_ > kMaxRunChars) {
      End();
      run_ = 1;
    }
    if (piece_.size() == kMaxPieceChars) SplitLong();
    piece_ += c;
    ended_ = ended_ ? Closes(c) || EndsSentence(c) : EndsSentence(c);
  }

  void End() {
    const bool blank = std::all_of(piece_.begin(), piece_.end(),
                                   [](char16_t c) { return ClassOf(c) == CharClass::kBlank; });
    if (!blank) pieces_.push_back(ToUtf8(piece_));  // no surrogate is left in it
    piece_.clear();
    ended_ = false;
  }

 private:
  // The piece is full: it ends at its last comma or blank in its second half, else here.
  void SplitLong() {
    std::size_t cut = piece_.size();
    for (std::size_t i = piece_.size(); i > piece_.size() / 2; --i)
      if (BreaksWell(piece_[i - 1])) {
        cut = i;
        break;
      }
    std::u16string rest = piece_.substr(cut);
    piece_.resize(cut);
    End();
    piece_ = std::move(rest);
  }

  std::vector<std::string> pieces_;
  std::u16string piece_;
  bool ended_ = false;  // the piece has seen its sentence end (closing brackets may follow)
  CharClass run_class_ = CharClass::kOther;
  std::size_t run_ = 0;
};

}  // namespace

std::vector<std::string> VoicePieces(std::u16string_view text) {
  Splitter splitter;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;  // a pair: outside the plane the dictionary knows
      continue;
    }
    if (c == u'\r' || c == u'\n') {
      splitter.End();
    } else if (c == u'\t') {
      splitter.Add(u' ');
    } else if (Kept(c)) {
      splitter.Add(c);
    }
  }
  return splitter.Take();
}

}  // namespace ptsvr
