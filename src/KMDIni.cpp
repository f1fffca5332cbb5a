// The settings unit: TKoemadoIni and the process-wide KoemadoIni.
#include "KMDIni.h"

#include <windows.h>

#include <string_view>
#include <utility>

#include "KoemadoError.h"
#include "ini_rules.h"
#include "messages.h"
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
  if (koe::DirectoryPartLength(directory) != directory.size()) directory += '\\';
  return directory + bare_name;
}

// The profile functions cannot read a directory: a directory of the settings file's name counts
// as no file, so the built-in entries apply (and the first save reports that it cannot write).
bool IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ReadValue(const char* section, const char* key, const std::string& file) {
  char buffer[kValueBufferSize];
  DWORD length = GetPrivateProfileStringA(section, key, "", buffer, kValueBufferSize, file.c_str());
  return std::string(buffer, length);
}

// Asks the profile functions to write their cached copy of the file. Its result carries no
// meaning (a flush is documented to report zero), so it is not checked.
void Flush(const std::string& file) { WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str()); }

void WriteValue(const char* section, const std::string& key, const std::string& value,
                const std::string& file) {
  if (!WritePrivateProfileStringA(section, key.c_str(), value.c_str(), file.c_str())) {
    throw EKoemadoError(koe::CannotWriteText(file));
  }
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

std::string TKoemadoIni::IniFileName() { return koe::IniFileNameFor(fw::ProgramPath()); }

void TKoemadoIni::LoadDefaults() { Readings.AppendDefaults(); }

void TKoemadoIni::Load() {
  const std::string file = IniFileName();
  if (IsExistingFile(ProfilePathOf(file))) {
    for (int key = 1; key <= kReadingKeys; ++key) {
      Readings.Append(ReadValue(kReadingsSection, std::to_string(key).c_str(), file));
    }
  } else {
    LoadDefaults();
  }
  Speed = koe::ReadIniInteger(ReadValue(kVoiceSection, kSpeedKey, file), kDefaultSpeed);
  Pitch = koe::ReadIniInteger(ReadValue(kVoiceSection, kPitchKey, file), kDefaultPitch);
  Volume = koe::ReadIniInteger(ReadValue(kVoiceSection, kVolumeKey, file), kDefaultVolume);
  Flush(file);
}

void TKoemadoIni::Save() {
  const std::string file = IniFileName();
  for (std::size_t i = 0; i < Readings.Count(); ++i) {
    WriteValue(kReadingsSection, std::to_string(i + 1), Readings.At(i), file);
  }
  WriteValue(kVoiceSection, kSpeedKey, std::to_string(Speed), file);
  WriteValue(kVoiceSection, kPitchKey, std::to_string(Pitch), file);
  WriteValue(kVoiceSection, kVolumeKey, std::to_string(Volume), file);
  Flush(file);
}
