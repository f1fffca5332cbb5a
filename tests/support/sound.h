// What the tests hear: the recording of the tests' audio server (scripts/audio.sh), and the
// measures that compare a recorded sound with the one that was played.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace koe_test {

// The recording named by KOE_AUDIO_CAPTURE: the monitor of the server's one sink, raw 16-bit mono
// PCM at kCaptureRate, written for the whole of a suite. The sink streams zeros while nothing
// plays, so a sample's place in the file is its time.
inline constexpr std::uint32_t kCaptureRate = 48000;
inline double CaptureMs(std::size_t samples) { return samples * 1000.0 / kCaptureRate; }

class Capture {
 public:
  Capture();  // waits a moment to see the file grow
  // Empty when the recording is there and growing; else what is missing, for a failure.
  const std::string& Missing() const { return missing_; }
  std::size_t Samples() const;  // recorded so far
  std::vector<std::int16_t> Read(std::size_t from, std::size_t count) const;  // as far as recorded
  bool WaitFor(std::size_t samples, int timeout_ms = 10000) const;  // false: not recorded in time

 private:
  std::string path_, missing_;
};

// A sound in a recording: its first sample louder than the threshold, and one past its last.
struct Span {
  std::size_t begin = 0, end = 0;
  std::size_t Length() const { return end - begin; }
};
std::optional<Span> FindSound(const std::vector<std::int16_t>& samples, int threshold = 200);

// `samples` without the dropouts in their sound: runs of at least `run` exact zeros between its
// first and its last sample that is not zero. A busy machine puts them in: when Wine's driver
// is late the server finds its buffer empty (an underrun), plays nothing for a while and goes on
// with the next samples, none lost. `dropped` gets how many zeros were taken out.
std::vector<std::int16_t> WithoutDropouts(const std::vector<std::int16_t>& samples,
                                          std::size_t* dropped = nullptr, std::size_t run = 8);

// The normalised correlation of a[0..n) and b[0..n): 1 for the same shape at any loudness, about
// 0 for unrelated sounds, 0 for silence.
double Correlation(const std::int16_t* a, const std::int16_t* b, std::size_t n);

// Where `sound`, all of it, correlates best with `recording` within `shift` samples of `around`.
struct Match {
  std::size_t at = 0;
  double correlation = 0;
};
Match BestMatch(const std::vector<std::int16_t>& recording, const std::vector<std::int16_t>& sound,
                std::size_t around, std::size_t shift);

}  // namespace koe_test
