// The bundled voice's player through the system's real audio route: Wine's waveOut and its
// PulseAudio driver, the tests' own PulseAudio server and the recording of its sink
// (scripts/audio.sh, started by scripts/wine-ctest.sh). NoAudioDevice runs in a Wine without
// audio drivers, a CTest entry of its own.
#include "wave_player.h"

#include <gtest/gtest.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdio>

#include "sound.h"
#include "support.h"

namespace {

using koe_test::CaptureMs;
using koe_test::kCaptureRate;

double NowMs() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return now.QuadPart * 1000.0 / frequency.QuadPart;
}

std::string Utf8(const std::wstring& text) { return koe_test::Narrow(text, CP_UTF8); }

// A sweep from 300 Hz to 3 kHz with 10 ms ramps at both ends, at the recording's rate so that
// nothing on the way resamples it.
std::vector<std::int16_t> Chirp(double seconds) {
  const std::size_t n = static_cast<std::size_t>(seconds * kCaptureRate);
  const double ramp = 0.010 * kCaptureRate, f0 = 300, f1 = 3000, pi = std::acos(-1.0);
  std::vector<std::int16_t> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = double(i) / kCaptureRate;
    const double envelope = std::min({1.0, i / ramp, (n - i) / ramp});
    out[i] = static_cast<std::int16_t>(
        12000 * envelope * std::sin(2 * pi * (f0 * t + (f1 - f0) * t * t / (2 * seconds))));
  }
  return out;
}

// An open player and the recording; `missing` says what the test cannot hear without.
struct Route {
  koe_test::Capture capture;
  ptsvr::WavePlayer player;
  std::string missing = capture.Missing();
  Route() {
    std::wstring why;
    if (missing.empty() && !player.Open(kCaptureRate, why)) missing = "no audio device: " + Utf8(why);
  }
  // Takes the device's returns until `played` samples have been played; false when none comes
  // back for 5 s.
  bool WaitPlayed(std::uint64_t played) {
    while (player.Played() < played) {
      if (WaitForSingleObject(player.Event(), 5000) != WAIT_OBJECT_0) return false;
      player.Reap();
    }
    return true;
  }
};

TEST(WavePlayer, PlaysTheWholeSoundInRealTime) {
  Route route;
  ASSERT_EQ(route.missing, "");
  const auto chirp = Chirp(1.5);
  const std::size_t from = route.capture.Samples();
  const double start = NowMs();
  std::wstring why;
  ASSERT_TRUE(route.player.Write(chirp.data(), chirp.size(), why)) << Utf8(why);
  ASSERT_TRUE(route.WaitPlayed(chirp.size())) << "the device stopped returning buffers";
  const double played_ms = NowMs() - start;
  EXPECT_EQ(route.player.Reap(), 0u);
  // Played means heard: the last buffer comes back no sooner than the sound has lasted.
  EXPECT_GE(played_ms, CaptureMs(chirp.size())) << "returned as played before it could be";

  // Recorded whole and unchanged, once the dropouts of a busy machine are taken out.
  const std::size_t span = chirp.size() + kCaptureRate / 2;
  ASSERT_TRUE(route.capture.WaitFor(from + span));
  std::size_t dropped = 0;
  const auto recording = koe_test::WithoutDropouts(route.capture.Read(from, span), &dropped);
  const auto heard = koe_test::FindSound(recording);
  ASSERT_TRUE(heard) << "nothing was recorded";
  const auto sent = *koe_test::FindSound(chirp);
  EXPECT_NEAR(double(heard->Length()), double(sent.Length()), 0.05 * sent.Length());
  const std::size_t onset = heard->begin > sent.begin ? heard->begin - sent.begin : 0;
  const auto match = koe_test::BestMatch(recording, chirp, onset, 480);
  EXPECT_GE(match.correlation, 0.95);
  std::printf("%.0f ms of sound returned as played after %.0f ms; recorded %.0f ms after the "
              "write, correlation %.4f, dropouts %.0f ms\n",
              CaptureMs(chirp.size()), played_ms, CaptureMs(match.at), match.correlation,
              CaptureMs(dropped));
}

TEST(WavePlayer, ResetStopsAtOnceAndNothingPlaysAfterIt) {
  Route route;
  ASSERT_EQ(route.missing, "");
  const auto chirp = Chirp(3.0);
  const std::size_t from = route.capture.Samples();
  std::wstring why;
  ASSERT_TRUE(route.player.Write(chirp.data(), chirp.size(), why)) << Utf8(why);
  ASSERT_TRUE(route.WaitPlayed(kCaptureRate / 2));
  const std::size_t reset_at = route.capture.Samples();
  const double start = NowMs();
  route.player.Reset();
  const double reset_ms = NowMs() - start;
  EXPECT_LT(reset_ms, 200);
  EXPECT_EQ(route.player.Reap(), 0u);
  EXPECT_LT(route.player.Played(), chirp.size() / 2);

  // Past the moment of the reset the recording has only silence.
  ASSERT_TRUE(route.capture.WaitFor(reset_at + 2 * kCaptureRate));
  const auto heard = koe_test::FindSound(route.capture.Read(from, reset_at + 2 * kCaptureRate - from));
  ASSERT_TRUE(heard) << "nothing was recorded";
  const double after_ms = CaptureMs(from + heard->end) - CaptureMs(reset_at);
  EXPECT_LT(after_ms, 150) << "the sound went on after the reset";
  std::printf("reset in %.1f ms; the sound ends %.0f ms after the reset\n", reset_ms, after_ms);

  // The device stays open and plays again.
  const std::uint64_t before = route.player.Played();
  ASSERT_TRUE(route.player.Write(chirp.data(), kCaptureRate / 5, why)) << Utf8(why);
  EXPECT_TRUE(route.WaitPlayed(before + kCaptureRate / 5));
}

TEST(NoAudioDevice, OpenSaysWhyAndNothingWaits) {
  ASSERT_EQ(waveOutGetNumDevs(), 0u)
      << "this case runs in a Wine without audio drivers (CTest: windows_ptsvr_wave_player_no_device)";
  ptsvr::WavePlayer player;
  std::wstring why;
  const double start = NowMs();
  EXPECT_FALSE(player.Open(kCaptureRate, why));
  EXPECT_EQ(Utf8(why), "no audio device");
  EXPECT_FALSE(player.IsOpen());
  const std::int16_t samples[480] = {};
  why.clear();
  EXPECT_FALSE(player.Write(samples, 480, why));
  EXPECT_NE(why, L"");
  EXPECT_EQ(player.Reap(), 0u);
  player.Close();
  EXPECT_LT(NowMs() - start, 2000);
}

}  // namespace
