// voice_bench: the bundled voice's synthesis speed under Wine or Windows, for texts of 10, 100
// and 1000 characters split as the control splits them. Not a test: it prints the real-time
// factor (time to make the sound / the sound's length, the best of three) and writes the pieces,
// one per line, to <pieces-out>-<length>.txt, for the same text to be timed with Debian's
// open_jtalk (scripts/bench-report.sh).
//   voice_bench --voice DIR --pieces-out PATH_PREFIX
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "voice_synth.h"
#include "voice_text.h"

namespace {

const wchar_t kProse[] =
    L"今日は朝から良い天候なので、近所の広場まで散歩に出ました。桜の木のそばでは子どもたちが"
    L"にぎやかに走りまわり、老人が静かに本を読んでいます。戻り道に小さな店へ立ちよって、新しい"
    L"茶碗と和風のお茶請けを買いました。夕方には夕立が降り始めたので、早めに部室へ戻り、熱いお茶"
    L"をすすりながら手紙を書きました。明日は友人と図書室で勉強する約束があります。";

double Now() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir, out;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--voice") dir = argv[i + 1];
    if (std::string(argv[i]) == "--pieces-out") out = argv[i + 1];
  }
  ptsvr::Voice voice;
  std::string broken;
  if (dir.empty() || out.empty() || !voice.Load(dir + "/dic", dir + "/" + ptsvr::kVoiceFileName, broken)) {
    std::fprintf(stderr, "usage: voice_bench --voice DIR --pieces-out PATH_PREFIX (%s)\n", broken.c_str());
    return 1;
  }
  const ptsvr::BundledVoiceParams params = ptsvr::BundledParamsFor(180, 80, 26214);
  for (int length : {10, 100, 1000}) {
    std::wstring text;
    while (text.size() < static_cast<std::size_t>(length)) text += kProse;
    text.resize(static_cast<std::size_t>(length));
    const auto pieces = ptsvr::VoicePieces({reinterpret_cast<const char16_t*>(text.data()), text.size()});
    double best = 1e9;
    std::size_t samples = 0;
    for (int round = 0; round < 3; ++round) {
      samples = 0;
      const double t0 = Now();
      for (const auto& piece : pieces)
        voice.Speak(piece, params, [&](const std::int16_t*, std::size_t n) {
          samples += n;
          return true;
        });
      best = std::min(best, Now() - t0);
    }
    const double sound = samples / static_cast<double>(voice.SampleRate());
    std::printf("%4d characters, %2zu pieces: %.3f s of sound made in %.3f s, real-time factor %.4f\n",
                length, pieces.size(), sound, best, best / sound);
    std::printf("RESULT voice_rtf_%d %.6g\nRESULT voice_sound_%d_s %.6g\n", length, best / sound, length, sound);
    if (FILE* f = std::fopen((out + "-" + std::to_string(length) + ".txt").c_str(), "wb")) {
      for (const auto& piece : pieces) std::fprintf(f, "%s\n", piece.c_str());
      std::fclose(f);
    }
  }
  return 0;
}
