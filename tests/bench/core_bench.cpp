// Cost of handling one client character: the assembler with the indexed lookup, against the
// plain scan of the readings list that it replaces. Goal: under 1 µs per character with 500
// entries. Besides Google Benchmark's table, prints each figure as a ratio to the plain scan
// measured in the same run (these machines are noisy).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "assembler.h"
#include "protocol.h"
#include "readings.h"

namespace {

std::string TwoBytes(std::uint32_t code) {
  return {static_cast<char>(code >> 8 & 0xFF), static_cast<char>(code & 0xFF)};
}

// 500 entries as the readings editor saves them: a kanji key, a comma and a reading of three to
// six hiragana (Shift-JIS 0x889F.. for the keys, 0x82A0.. for the readings).
koe::ReadingsList RealisticList() {
  koe::ReadingsList list;
  for (std::uint32_t i = 0; i < 500; ++i) {
    std::string entry = TwoBytes(0x889F + i / 94 * 0x100 + i % 94) + ",";
    for (std::uint32_t k = 0; k < 3 + i % 4; ++k) entry += TwoBytes(0x82A0 + (i * 7 + k * 13) % 80);
    list.Append(std::move(entry));
  }
  return list;
}

koe::ReadingsList DefaultList() {
  koe::ReadingsList list;
  list.AppendDefaults();
  return list;
}

constexpr std::uint32_t kNoEntry = 0x82A9;    // か: in no list
constexpr std::uint32_t kLastEntry = 0x8D7E;  // key of the 500th realistic entry

koe::UtteranceAssembler SilentAssembler() {
  return koe::UtteranceAssembler([](const std::string& u) { benchmark::DoNotOptimize(u.data()); },
                                 [] {});
}

// One character of an utterance in progress (phase 1 keeps the buffer from growing).
void OneCharacter(benchmark::State& state, const koe::ReadingsList& list, std::uint32_t code) {
  auto assembler = SilentAssembler();
  list.Lookup(TwoBytes(code));  // the index is built once per change of the list, not measured
  for (auto _ : state) {
    assembler.OnChar(koe::kPhaseFirst, code, list);
    benchmark::DoNotOptimize(assembler.Buffer().data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Char_Defaults(benchmark::State& s) { OneCharacter(s, DefaultList(), kNoEntry); }
void BM_Char_500_LastEntry(benchmark::State& s) { OneCharacter(s, RealisticList(), kLastEntry); }
void BM_Char_500_NoEntry(benchmark::State& s) { OneCharacter(s, RealisticList(), kNoEntry); }

// A whole utterance of 40 characters, half of them with an entry.
void BM_Utterance40_500(benchmark::State& state) {
  const koe::ReadingsList list = RealisticList();
  auto assembler = SilentAssembler();
  std::vector<std::uint32_t> codes;
  for (std::uint32_t i = 0; i < 40; ++i) codes.push_back(i % 2 ? 0x889F + i * 3 : kNoEntry + i);
  for (auto _ : state) {
    assembler.OnChar(koe::kPhaseFirst, codes[0], list);
    for (int i = 1; i < 39; ++i) assembler.OnChar(koe::kPhaseMiddle, codes[i], list);
    assembler.OnChar(koe::kPhaseLast, codes[39], list);
  }
  state.SetItemsProcessed(state.iterations() * 40);
}

// The plain scan: what one character costs when every entry is split anew.
void Scan(benchmark::State& state, const koe::ReadingsList& list, std::uint32_t code) {
  const std::string text = TwoBytes(code);
  for (auto _ : state) benchmark::DoNotOptimize(koe::LookupByScan(list, text));
  state.SetItemsProcessed(state.iterations());
}
void BM_Scan_Defaults(benchmark::State& s) { Scan(s, DefaultList(), kNoEntry); }
void BM_Scan_500_LastEntry(benchmark::State& s) { Scan(s, RealisticList(), kLastEntry); }
void BM_Scan_500_NoEntry(benchmark::State& s) { Scan(s, RealisticList(), kNoEntry); }

// The first character after the editor has rewritten the list: the index is rebuilt.
void BM_FirstLookupAfterChange_500(benchmark::State& state) {
  koe::ReadingsList list = RealisticList();
  const std::string text = TwoBytes(kNoEntry);
  for (auto _ : state) {
    list.Append("");  // any change invalidates the index
    benchmark::DoNotOptimize(list.Lookup(text));
    state.PauseTiming();
    list = RealisticList();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_Char_Defaults);
BENCHMARK(BM_Char_500_LastEntry);
BENCHMARK(BM_Char_500_NoEntry);
BENCHMARK(BM_Utterance40_500);
BENCHMARK(BM_Scan_Defaults);
BENCHMARK(BM_Scan_500_LastEntry);
BENCHMARK(BM_Scan_500_NoEntry);
BENCHMARK(BM_FirstLookupAfterChange_500);

// Collects the time per iteration (ns) while the console reporter prints as usual.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) ns[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& r = reporter.ns;
  if (r.count("BM_Utterance40_500")) r["BM_Utterance40_500"] /= 40;
  auto ratio = [&](const char* fast, const char* slow) {
    if (r.count(fast) && r.count(slow))
      std::printf("%-28s %8.1f ns/char   plain scan %9.1f ns   scan/indexed %7.1fx\n", fast, r[fast],
                  r[slow], r[slow] / r[fast]);
  };
  std::printf("\nPer character, against the plain scan of the same list in this run:\n");
  ratio("BM_Char_Defaults", "BM_Scan_Defaults");
  ratio("BM_Char_500_LastEntry", "BM_Scan_500_LastEntry");
  ratio("BM_Char_500_NoEntry", "BM_Scan_500_NoEntry");
  ratio("BM_Utterance40_500", "BM_Scan_500_NoEntry");
  if (r.count("BM_Char_500_NoEntry"))
    std::printf("goal under 1000 ns/char at 500 entries (worst case): %s\n",
                r["BM_Char_500_NoEntry"] < 1000 ? "met" : "NOT met");
  return 0;
}
