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

// The settings the row's open_jtalk options give (-r rate, -fm half-tones, -g gain in dB).
ptsvr::BundledVoiceParams FromOptions(const std::string& options) {
  ptsvr::BundledVoiceParams p;
  const auto words = Split(options, ' ');
  for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
    const double v = std::strtod(words[i + 1].c_str(), nullptr);
    (words[i] == "-r" ? p.rate : words[i] == "-fm" ? p.half_tones : p.gain_db) = v;
  }
  return p;
}

TEST(BundledVoice, SaysWhatDebiansOpenJTalkSaysSampleForSample) {
  ptsvr::Voice voice;
  std::string broken;
  ASSERT_TRUE(voice.Load(KOE_VOICE_DIR "/dic", KOE_VOICE_DIR "/nitech_jp_atr503_m001.htsvoice", broken))
      << broken;
  const auto rows = Table();
  ASSERT_EQ(rows.size(), 7u) << KOE_REFERENCE_TABLE;
  for (const Row& row : rows) {
    const ptsvr::BundledVoiceParams params = ptsvr::BundledParamsFor(row.speed, row.pitch, row.volume),
                                    wanted_params = FromOptions(row.options);
    EXPECT_EQ(params.rate, wanted_params.rate) << row.name;
    EXPECT_EQ(params.half_tones, wanted_params.half_tones) << row.name;
    EXPECT_EQ(params.gain_db, wanted_params.gain_db) << row.name;
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
