// The utterance assembler against a deliberately plain second model of the same rules, over
// random readings lists, list edits and message streams; and the indexed lookup against the
// plain scan.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "assembler.h"
#include "entry_format.h"
#include "readings.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "disagreement: %s\n", what);
  std::abort();
}

struct SpeakFailed {};

// The model keeps its own copy of the entries and walks them for every character.
class Model {
 public:
  std::vector<std::string> entries;
  std::string buffer;
  bool nothing_to_speak = false;
  std::vector<std::string> events;

  void OnChar(std::uint32_t phase, std::uint32_t code, bool speak_fails) {
    if (phase == 0 || phase == 1) buffer = "";
    std::string text;
    text += static_cast<char>(code >> 8 & 0xFF);
    text += static_cast<char>(code & 0xFF);
    for (const std::string& entry : entries) {
      const std::vector<std::string> fields = koe::SplitEntry(entry);
      if (fields.size() == 1 && fields[0] == text) {
        text = "\x81\x40";
        break;
      }
      if (fields.size() == 2 && fields[0] == text) {
        text = fields[1];
        break;
      }
    }
    if (text != "\x81\x40") nothing_to_speak = false;
    buffer += text;
    if (phase == 0 || phase == 3) {
      if (nothing_to_speak) {
        events.push_back("done");
      } else {
        if (speak_fails) throw SpeakFailed{};
        events.push_back("speak:" + buffer);
      }
      nothing_to_speak = true;
    }
  }
};

std::optional<std::string> ModelLookup(const std::vector<std::string>& entries,
                                       const std::string& text) {
  for (const std::string& entry : entries) {
    const auto fields = koe::SplitEntry(entry);
    if (fields.size() == 1 && fields[0] == text) return std::string("\x81\x40");
    if (fields.size() == 2 && fields[0] == text) return fields[1];
  }
  return std::nullopt;
}

// Pieces that make keys collide and entries of every shape likely (Shift-JIS bytes: 亜, 　,
// －, あ, and characters whose trail byte is a comma or a quote).
const char* const kPieces[] = {"\x88\x9F", "AB", "A", ",", " ", "\"", "\x81\x40", "\x81\x7C",
                               "\x81", "\t", "\x82\xA0", "\x81\x2C", "\x81\x22", "\x00", "\x88"};
const std::uint32_t kCodes[] = {0x889F, 0x4142, 0x8140, 0x817C, 0x8164, 0x82A0, 0x812C,
                                0x8122, 0x0041, 0x4141, 0x2C2C, 0x2222};

std::string RandomEntry(FuzzedDataProvider& fdp) {
  if (fdp.ConsumeBool()) return fdp.ConsumeRandomLengthString(12);
  std::string e;
  const int n = fdp.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < n; ++i) {
    const std::size_t k = fdp.ConsumeIntegralInRange<std::size_t>(0, std::size(kPieces) - 1);
    e += k == 13 ? std::string(1, '\0') : std::string(kPieces[k]);
  }
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  Model model;
  std::vector<std::string> events;
  bool speak_fails = false;
  koe::UtteranceAssembler assembler(
      [&](const std::string& u) {
        if (speak_fails) throw std::runtime_error("speak failed");
        events.push_back("speak:" + u);
      },
      [&] { events.push_back("done"); });
  koe::ReadingsList list;

  while (fdp.remaining_bytes() > 0) {
    switch (fdp.ConsumeIntegralInRange<int>(0, 15)) {
      case 0: {
        std::string entry = RandomEntry(fdp);
        model.entries.push_back(entry);
        list.Append(std::move(entry));
        break;
      }
      case 1:
        if (fdp.ConsumeIntegralInRange<int>(0, 3) == 0) {
          model.entries.clear();
          list.Clear();
        }
        break;
      case 2:
        list.AppendDefaults();
        model.entries.push_back("\x81\x7C,\x81\x40");  // －,　
        model.entries.push_back("\x81\x64,\x81\x40");  // ‥,　
        break;
      case 3:
        assembler.ResetNothingToSpeak();
        model.nothing_to_speak = true;
        break;
      case 4: {  // lookups of texts of any length
        const std::string text = fdp.ConsumeRandomLengthString(4);
        const auto indexed = list.Lookup(text);
        const auto scanned = koe::LookupByScan(list, text);
        if (indexed.has_value() != scanned.has_value() || (indexed && *indexed != *scanned))
          Fail("Lookup and LookupByScan");
        if (scanned != ModelLookup(model.entries, text)) Fail("LookupByScan and the model");
        break;
      }
      default: {
        std::uint32_t phase = fdp.ConsumeIntegralInRange<std::uint32_t>(0, 5);
        if (phase == 5) phase = fdp.ConsumeIntegral<std::uint32_t>();
        const std::uint32_t code =
            fdp.ConsumeBool() ? kCodes[fdp.ConsumeIntegralInRange<std::size_t>(0, std::size(kCodes) - 1)]
                              : fdp.ConsumeIntegral<std::uint32_t>();
        speak_fails = fdp.ConsumeIntegralInRange<int>(0, 7) == 0;
        bool real_threw = false, model_threw = false;
        try {
          assembler.OnChar(phase, code, list);
        } catch (const std::runtime_error&) {
          real_threw = true;
        }
        try {
          model.OnChar(phase, code, speak_fails);
        } catch (const SpeakFailed&) {
          model_threw = true;
        }
        if (real_threw != model_threw) Fail("speak failure");
        if (events != model.events) Fail("speak requests or done notifications");
        if (assembler.Buffer() != model.buffer) Fail("utterance buffer");
        if (assembler.NothingToSpeak() != model.nothing_to_speak) Fail("nothing-to-speak flag");
      }
    }
  }
  return 0;
}
