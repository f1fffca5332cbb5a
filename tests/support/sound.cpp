#include "sound.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support.h"

namespace koe_test {

Capture::Capture() : path_(PathFromEnv("KOE_AUDIO_CAPTURE")) {
  if (path_.empty())
    missing_ = "KOE_AUDIO_CAPTURE is not set: run the tests with scripts/wine-ctest.sh, which "
               "starts the tests' audio server and its recording (scripts/audio.sh)";
  else if (!WaitFor(Samples() + kCaptureRate / 10, 2000))
    missing_ = "the recording " + path_ + " does not grow: is its parec running?";
}

std::size_t Capture::Samples() const {
  std::error_code error;
  const auto bytes = std::filesystem::file_size(path_, error);
  return error ? 0 : static_cast<std::size_t>(bytes / sizeof(std::int16_t));
}

std::vector<std::int16_t> Capture::Read(std::size_t from, std::size_t count) const {
  const std::size_t recorded = Samples();
  std::vector<std::int16_t> out(from < recorded ? std::min(count, recorded - from) : 0);
  std::ifstream file(path_, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(from * sizeof(std::int16_t)));
  file.read(reinterpret_cast<char*>(out.data()), out.size() * sizeof(std::int16_t));
  out.resize(static_cast<std::size_t>(file.gcount()) / sizeof(std::int16_t));
  return out;
}

bool Capture::WaitFor(std::size_t samples, int timeout_ms) const {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  while (Samples() < samples) {
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
  return true;
}

std::optional<Span> FindSound(const std::vector<std::int16_t>& samples, int threshold) {
  const auto loud = [threshold](std::int16_t s) { return std::abs(int{s}) > threshold; };
  const auto first = std::find_if(samples.begin(), samples.end(), loud);
  if (first == samples.end()) return std::nullopt;
  const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
  return Span{static_cast<std::size_t>(first - samples.begin()),
              static_cast<std::size_t>(samples.rend() - last)};
}

std::vector<std::int16_t> WithoutDropouts(const std::vector<std::int16_t>& samples,
                                          std::size_t* dropped, std::size_t run) {
  const Span sound = FindSound(samples, 0).value_or(Span{});
  std::vector<std::int16_t> out(samples.begin(), samples.begin() + sound.begin);
  std::size_t zeros = 0;
  for (std::size_t i = sound.begin, next; i < sound.end; i = next) {
    next = i + 1;
    while (samples[i] == 0 && next < sound.end && samples[next] == 0) ++next;
    if (samples[i] == 0 && next - i >= run) zeros += next - i;
    else out.insert(out.end(), samples.begin() + i, samples.begin() + next);
  }
  out.insert(out.end(), samples.begin() + sound.end, samples.end());
  if (dropped) *dropped = zeros;
  return out;
}

double Correlation(const std::int16_t* a, const std::int16_t* b, std::size_t n) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = a[i], y = b[i];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

Match BestMatch(const std::vector<std::int16_t>& recording, const std::vector<std::int16_t>& sound,
                std::size_t around, std::size_t shift) {
  Match best;
  if (recording.size() < sound.size()) return best;
  const std::size_t last = std::min(around + shift, recording.size() - sound.size());
  for (std::size_t at = around > shift ? around - shift : 0; at <= last; ++at) {
    const double c = Correlation(recording.data() + at, sound.data(), sound.size());
    if (c > best.correlation) best = {at, c};
  }
  return best;
}

}  // namespace koe_test
