#include "wave_player.h"

#include <mmsystem.h>

#include <algorithm>
#include <new>
#include <utility>

namespace ptsvr {
namespace {

std::wstring Numbered(const wchar_t* what, MMRESULT result) {
  return std::wstring(what) + L" " + std::to_wstring(result);
}

}  // namespace

// A manual-reset event, as event callbacks want it; Reap() puts it back.
WavePlayer::WavePlayer() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WavePlayer::~WavePlayer() {
  Close();
  if (event_) CloseHandle(event_);
}

bool WavePlayer::Open(std::uint32_t rate, std::wstring& why) {
  Close();
  if (!event_) {
    why = L"no event for the audio device (CreateEvent failed)";
    return false;
  }
  if (rate == 0) {
    why = L"no sample rate";
    return false;
  }
  if (waveOutGetNumDevs() == 0) {
    why = L"no audio device";
    return false;
  }
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = sizeof(std::int16_t);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  ResetEvent(event_);
  HWAVEOUT device = nullptr;
  const MMRESULT result = waveOutOpen(&device, WAVE_MAPPER, &format,
                                      reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
  if (result != MMSYSERR_NOERROR) {
    why = Numbered(L"waveOutOpen", result);
    return false;
  }
  device_ = device;
  rate_ = rate;
  played_ = 0;
  return true;
}

bool WavePlayer::Write(const std::int16_t* samples, std::size_t count, std::wstring& why) {
  if (!device_) {
    why = L"the audio device is not open";
    return false;
  }
  const auto per_block =
      std::max<std::size_t>(1, static_cast<std::size_t>(std::uint64_t{rate_} * kBufferMs / 1000));
  while (count > 0) {
    const std::size_t n = std::min(count, per_block);
    std::unique_ptr<Block> block;
    try {
      block = std::make_unique<Block>();
      block->samples.assign(samples, samples + n);
      queued_.reserve(queued_.size() + 1);  // so that keeping a queued block cannot fail
    } catch (const std::bad_alloc&) {
      Close();
      why = L"out of memory for the sound";
      return false;
    }
    WAVEHDR& header = block->header;
    header.lpData = reinterpret_cast<LPSTR>(block->samples.data());
    header.dwBufferLength = static_cast<DWORD>(n * sizeof(std::int16_t));
    MMRESULT result = waveOutPrepareHeader(device_, &header, sizeof header);
    if (result != MMSYSERR_NOERROR) return Fail(L"waveOutPrepareHeader", result, why);
    result = waveOutWrite(device_, &header, sizeof header);
    if (result != MMSYSERR_NOERROR) {
      // Never queued, so the device has nothing of it once it is unprepared.
      if (waveOutUnprepareHeader(device_, &header, sizeof header) != MMSYSERR_NOERROR)
        block.release();
      return Fail(L"waveOutWrite", result, why);
    }
    queued_.push_back(std::move(block));
    queued_samples_ += n;
    samples += n;
    count -= n;
  }
  return true;
}

std::size_t WavePlayer::Reap() {
  if (event_) ResetEvent(event_);  // before looking: a buffer returned after the look signals anew
  std::size_t kept = 0;
  for (std::size_t i = 0; i < queued_.size(); ++i) {
    if (queued_[i]->header.dwFlags & WHDR_DONE) {
      Release(queued_[i], true);
    } else {
      if (kept != i) queued_[kept] = std::move(queued_[i]);
      ++kept;
    }
  }
  queued_.resize(kept);
  return queued_samples_;
}

void WavePlayer::Reset() {
  if (!device_) return;
  Reap();  // what the device has already returned was played
  const MMRESULT result = waveOutReset(device_);
  for (auto& block : queued_) {
    if (result == MMSYSERR_NOERROR && (block->header.dwFlags & WHDR_DONE)) {
      Release(block, false);
    } else {
      // Not returned: the device may still read it, so it is left to it rather than freed.
      queued_samples_ -= block->samples.size();
      block.release();
    }
  }
  queued_.clear();
}

void WavePlayer::Close() {
  if (!device_) return;
  Reset();
  // Nothing is queued after the reset; should the close fail all the same, the handle is let go
  // of: there is nothing more the player could do with it.
  waveOutClose(device_);
  device_ = nullptr;
}

void WavePlayer::Release(std::unique_ptr<Block>& block, bool played) {
  const std::size_t n = block->samples.size();
  queued_samples_ -= n;
  if (played) played_ += n;
  if (waveOutUnprepareHeader(device_, &block->header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
    block.reset();
  } else {
    block.release();  // the device still holds it
  }
}

bool WavePlayer::Fail(const wchar_t* what, MMRESULT result, std::wstring& why) {
  Close();
  why = L"the audio device refused the sound (" + Numbered(what, result) + L")";
  return false;
}

}  // namespace ptsvr
