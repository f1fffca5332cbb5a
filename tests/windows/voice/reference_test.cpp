// The bundled voice under Wine says exactly what Debian's own open_jtalk says: for every row of
// reference.tsv, the voice splits the text into the pieces the row lists, maps the control's
// Speed, Pitch and Volume onto the options the row gives, and speaks each piece sample for sample
// as open_jtalk does with those options (the references are made at build time,
// make_references.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support.h"
#include "voice_synth.h"
#include "voice_text.h"

namespace {

struct Row {
  std::string name, options;
  std::int32_t speed, pitch, volume;
  std::string text;  // pieces between "|"
};

std::vector<std::string> Split(const std::string& s, char by) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, by);) parts.push_back(part);
  return parts;
}

std::vector<Row> Table() {
  std::ifstream in(KOE_REFERENCE_TABLE);
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto f = Split(line, '\t');
    if (f.size() == 6) rows.push_back({f[0], f[4], std::stoi(f[1]), std::stoi(f[2]), std::stoi(f[3]), f[5]});
  }
  return rows;
}

// The open_jtalk options the voice's settings mean, as make_references.sh hands them over.
std::string Options(const ptsvr::BundledVoiceParams& p) {
  auto number = [](double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return std::strtod(buf, nullptr) == v ? std::string(buf) : "?";
  };
  std::string out;
  if (p.rate != 1.0) out += "-r " + number(p.rate) + " ";
  if (p.half_tones != 0.0) out += "-fm " + number(p.half_tones) + " ";
  if (p.gain_db != 0.0) out += "-g " + number(p.gain_db) + " ";
  return out.empty() ? out : out.substr(0, out.size() - 1);
}

// The same number written shortest, as in the table.
std::string Shortest(const std::string& options) {
  std::string out;
  for (const auto& word : Split(options, ' ')) {
    char* end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    std::string w = word;
    if (end && *end == '\0' && !word.empty()) {
      for (int digits = 1; digits <= 17; ++digits) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) {
          w = buf;
          break;
        }
      }
    }
    out += (out.empty() ? "" : " ") + w;
  }
  return out;
}

TEST(BundledVoice, SaysWhatDebiansOpenJTalkSaysSampleForSample) {
  ptsvr::Voice voice;
  std::string broken;
  ASSERT_TRUE(voice.Load(KOE_VOICE_DIR "/dic", KOE_VOICE_DIR "/nitech_jp_atr503_m001.htsvoice", broken))
      << broken;
  const auto rows = Table();
  ASSERT_EQ(rows.size(), 7u) << KOE_REFERENCE_TABLE;
  for (const Row& row : rows) {
    const ptsvr::BundledVoiceParams params = ptsvr::BundledParamsFor(row.speed, row.pitch, row.volume);
    EXPECT_EQ(Shortest(Options(params)), row.options) << row.name;
    const auto wanted = Split(row.text, '|');
    std::string whole;
    for (const auto& piece : wanted) whole += piece;
    const std::wstring text = koe_test::Wide(whole, CP_UTF8);
    const auto pieces = ptsvr::VoicePieces({reinterpret_cast<const char16_t*>(text.data()), text.size()});
    ASSERT_EQ(pieces, wanted) << row.name;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
      const std::string what = row.name + " piece " + std::to_string(k + 1);
      std::vector<std::int16_t> ours;
      const auto result = voice.Speak(pieces[k], params, [&](const std::int16_t* s, std::size_t n) {
        ours.insert(ours.end(), s, s + n);
        return true;
      });
      EXPECT_EQ(result, ptsvr::Voice::Result::kSpoken) << what;
      const auto reference = koe_test::WavSamples(KOE_REFERENCE_DIR "/" + row.name + "-" +
                                                  std::to_string(k + 1) + ".wav");
      ASSERT_GT(reference.size(), 4800u) << what << ": no reference";
      EXPECT_EQ(ours.size(), reference.size()) << what;
      EXPECT_TRUE(ours == reference) << what << ": the samples differ";
    }
  }
}

}  // namespace
