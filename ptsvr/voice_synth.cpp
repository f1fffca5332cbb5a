#include "voice_synth.h"

#include <cstdio>
#include <cstring>
#include <new>

// Open JTalk's headers need their main ones first.
#include "HTS_engine.h"
#include "mecab.h"
#include "njd.h"
#include "jpcommon.h"
#include "mecab2njd.h"
#include "njd2jpcommon.h"
#include "njd_set_accent_phrase.h"
#include "njd_set_accent_type.h"
#include "njd_set_digit.h"
#include "njd_set_long_vowel.h"
#include "njd_set_pronunciation.h"
#include "njd_set_unvoiced_vowel.h"
#include "text2mecab.h"
#include "voice_guard.h"
#include "voice_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ptsvr {
namespace {

// Samples handed on at a time while a piece is synthesized: 100 ms of the voice.
constexpr std::size_t kBlockSamples = 4800;
// text2mecab makes ASCII full-width (three bytes of UTF-8 for one): room for all of a piece.
constexpr std::size_t kAnalysisBytes = kMaxPieceChars * 3 * 3 + 1;

std::FILE* OpenFile(const std::string& utf8, const char* mode) {
#ifdef _WIN32
  wchar_t path[4 * MAX_PATH], wmode[8];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, path, 4 * MAX_PATH) <= 0 ||
      MultiByteToWideChar(CP_UTF8, 0, mode, -1, wmode, 8) <= 0)
    return nullptr;
  return _wfopen(path, wmode);
#else
  return std::fopen(utf8.c_str(), mode);
#endif
}

// Whether a dictionary file is there and has the shape MeCab checks when it maps it: its size in
// its header (sys.dic, unk.dic), or the size its header's counts give (char.bin, matrix.bin).
bool DictionaryFileLooksWhole(const std::string& path, const std::string& name) {
  std::FILE* f = OpenFile(path, "rb");
  if (!f) return false;
  unsigned char head[8] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, f);
  const bool sized = std::fseek(f, 0, SEEK_END) == 0;
  const long size = sized ? std::ftell(f) : -1;
  std::fclose(f);
  if (got < sizeof head || size < 8) return false;
  auto u32 = [&](int at) {
    return std::uint32_t(head[at]) | std::uint32_t(head[at + 1]) << 8 |
           std::uint32_t(head[at + 2]) << 16 | std::uint32_t(head[at + 3]) << 24;
  };
  const auto bytes = static_cast<std::uint64_t>(size);
  if (name == "char.bin") return bytes == 4 + 32ull * u32(0) + 4ull * 0xffff;
  if (name == "matrix.bin") {
    const std::uint64_t cells = std::uint64_t(u32(0) & 0xffff) * (u32(0) >> 16);
    return bytes == 2 * (cells + 2);
  }
  return (u32(0) ^ 0xef718f77u) == bytes && u32(4) == 102;  // sys.dic, unk.dic
}

struct HtsCall {
  HTS_Engine* engine;
  char** labels;
  std::size_t count;
  HTS_Boolean ok = FALSE;
};

}  // namespace

struct Voice::Parts {
  Mecab mecab{};
  NJD njd{};
  JPCommon jpcommon{};
  HTS_Engine* engine = nullptr;  // on the heap: after a failure inside it, it is let go of, not freed
  bool mecab_loaded = false;
  // The synthesis under way: where its blocks go, and whether the sink asked to stop.
  const Sink* sink = nullptr;
  bool stopped = false;
};

Voice::Voice() : parts_(std::make_unique<Parts>()) {
  HTS_set_fatal_handler(koe_voice_fail);
  Mecab_initialize(&parts_->mecab);
  NJD_initialize(&parts_->njd);
  JPCommon_initialize(&parts_->jpcommon);
}

Voice::~Voice() {
  if (parts_->engine) {
    HTS_Engine_clear(parts_->engine);
    delete parts_->engine;
  }
  JPCommon_clear(&parts_->jpcommon);
  NJD_clear(&parts_->njd);
  Mecab_clear(&parts_->mecab);
}

bool Voice::Load(const std::string& dictionary_dir, const std::string& voice_file,
                 std::string& broken) {
  std::string dir = dictionary_dir;
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  for (const char* name : kDictionaryFiles)
    if (!DictionaryFileLooksWhole(dir + name, name)) {
      broken = dir + name;
      return false;
    }
  try {
    parts_->mecab_loaded = Mecab_load(&parts_->mecab, dictionary_dir.c_str()) == TRUE;
  } catch (...) {
    parts_->mecab_loaded = false;
  }
  if (!parts_->mecab_loaded) {
    broken = dictionary_dir;
    return false;
  }
  voice_file_ = voice_file;
  if (!LoadVoice()) {
    broken = voice_file;
    return false;
  }
  return true;
}

bool Voice::LoadVoice() {
  auto* engine = new (std::nothrow) HTS_Engine;
  if (!engine) return false;
  struct Call {
    HTS_Engine* engine;
    const std::string* file;
    bool ok = false;
  } call{engine, &voice_file_};
  const bool returned = koe_voice_guarded(
      [](void* p) {
        auto* c = static_cast<Call*>(p);
        HTS_Engine_initialize(c->engine);
        char* files[] = {const_cast<char*>(c->file->c_str())};
        c->ok = HTS_Engine_load(c->engine, files, 1) == TRUE &&
                std::strcmp(HTS_Engine_get_fullcontext_label_format(c->engine), "HTS_TTS_JPN") == 0;
        if (c->ok) HTS_Engine_set_audio_buff_size(c->engine, kBlockSamples);
      },
      &call);
  if (!returned) return false;  // let go of, not freed: it may be half made
  if (!call.ok) {
    HTS_Engine_clear(engine);
    delete engine;
    return false;
  }
  if (parts_->engine) {
    HTS_Engine_clear(parts_->engine);
    delete parts_->engine;
  }
  parts_->engine = engine;
  return true;
}

std::uint32_t Voice::SampleRate() const {
  return parts_->engine
             ? static_cast<std::uint32_t>(HTS_Engine_get_sampling_frequency(parts_->engine))
             : 0;
}

std::optional<std::vector<std::string>> Voice::Labels(const std::string& piece) {
  if (!parts_->mecab_loaded) return std::nullopt;
  Parts& p = *parts_;
  struct Call {
    Parts* parts;
    const std::string* piece;
    char* analysis;
    std::vector<std::string>* labels;
  };
  std::vector<char> analysis(kAnalysisBytes);
  std::vector<std::string> labels;
  Call call{&p, &piece, analysis.data(), &labels};
  if (!koe_voice_guarded([](void* c) {
        auto* call = static_cast<Call*>(c);
        text2mecab(call->analysis, kAnalysisBytes, call->piece->c_str());
      }, &call))
    return std::nullopt;
  bool analysed = false;
  try {
    analysed = Mecab_analysis(&p.mecab, analysis.data()) == TRUE;
  } catch (...) {
    analysed = false;
  }
  if (!analysed) {
    Mecab_refresh(&p.mecab);
    return std::nullopt;
  }
  const bool analysed_all = koe_voice_guarded(
      [](void* c) {
        Parts& p = *static_cast<Call*>(c)->parts;
        mecab2njd(&p.njd, Mecab_get_feature(&p.mecab), Mecab_get_size(&p.mecab));
        njd_set_pronunciation(&p.njd);
        njd_set_digit(&p.njd);
        njd_set_accent_phrase(&p.njd);
        njd_set_accent_type(&p.njd);
        njd_set_unvoiced_vowel(&p.njd);
        njd_set_long_vowel(&p.njd);
        njd2jpcommon(&p.jpcommon, &p.njd);
        JPCommon_make_label(&p.jpcommon);
      },
      &call);
  Mecab_refresh(&p.mecab);
  bool copied = analysed_all;
  if (analysed_all) {
    // Two labels are the silences around nothing: no phoneme, nothing to say.
    const int size = JPCommon_get_label_size(&p.jpcommon);
    char** features = JPCommon_get_label_feature(&p.jpcommon);
    try {
      if (size > 2) labels.assign(features, features + size);
    } catch (const std::bad_alloc&) {
      copied = false;
    }
  }
  if (!analysed_all || !koe_voice_guarded([](void* c) {
        Parts& p = *static_cast<Call*>(c)->parts;
        JPCommon_refresh(&p.jpcommon);
        NJD_refresh(&p.njd);
      }, &call)) {
    // What they held may be half made or freed already: let go of it and begin again.
    NJD_initialize(&p.njd);
    JPCommon_initialize(&p.jpcommon);
    return std::nullopt;
  }
  if (!copied) return std::nullopt;
  return labels;
}

Voice::Result Voice::Speak(const std::string& piece, const BundledVoiceParams& params,
                           const Sink& sink) {
  std::optional<std::vector<std::string>> labels;
  std::vector<char*> lines;
  try {
    labels = Labels(piece);
    if (!labels) return Result::kFailed;
    if (labels->empty()) return Result::kNothingToSay;
    for (auto& l : *labels) lines.push_back(l.data());
  } catch (const std::bad_alloc&) {
    return Result::kFailed;
  }
  if (!parts_->engine && !LoadVoice()) return Result::kFailed;

  HTS_Engine* engine = parts_->engine;
  HTS_Engine_set_speed(engine, params.rate);
  HTS_Engine_add_half_tone(engine, params.half_tones);
  HTS_Engine_set_volume(engine, params.gain_db);

  koe_voice_sink out{};
  out.context = parts_.get();
  out.write = [](void* context, const short* samples, std::size_t count) {
    // Called from hts_engine's C frames: nothing may be thrown through them.
    auto* p = static_cast<Parts*>(context);
    if (p->stopped) return;
    bool more = false;
    try {
      more = (*p->sink)(reinterpret_cast<const std::int16_t*>(samples), count);
    } catch (...) {
      more = false;
    }
    if (!more) {
      p->stopped = true;
      HTS_Engine_set_stop_flag(p->engine, TRUE);  // checked before every frame
    }
  };
  parts_->sink = &sink;
  parts_->stopped = false;
  engine->audio.audio_interface = &out;
  HtsCall call{engine, lines.data(), lines.size()};
  const bool returned = koe_voice_guarded(
      [](void* c) {
        auto* call = static_cast<HtsCall*>(c);
        call->ok = HTS_Engine_synthesize_from_strings(call->engine, call->labels, call->count);
      },
      &call);
  engine->audio.audio_interface = nullptr;
  parts_->sink = nullptr;
  if (!returned) {
    parts_->engine = nullptr;  // half made: let go of; the next piece loads the voice again
    return Result::kFailed;
  }
  HTS_Engine_refresh(engine);
  if (parts_->stopped) return Result::kStopped;
  return call.ok ? Result::kSpoken : Result::kFailed;
}

}  // namespace ptsvr
