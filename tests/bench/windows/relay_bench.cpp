// relay_bench: measures Koemado from the client's side under Wine or Windows, against
// bare_window where a baseline makes sense. Not a test: it prints figures, and ratios measured
// in the same run, and leaves judging them to the reader.
//
//   relay_bench write-ini | delete-ini
//       the 500-entry settings file in the Windows directory (keys: the first 500 double-byte
//       codes from 0x889F "亜", readings of two to four hiragana); the sent text uses none of them
//   relay_bench throughput --koemado EXE --bare EXE [--chars 20000] [--rounds 5]
//   relay_bench latency    --koemado EXE --transcript WINPATH [--utterances 200]
//   relay_bench startup    --koemado EXE --bare EXE [--runs 10]
//   relay_bench memory     --koemado EXE [--chars 100000]
//   relay_bench idle       --koemado EXE [--seconds 10]
//   relay_bench voice      --koemado EXE --transcript WINPATH [--runs 5]   (the bundled voice)
// Window identity: --koemado-class/--koemado-caption (default TMainForm, "無題 - Koemado"),
// --bare-class/--bare-caption (default KoeBareWindow, "bare window").
//
// Besides its own text, every mode prints "RESULT <name> <value>" lines for scripts.
// Where the Windows API has nothing to say under Wine (times and memory of another process),
// the Linux figures of the Wine process are read through Z:\proc as well.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol.h"
#include "support.h"

namespace {

using koe_test::LinuxStats;
using koe_test::Pump;
using koe_test::ReadLinuxStats;
using koe_test::UnixPid;

// ---------------------------------------------------------------------------------------------
// Time

double Now() {  // seconds
  static const double freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / freq;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}
double Median(const std::vector<double>& v) { return Percentile(v, 0.5); }

void Result(const char* name, double value) {
  std::printf("RESULT %s %.6g\n", name, value);
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// The text a reader sends: Japanese prose, double-byte characters only, none of them a key of
// the settings file that write-ini makes (so every character is looked up and found in none).

const char kProse[] =
    "今日は朝から良い天候なので、近所の広場まで散歩に出ました。桜の木のそばでは子どもたちが"
    "にぎやかに走りまわり、老人が静かに本を読んでいます。戻り道に小さな店へ立ちよって、新しい"
    "茶碗と和風のお茶請けを買いました。夕方には夕立が降り始めたので、早めに部室へ戻り、熱いお茶"
    "をすすりながら手紙を書きました。明日は友人と図書室で勉強する約束があります。";

std::vector<std::uint32_t> KeyCodes() {  // the 500 keys of the settings file, in order
  std::vector<std::uint32_t> out;
  unsigned lead = 0x88, trail = 0x9F;
  while (out.size() < 500) {
    out.push_back(lead << 8 | trail);
    if (++trail == 0x7F) trail = 0x80;
    if (trail > 0xFC) ++lead, trail = 0x40;
  }
  return out;
}

std::vector<std::uint32_t> ProseCodes() {
  std::vector<std::uint32_t> codes;
  const auto* p = reinterpret_cast<const unsigned char*>(kProse);
  while (p[0] && p[1]) {
    codes.push_back(static_cast<std::uint32_t>(p[0]) << 8 | p[1]);
    p += 2;
  }
  const auto keys = KeyCodes();
  for (auto c : codes) {
    if (std::find(keys.begin(), keys.end(), c) != keys.end()) {
      std::fprintf(stderr, "relay_bench: the text holds a key of the readings list (%04X)\n", c);
      std::exit(2);
    }
  }
  return codes;
}

// Characters per utterance (--length, default 10). Every end of an utterance costs the relay a
// speak call and three FindWindowA + PostMessageA; long utterances show the per-character cost alone.
int kUtteranceLength = 10;

// The n-th message of an endless stream of utterances over the prose.
struct Stream {
  std::vector<std::uint32_t> codes = ProseCodes();
  std::size_t next = 0;
  unsigned Phase() const {
    const auto length = static_cast<std::size_t>(kUtteranceLength);
    const std::size_t k = next % length;
    return k == 0 ? koe::kPhaseFirst : k == length - 1 ? koe::kPhaseLast : koe::kPhaseMiddle;
  }
  std::uint32_t Code() const { return codes[next % codes.size()]; }
};

// ---------------------------------------------------------------------------------------------
// The client's frame windows, counting WM_KOE_DONE (of one class: each end brings one to each).

std::optional<koe_test::Client> g_client;
void CreateClientWindows() { g_client.emplace(); }
int Done() { return g_client ? g_client->Done(1) : 0; }

bool WaitDone(int count, int timeout_ms) {
  const double end = Now() + timeout_ms / 1000.0;
  while (Done() < count) {
    if (Now() > end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    Pump(0);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Programs under measurement.

struct Target {
  std::string exe, cls, caption;
};

struct Running {
  PROCESS_INFORMATION pi{};
  HWND hwnd = nullptr;
};

std::string g_transcript;  // set for Koemado when not empty

bool StartProgram(const Target& t, Running& r, bool koemado) {
  if (koemado && !g_transcript.empty())
    SetEnvironmentVariableA("KOE_PTSVR_TRANSCRIPT", g_transcript.c_str());
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  std::string cmd = "\"" + t.exe + "\"";
  const BOOL ok = CreateProcessA(t.exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &si, &r.pi);
  SetEnvironmentVariableA("KOE_PTSVR_TRANSCRIPT", nullptr);
  if (!ok) std::fprintf(stderr, "relay_bench: cannot start %s (%lu)\n", t.exe.c_str(), GetLastError());
  return ok;
}

HWND FindOwnWindow(const Target& t, DWORD pid) {
  return koe_test::FindProcessWindow(pid, t.cls.c_str(), t.caption.c_str());
}

// Polls until the program's main window is visible; returns seconds since `since`, or -1.
double WaitVisible(const Target& t, Running& r, double since, int timeout_ms = 30000) {
  const double end = Now() + timeout_ms / 1000.0;
  for (;;) {
    HWND w = FindOwnWindow(t, r.pi.dwProcessId);
    if (w && IsWindowVisible(w)) {
      r.hwnd = w;
      return Now() - since;
    }
    if (Now() > end || WaitForSingleObject(r.pi.hProcess, 0) == WAIT_OBJECT_0) return -1;
    Sleep(1);
  }
}

void StopProgram(Running& r) {
  if (!r.pi.hProcess) return;
  if (r.hwnd && IsWindow(r.hwnd)) PostMessageA(r.hwnd, WM_CLOSE, 0, 0);
  const double end = Now() + 15;
  while (WaitForSingleObject(r.pi.hProcess, 0) == WAIT_TIMEOUT && Now() < end) Pump(20);
  if (WaitForSingleObject(r.pi.hProcess, 0) == WAIT_TIMEOUT) {
    std::fprintf(stderr, "relay_bench: %lu did not close; terminating it\n", r.pi.dwProcessId);
    TerminateProcess(r.pi.hProcess, 99);
    WaitForSingleObject(r.pi.hProcess, 5000);
  }
  CloseHandle(r.pi.hThread);
  CloseHandle(r.pi.hProcess);
  r = Running{};
}

bool StartAndShow(const Target& t, Running& r, bool koemado) {
  if (!StartProgram(t, r, koemado)) return false;
  if (WaitVisible(t, r, Now()) < 0) {
    std::fprintf(stderr, "relay_bench: the window of %s did not appear\n", t.exe.c_str());
    StopProgram(r);
    return false;
  }
  Pump(500);  // let start-up settle
  return true;
}

// Where the time of SendChars went: characters that end an utterance, the others, and the
// client's own pumping of WM_KOE_DONE between utterances.
struct SendTimes {
  double first = 0, middle = 0, last = 0, pump = 0;
  long middle_count = 0, last_count = 0;
};

// Sends `count` characters of the stream; pumps the client's windows between utterances.
void SendChars(HWND target, Stream& s, long count, SendTimes* times = nullptr) {
  for (long i = 0; i < count; ++i, ++s.next) {
    const bool last = s.Phase() == koe::kPhaseLast, first = s.Phase() == koe::kPhaseFirst;
    const double t0 = times ? Now() : 0;
    SendMessageA(target, koe::kWmKoeChar, s.Phase(), static_cast<LPARAM>(s.Code()));
    const double t1 = times ? Now() : 0;
    if (last) Pump(0);
    if (!times) continue;
    if (last) {
      times->last += t1 - t0, ++times->last_count;
      times->pump += Now() - t1;
    } else if (first) {
      times->first += t1 - t0;
    } else {
      times->middle += t1 - t0, ++times->middle_count;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Modes

struct Options {
  std::map<std::string, std::string> v;
  std::string Get(const std::string& k, const std::string& d = {}) const {
    auto it = v.find(k);
    return it == v.end() ? d : it->second;
  }
  long Num(const std::string& k, long d) const {
    auto it = v.find(k);
    return it == v.end() ? d : std::strtol(it->second.c_str(), nullptr, 10);
  }
  Target Koemado() const {
    return {Get("koemado"), Get("koemado-class", koe::kMainWindowClass),
            Get("koemado-caption", koe::kMainWindowCaption)};
  }
  Target Bare() const {
    return {Get("bare"), Get("bare-class", "KoeBareWindow"), Get("bare-caption", "bare window")};
  }
};

std::string IniPath() {
  char dir[MAX_PATH];
  GetWindowsDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\Koemado.ini";
}

int WriteIni() {
  static const char kKana[] =  // あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわん
      "\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8\x82\xA9\x82\xAB\x82\xAD\x82\xAF\x82\xB1\x82\xB3"
      "\x82\xB5\x82\xB7\x82\xB9\x82\xBB\x82\xBD\x82\xBF\x82\xC2\x82\xC4\x82\xC6\x82\xC8\x82\xC9"
      "\x82\xCA\x82\xCB\x82\xCC\x82\xCD\x82\xD0\x82\xD3\x82\xD6\x82\xD9\x82\xDC\x82\xDD\x82\xDE"
      "\x82\xDF\x82\xE0\x82\xE2\x82\xE4\x82\xE6\x82\xE7\x82\xE8\x82\xE9\x82\xEA\x82\xEB\x82\xED"
      "\x82\xF1";
  const int kana_count = (sizeof kKana - 1) / 2;
  std::string ini = "[読み方]\r\n";
  const auto keys = KeyCodes();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    ini += std::to_string(i + 1) + "=";
    ini += static_cast<char>(keys[i] >> 8);
    ini += static_cast<char>(keys[i] & 0xFF);
    ini += ",";
    const std::size_t len = 2 + i % 3;
    for (std::size_t k = 0; k < len; ++k) {
      const int at = static_cast<int>((i * 7 + k * 11) % kana_count);
      ini.append(kKana + 2 * at, 2);
    }
    ini += "\r\n";
  }
  ini += "[声の設定]\r\n速度=180\r\nピッチ=80\r\n音量=26214\r\n";
  const std::string path = IniPath();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  DWORD wrote = 0;
  const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, ini.data(), ini.size(), &wrote, nullptr) &&
                  wrote == ini.size();
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "Koemado.ini");  // drop cached copies
  std::printf("settings file %s: %zu readings, %s\n", path.c_str(), keys.size(), ok ? "written" : "FAILED");
  return ok ? 0 : 1;
}

int DeleteIni() {
  const std::string path = IniPath();
  DeleteFileA(path.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "Koemado.ini");
  return 0;
}

int Throughput(const Options& o) {
  const long chars = o.Num("chars", 20000);
  const long rounds = std::max(1L, o.Num("rounds", 5));
  const long per_round = (chars / rounds + kUtteranceLength - 1) / kUtteranceLength * kUtteranceLength;
  CreateClientWindows();
  Running k, b;
  const Target kt = o.Koemado(), bt = o.Bare();
  if (!StartAndShow(kt, k, true) || !StartAndShow(bt, b, false)) return 1;
  Stream ks, bs;
  SendChars(k.hwnd, ks, 1000);  // warm-up, not measured
  SendChars(b.hwnd, bs, 1000);
  Pump(200);
  double kt_sum = 0, bt_sum = 0;
  std::vector<double> k_rates, b_rates;
  SendTimes k_times, b_times;
  for (long r = 0; r < rounds; ++r) {  // alternate, so that both see the same machine
    double t0 = Now();
    SendChars(k.hwnd, ks, per_round, &k_times);
    double dt = Now() - t0;
    kt_sum += dt;
    k_rates.push_back(per_round / dt);
    Pump(50);
    t0 = Now();
    SendChars(b.hwnd, bs, per_round, &b_times);
    dt = Now() - t0;
    bt_sum += dt;
    b_rates.push_back(per_round / dt);
    Pump(50);
  }
  const double total = static_cast<double>(per_round * rounds);
  const double k_cps = total / kt_sum, b_cps = total / bt_sum;
  std::printf("throughput: %.0f characters each in %ld alternating rounds, utterances of %d\n", total,
              rounds, kUtteranceLength);
  std::printf("  Koemado      %10.0f chars/s (rounds: median %.0f, min %.0f, max %.0f)\n", k_cps,
              Median(k_rates), *std::min_element(k_rates.begin(), k_rates.end()),
              *std::max_element(k_rates.begin(), k_rates.end()));
  std::printf("  bare window  %10.0f chars/s (rounds: median %.0f, min %.0f, max %.0f)\n", b_cps,
              Median(b_rates), *std::min_element(b_rates.begin(), b_rates.end()),
              *std::max_element(b_rates.begin(), b_rates.end()));
  std::printf("  ratio Koemado/bare %.3f (goal >= 0.9)\n", k_cps / b_cps);
  std::printf("  utterances spoken and answered meanwhile: %d\n", Done());
  auto breakdown = [](const char* who, const SendTimes& t) {
    const double n = static_cast<double>(std::max(1L, t.last_count));
    std::printf("  %-12s per SendMessage: first character %6.1f us, middle %6.1f us, last %6.1f us;"
                " client pumping per utterance %6.1f us\n",
                who, t.first / n * 1e6, t.middle / std::max(1L, t.middle_count) * 1e6, t.last / n * 1e6,
                t.pump / n * 1e6);
  };
  breakdown("Koemado", k_times);
  breakdown("bare window", b_times);
  Result("throughput_koemado_first_us", k_times.first / std::max(1L, k_times.last_count) * 1e6);
  Result("throughput_bare_first_us", b_times.first / std::max(1L, b_times.last_count) * 1e6);
  Result("throughput_koemado_middle_us", k_times.middle / std::max(1L, k_times.middle_count) * 1e6);
  Result("throughput_bare_middle_us", b_times.middle / std::max(1L, b_times.middle_count) * 1e6);
  Result("throughput_koemado_last_us", k_times.last / std::max(1L, k_times.last_count) * 1e6);
  Result("throughput_bare_last_us", b_times.last / std::max(1L, b_times.last_count) * 1e6);
  Result("throughput_koemado_cps", k_cps);
  Result("throughput_bare_cps", b_cps);
  Result("throughput_ratio", k_cps / b_cps);
  StopProgram(k);
  StopProgram(b);
  return 0;
}

// Counts the "speak " lines appended to the transcript since the last call.
struct TranscriptTail {
  HANDLE h = INVALID_HANDLE_VALUE;
  std::string pending;
  bool Open(const std::string& path) {
    h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return h != INVALID_HANDLE_VALUE;
  }
  std::vector<std::string> NewLines() {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) pending.append(buf, got);
    std::vector<std::string> lines;
    std::size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      lines.push_back(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
    return lines;
  }
  int NewSpeaks() {
    int n = 0;
    for (const auto& line : NewLines()) n += line == "speak" || line.compare(0, 6, "speak ") == 0;
    return n;
  }
  ~TranscriptTail() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

int Latency(const Options& o) {
  const long utterances = o.Num("utterances", 200);
  g_transcript = o.Get("transcript");
  if (g_transcript.empty()) {
    std::fprintf(stderr, "relay_bench latency: --transcript is required\n");
    return 1;
  }
  DeleteFileA(g_transcript.c_str());
  CreateClientWindows();
  Running k;
  const Target kt = o.Koemado();
  if (!StartAndShow(kt, k, true)) return 1;
  TranscriptTail tail;
  if (!tail.Open(g_transcript)) {
    std::fprintf(stderr, "relay_bench: no transcript at %s\n", g_transcript.c_str());
    StopProgram(k);
    return 1;
  }
  tail.NewSpeaks();
  Stream s;
  std::vector<double> to_return, to_line;
  int timeouts = 0;
  for (long u = -10; u < utterances; ++u) {  // the first ten warm up
    SendChars(k.hwnd, s, kUtteranceLength - 1);
    const int done_before = Done();
    const double t0 = Now();
    SendMessageA(k.hwnd, koe::kWmKoeChar, s.Phase(), static_cast<LPARAM>(s.Code()));
    const double t1 = Now();
    ++s.next;
    double t2 = -1;
    while (Now() - t0 < 5) {
      if (tail.NewSpeaks() > 0) {
        t2 = Now();
        break;
      }
      SwitchToThread();
    }
    if (t2 < 0) ++timeouts;
    if (!WaitDone(done_before + 1, 5000)) ++timeouts;
    if (u < 0) continue;
    to_return.push_back((t1 - t0) * 1e6);
    if (t2 >= 0) to_line.push_back((t2 - t0) * 1e6);
  }
  std::printf("latency over %ld utterances of %d characters (each waits for WM_KOE_DONE):\n", utterances,
              kUtteranceLength);
  std::printf("  last character sent -> SendMessage returned (speak call made):  median %8.1f us  p95 %8.1f us\n",
              Median(to_return), Percentile(to_return, 0.95));
  std::printf("  last character sent -> speak line in the transcript:            median %8.1f us  p95 %8.1f us\n",
              Median(to_line), Percentile(to_line, 0.95));
  if (timeouts) std::printf("  timeouts: %d\n", timeouts);
  Result("latency_return_median_us", Median(to_return));
  Result("latency_return_p95_us", Percentile(to_return, 0.95));
  Result("latency_line_median_us", Median(to_line));
  Result("latency_line_p95_us", Percentile(to_line, 0.95));
  Result("latency_timeouts", timeouts);
  StopProgram(k);
  return 0;
}

int Startup(const Options& o) {
  const long runs = std::max(1L, o.Num("runs", 10));
  const Target targets[2] = {o.Koemado(), o.Bare()};
  std::vector<double> times[2];
  for (long r = -1; r < runs; ++r) {  // run -1 warms the caches of both, not counted
    for (int i = 0; i < 2; ++i) {
      Running p;
      const double t0 = Now();
      if (!StartProgram(targets[i], p, i == 0)) return 1;
      const double dt = WaitVisible(targets[i], p, t0);
      if (dt < 0) std::fprintf(stderr, "relay_bench: %s showed no window\n", targets[i].exe.c_str());
      StopProgram(p);
      if (r >= 0 && dt >= 0) times[i].push_back(dt * 1000);
      Sleep(200);
    }
  }
  const double km = Median(times[0]), bm = Median(times[1]);
  std::printf("start-up (CreateProcess -> main window visible), %ld alternating runs each:\n", runs);
  std::printf("  Koemado      median %7.1f ms  (min %.1f, max %.1f)\n", km,
              *std::min_element(times[0].begin(), times[0].end()),
              *std::max_element(times[0].begin(), times[0].end()));
  std::printf("  bare window  median %7.1f ms  (min %.1f, max %.1f)\n", bm,
              *std::min_element(times[1].begin(), times[1].end()),
              *std::max_element(times[1].begin(), times[1].end()));
  std::printf("  ratio Koemado/bare %.2f (goal <= 1.5)\n", km / bm);
  Result("startup_koemado_ms", km);
  Result("startup_bare_ms", bm);
  Result("startup_ratio", km / bm);
  return 0;
}

// The bundled voice as the reader hears it: for utterances of 10, 100 and 1000 characters, the
// time from the speak call to the first sound handed to the audio device (the control's transcript
// line "engine first sound"), and how much more Koemado holds while it speaks the longest.
// Koemado starts afresh for each (closing it ends the speech at once).
int Voice(const Options& o) {
  const long runs = std::max(1L, o.Num("runs", 5));
  g_transcript = o.Get("transcript");
  CreateClientWindows();
  double held_kib = 0;
  for (int length : {10, 100, 1000}) {
    kUtteranceLength = length;
    std::vector<double> first;
    for (long r = 0; r < runs; ++r) {
      DeleteFileA(g_transcript.c_str());
      Running k;
      if (!StartAndShow(o.Koemado(), k, true)) return 1;
      TranscriptTail tail;
      if (!tail.Open(g_transcript)) return 1;
      const unsigned long upid = UnixPid(o.Koemado().exe);
      const LinuxStats idle = ReadLinuxStats(upid);
      Stream s;
      SendChars(k.hwnd, s, length);
      double ms = -1;
      for (const double end = Now() + 10; ms < 0 && Now() < end; Pump(5))
        for (const auto& line : tail.NewLines())
          if (line.compare(0, 19, "engine first sound ") == 0) ms = std::atof(line.c_str() + 19);
      if (ms >= 0) first.push_back(ms);
      if (length == 1000 && idle.ok) {
        Pump(3000);  // well into it: pieces made ahead and playing
        const LinuxStats speaking = ReadLinuxStats(upid);
        if (speaking.ok) held_kib = std::max(held_kib, double(speaking.vm_rss_kb - idle.vm_rss_kb));
      }
      StopProgram(k);
    }
    std::printf("bundled voice, utterances of %d characters: first sound median %.0f ms (max %.0f) of %zu\n",
                length, Median(first), first.empty() ? 0 : *std::max_element(first.begin(), first.end()),
                first.size());
    Result(("voice_first_sound_" + std::to_string(length) + "_ms").c_str(), Median(first));
  }
  std::printf("  resident memory while speaking 1000 characters: %.0f KiB above idle (Linux VmRSS)\n", held_kib);
  Result("voice_held_kib", held_kib);
  return 0;
}

struct Memory {
  bool ok = false;
  SIZE_T private_bytes = 0, working_set = 0;
};

Memory ReadMemory(DWORD pid) {
  Memory m;
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!h) return m;
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof pmc;
  if (GetProcessMemoryInfo(h, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)) {
    m.ok = true;
    m.private_bytes = pmc.PrivateUsage;
    m.working_set = pmc.WorkingSetSize;
  }
  CloseHandle(h);
  return m;
}

int MemoryMode(const Options& o) {
  const long chars = o.Num("chars", 100000);
  CreateClientWindows();
  Running k;
  if (!StartAndShow(o.Koemado(), k, true)) return 1;
  Pump(1000);
  const unsigned long upid = UnixPid(o.Koemado().exe);
  const Memory m0 = ReadMemory(k.pi.dwProcessId);
  const LinuxStats l0 = ReadLinuxStats(upid);
  Stream s;
  SendChars(k.hwnd, s, chars);
  Pump(1000);
  const Memory m1 = ReadMemory(k.pi.dwProcessId);
  const LinuxStats l1 = ReadLinuxStats(upid);
  std::printf("memory of Koemado (GetProcessMemoryInfo: PrivateUsage, WorkingSetSize):\n");
  std::printf("  after start:             private %8.1f KiB  working set %8.1f KiB\n",
              m0.private_bytes / 1024.0, m0.working_set / 1024.0);
  std::printf("  after %ld characters: private %8.1f KiB  working set %8.1f KiB\n", chars,
              m1.private_bytes / 1024.0, m1.working_set / 1024.0);
  if (l0.ok && l1.ok)
    std::printf("  Linux (pid %lu): RssAnon %lld -> %lld KiB, VmRSS %lld -> %lld KiB\n", upid,
                l0.rss_anon_kb, l1.rss_anon_kb, l0.vm_rss_kb, l1.vm_rss_kb);
  else
    std::printf("  Linux figures unavailable (no Wine process found)\n");
  std::printf("  utterances answered: %d of %ld\n", Done(), chars / kUtteranceLength);
  Result("memory_private_start_kib", m0.private_bytes / 1024.0);
  Result("memory_private_after_kib", m1.private_bytes / 1024.0);
  Result("memory_ws_start_kib", m0.working_set / 1024.0);
  Result("memory_ws_after_kib", m1.working_set / 1024.0);
  if (l0.ok && l1.ok) {
    Result("memory_rssanon_start_kib", static_cast<double>(l0.rss_anon_kb));
    Result("memory_rssanon_after_kib", static_cast<double>(l1.rss_anon_kb));
  }
  StopProgram(k);
  return 0;
}

double CpuMs(HANDLE process) {
  FILETIME c, e, k, u;
  if (!GetProcessTimes(process, &c, &e, &k, &u)) return -1;
  auto v = [](FILETIME f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 1e4; };
  return v(k) + v(u);
}

int Idle(const Options& o) {
  const long seconds = std::max(1L, o.Num("seconds", 10));
  CreateClientWindows();
  Running k;
  if (!StartAndShow(o.Koemado(), k, true)) return 1;
  // One utterance first: what speaking leaves behind (timers, say) counts as well.
  Stream s;
  SendChars(k.hwnd, s, kUtteranceLength);
  WaitDone(1, 5000);
  Pump(1000);
  const unsigned long upid = UnixPid(o.Koemado().exe);
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, k.pi.dwProcessId);
  const double api0 = CpuMs(h);
  const LinuxStats l0 = ReadLinuxStats(upid);
  Sleep(static_cast<DWORD>(seconds * 1000));
  const double api1 = CpuMs(h);
  const LinuxStats l1 = ReadLinuxStats(upid);
  CloseHandle(h);
  std::printf("idle: Koemado over %ld s without input\n", seconds);
  std::printf("  CPU time (GetProcessTimes, kernel+user): %.1f ms\n", api1 - api0);
  Result("idle_cpu_api_ms", api1 - api0);
  if (l0.ok && l1.ok) {
    std::printf("  CPU time (Linux utime+stime, 10 ms ticks): %.0f ms\n", l1.cpu_ms - l0.cpu_ms);
    std::printf("  context switches, all threads: %lld (counter %lld -> %lld)\n", l1.switches - l0.switches,
                l0.switches, l1.switches);
    for (const auto& [thread, n] : l1.switches_by_thread) {
      long long before = 0;
      for (const auto& [t, m] : l0.switches_by_thread)
        if (t == thread) before = m;
      const long long d = n - before;
      if (d) std::printf("    thread %-24s %lld\n", thread.c_str(), d);
    }
    Result("idle_cpu_linux_ms", l1.cpu_ms - l0.cpu_ms);
    Result("idle_switches", static_cast<double>(l1.switches - l0.switches));
  } else {
    std::printf("  context switches: unavailable (no Wine process found)\n");
  }
  StopProgram(k);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: relay_bench write-ini | delete-ini | throughput | latency | startup | memory | idle | voice"
               " [--name value ...]\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  Options o;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string k = argv[i];
    if (k.rfind("--", 0) != 0) return Usage();
    o.v[k.substr(2)] = argv[i + 1];
  }
  kUtteranceLength = static_cast<int>(std::max(2L, o.Num("length", 10)));
  if (mode == "write-ini") return WriteIni();
  if (mode == "delete-ini") return DeleteIni();
  if (mode == "throughput") return Throughput(o);
  if (mode == "latency") return Latency(o);
  if (mode == "startup") return Startup(o);
  if (mode == "memory") return MemoryMode(o);
  if (mode == "idle") return Idle(o);
  if (mode == "voice") return Voice(o);
  return Usage();
}
