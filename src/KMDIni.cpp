// The settings unit: TKoemadoIni and the process-wide KoemadoIni.
#include "KMDIni.h"

#include <windows.h>

#include <optional>
#include <string_view>
#include <utility>

#include "KoemadoError.h"
#include "ini_rules.h"
#include "messages.h"
#include "protocol.h"
#include "system.h"

namespace {

constexpr char kReadingsSection[] = "読み方";
constexpr char kVoiceSection[] = "声の設定";
constexpr char kSpeedKey[] = "速度";
constexpr char kPitchKey[] = "ピッチ";
constexpr char kVolumeKey[] = "音量";
constexpr int kReadingKeys = 500;
constexpr std::int32_t kDefaultSpeed = 180;
constexpr std::int32_t kDefaultPitch = 80;
constexpr std::int32_t kDefaultVolume = 26214;
// Every value is read through a buffer of this size: longer values come back cut to 2047 bytes.
constexpr DWORD kValueBufferSize = 2048;

// Where the profile functions keep a file named without a directory: the Windows directory.
std::string ProfilePathOf(const std::string& bare_name) {
  std::string directory(MAX_PATH, '\0');
  for (;;) {
    UINT length = GetWindowsDirectoryA(directory.data(), static_cast<UINT>(directory.size()));
    if (length == 0) return bare_name;
    if (length < directory.size()) {
      directory.resize(length);
      break;
    }
    directory.resize(length);  // length is the size needed, terminator included
  }
  // The directory part of a path ends at its last separator that is not a trail byte.
  if (koe::DirectoryPartLength(directory, fw::IsSystemLeadByte) != directory.size()) directory += '\\';
  return directory + bare_name;
}

// The file's bytes; nullopt when there is no file that can be read.
std::optional<std::string> ReadFileBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

// Replaces the file by these bytes. They are written beside it first, so that a write that
// fails leaves the old file whole.
bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  const std::string beside = path + ".new";
  HANDLE file = CreateFileA(beside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  const bool closed = CloseHandle(file) != FALSE;
  // A file that another program has open for a moment (a virus scanner, an indexer, an editor
  // reading it) cannot be replaced until it lets go: a few tries over about a second.
  bool moved = false;
  for (int attempt = 0; ok && closed && !moved && attempt < 20; ++attempt) {
    moved = MoveFileExA(beside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!moved) Sleep(50);
  }
  if (moved) return true;
  DeleteFileA(beside.c_str());
  return false;
}

// The settings file for one load or save. Where the system's code page is Shift-JIS it is read
// and written through the profile functions. Anywhere else those would read it in the wrong code
// page and, at the first write, put every Japanese byte back destroyed: there the file is read
// as the bytes it holds and written by changing only the bytes of the values written.
class SettingsFile {
 public:
  explicit SettingsFile(std::string name)
      : name_(std::move(name)),
        path_(ProfilePathOf(name_)),
        through_profile_(fw::SystemCodePage() == koe::kShiftJisCodePage) {
    if (!through_profile_) bytes_ = ReadFileBytes(path_);
  }

  bool ThroughProfile() const { return through_profile_; }

  // The profile functions cannot read a directory: a directory of the settings file's name
  // counts as no file, so the built-in entries apply (and the first save cannot write).
  bool Exists() const {
    if (!through_profile_) return bytes_.has_value();
    const DWORD attributes = GetFileAttributesA(path_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  std::string Read(const char* section, const char* key) const {
    if (!through_profile_)
      return koe::ProfileValue(bytes_.value_or(""), section, key, kValueBufferSize - 1).value_or("");
    char buffer[kValueBufferSize];
    const DWORD length =
        GetPrivateProfileStringA(section, key, "", buffer, kValueBufferSize, name_.c_str());
    return std::string(buffer, length);
  }

  // A write the profile functions refuse raises EKoemadoError ("<path> に書き込めません") at once.
  void Write(const char* section, const std::string& key, const std::string& value) {
    if (!through_profile_) {
      bytes_ = koe::WithProfileValue(bytes_.value_or(""), section, key, value);
      changed_ = true;
    } else if (!WritePrivateProfileStringA(section, key.c_str(), value.c_str(), name_.c_str())) {
      throw EKoemadoError(koe::CannotWriteText(path_));
    }
  }

  // Asks the profile functions to write their cached copy of the file (the result of such a
  // flush carries no meaning: it is documented to report zero), or writes the changed bytes.
  void Close() {
    if (through_profile_) {
      WritePrivateProfileStringA(nullptr, nullptr, nullptr, name_.c_str());
    } else if (changed_ && !WriteFileBytes(path_, *bytes_)) {
      throw EKoemadoError(koe::CannotWriteText(path_));
    }
  }

 private:
  std::string name_;
  std::string path_;
  bool through_profile_;
  std::optional<std::string> bytes_;
  bool changed_ = false;
};

// Every entry under its 1-based key.
void WriteReadings(SettingsFile& file, const koe::ReadingsList& readings) {
  for (std::size_t i = 0; i < readings.Count(); ++i)
    file.Write(kReadingsSection, std::to_string(i + 1), readings.At(i));
}

}  // namespace

TKoemadoIni* KoemadoIni = nullptr;

void KMDIni_Initialize() {
  if (!KoemadoIni) KoemadoIni = new TKoemadoIni();
}

void KMDIni_Finalize() {
  delete KoemadoIni;
  KoemadoIni = nullptr;
}

TKoemadoIni::TKoemadoIni() { Load(); }

std::string TKoemadoIni::IniFileName() { return koe::IniFileNameFor(fw::ProgramPath(), fw::IsSystemLeadByte); }

void TKoemadoIni::LoadDefaults() { Readings.AppendDefaults(); }

void TKoemadoIni::Load() {
  SettingsFile file(IniFileName());
  readings_saved_ = file.ThroughProfile();
  if (file.Exists()) {
    for (int key = 1; key <= kReadingKeys; ++key)
      Readings.Append(file.Read(kReadingsSection, std::to_string(key).c_str()));
  } else {
    LoadDefaults();
  }
  Speed = koe::ReadIniInteger(file.Read(kVoiceSection, kSpeedKey), kDefaultSpeed);
  Pitch = koe::ReadIniInteger(file.Read(kVoiceSection, kPitchKey), kDefaultPitch);
  Volume = koe::ReadIniInteger(file.Read(kVoiceSection, kVolumeKey), kDefaultVolume);
  file.Close();
}

void TKoemadoIni::Save() {
  SettingsFile file(IniFileName());
  if (readings_saved_) {
    WriteReadings(file, Readings);
  } else if (!file.Exists()) {
    // A file made here would otherwise hold no readings, and the next start would read an
    // empty list from it where a start without a file uses the built-in entries: it gets those.
    koe::ReadingsList built_in;
    built_in.AppendDefaults();
    WriteReadings(file, built_in);
  }
  file.Write(kVoiceSection, kSpeedKey, std::to_string(Speed));
  file.Write(kVoiceSection, kPitchKey, std::to_string(Pitch));
  file.Write(kVoiceSection, kVolumeKey, std::to_string(Volume));
  file.Close();
}
