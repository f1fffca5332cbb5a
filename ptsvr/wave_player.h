// The bundled voice's way to the speakers: 16-bit mono PCM through waveOut.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ptsvr {

// Plays 16-bit mono PCM through waveOut on the default device (WAVE_MAPPER), notified by an event
// (CALLBACK_EVENT). Every call comes from one thread (the bundled engine's worker).
//
// The worker writes, then waits for Event() and calls Reap() until Reap() returns 0. Reap() puts
// the event back to non-signalled before it looks at the buffers, so a buffer that the device
// returns after that look signals it again: no return is missed.
class WavePlayer {
 public:
  WavePlayer();
  ~WavePlayer();  // stops at once and closes
  WavePlayer(const WavePlayer&) = delete;
  WavePlayer& operator=(const WavePlayer&) = delete;

  // Opens the device for 16-bit mono PCM at `rate` Hz (an open device is closed first). False
  // when there is no device or it cannot be opened; `why` then says why for the transcript
  // (e.g. "no audio device", "waveOutOpen 2").
  bool Open(std::uint32_t rate, std::wstring& why);
  bool IsOpen() const { return device_ != nullptr; }
  // Queues a copy of `count` samples, in buffers of kBufferMs each. False when the device refuses
  // a buffer (a device lost) or memory runs out: the player has then stopped and closed, and
  // `why` says so.
  bool Write(const std::int16_t* samples, std::size_t count, std::wstring& why);
  // Signalled by the device when a buffer has been played (and when it opens or closes), for
  // WaitForMultipleObjects. Valid for the player's life; null only when it could not be made.
  HANDLE Event() const { return event_; }
  // Frees the buffers the device has returned; returns the number of samples still queued.
  std::size_t Reap();
  // Samples written since Open whose buffers the device has returned as played.
  std::uint64_t Played() const { return played_; }
  // Stops at once (waveOutReset): every buffer returned and freed; the device stays open.
  void Reset();
  void Close();  // Reset, then waveOutClose

  static constexpr std::uint32_t kBufferMs = 50;

 private:
  struct Block {
    WAVEHDR header{};
    std::vector<std::int16_t> samples;
  };
  // Unprepares and frees a returned block; counts it as played when `played`.
  void Release(std::unique_ptr<Block>& block, bool played);
  bool Fail(const wchar_t* what, MMRESULT result, std::wstring& why);

  HANDLE event_ = nullptr;
  HWAVEOUT device_ = nullptr;
  std::uint32_t rate_ = 0;
  std::vector<std::unique_ptr<Block>> queued_;  // in the order written
  std::size_t queued_samples_ = 0;
  std::uint64_t played_ = 0;
};

}  // namespace ptsvr
