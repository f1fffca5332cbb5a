// The settings unit: TKoemadoIni and the process-wide KoemadoIni.
#include "KMDIni.h"

#include <windows.h>

#include <optional>
#include <string_view>
#include <utility>

#include "KoemadoError.h"
#include "errors.h"
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

// Whether a failure to open the file means that there is none: not found, or a directory of its
// name (which the profile functions cannot read either). Any other failure (another program holds
// it without sharing, access denied, a lock) means a file that is there and could not be read.
bool IsNoFile(const std::string& path, DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The file's bytes, or the system's reason why they could not be read (ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND: there is no file). A file that another program holds for a moment (a
// virus scanner, a backup) is tried again over about a second.
koe::WholeFile ReadFileBytes(const std::string& path) {
  koe::WholeFile read;
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (attempt > 0) Sleep(50);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      read = {{}, GetLastError()};
    } else {
      read = koe::ReadWholeFile([file](char* buffer, std::size_t size, std::size_t& got) {
        DWORD n = 0;
        const bool ok = ReadFile(file, buffer, static_cast<DWORD>(size), &n, nullptr) != FALSE;
        got = n;
        return ok ? 0u : static_cast<std::uint32_t>(GetLastError());
      });
      CloseHandle(file);
    }
    if (read.error != ERROR_SHARING_VIOLATION && read.error != ERROR_LOCK_VIOLATION) break;
  }
  return read;
}

// The reason why a file that is there cannot be read; 0 when it can, or when there is none.
DWORD ReadError(const std::string& path) {
  const DWORD error = ReadFileBytes(path).error;
  return error == 0 || IsNoFile(path, error) ? 0 : error;
}

// Replaces the file by these bytes, so that a crash or a power cut leaves either the old file or
// the new one whole: they are written beside it and flushed to the disk first, then moved over it
// (the move itself written through), so a write that fails leaves the old file as it was.
bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  const std::string beside = path + ".new";
  HANDLE file = CreateFileA(beside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(file);
  const bool closed = CloseHandle(file) != FALSE;
  // A file that another program has open for a moment with sharing (an indexer reading it) cannot
  // be replaced until it lets go: a few tries over about a second. What it holds was read above
  // (one that another program holds without sharing is never replaced: it cannot be read).
  bool moved = false;
  for (int attempt = 0; ok && closed && !moved && attempt < 20; ++attempt) {
    moved = MoveFileExA(beside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
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
    if (through_profile_) return;
    koe::WholeFile read = ReadFileBytes(path_);
    if (read.error == 0)
      bytes_ = std::move(read.bytes);
    else if (!IsNoFile(path_, read.error))
      unreadable_ = read.error;
  }

  const std::string& Path() const { return path_; }
  bool ThroughProfile() const { return through_profile_; }

  // The system's reason why the file is there but could not be read; 0 when it was read or there
  // is none. Through the profile functions (which read such a file as empty) it is asked for.
  DWORD Unreadable() {
    if (through_profile_ && Exists()) unreadable_ = ReadError(path_);
    return unreadable_;
  }

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
  DWORD unreadable_ = 0;
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
  // A file that is there but could not be read gives the built-in entries for this run, and the
  // list is never written over it: the file still holds the user's readings.
  // (Where the file is read as its bytes, the list is never written anyway.)
  const DWORD unread = file.Unreadable();
  unread_ = file.ThroughProfile() ? unread : 0;
  unread_path_ = file.Path();
  readings_saved_ = file.ThroughProfile() && unread == 0;
  if (file.Exists() && unread == 0) {
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

std::string TKoemadoIni::WhyReadingsAreNotSaved() const {
  if (unread_ != 0)
    return koe::ReadingsNotReadText(unread_path_, fw::SystemErrorText(static_cast<HRESULT>(unread_)));
  return koe::ReadingsNotSavedText(fw::SystemCodePage());
}

void TKoemadoIni::Save() {
  SettingsFile file(IniFileName());
  // The file's bytes are what is written back: a file that is there and could not be read would
  // be replaced by less than it holds.
  if (!file.ThroughProfile()) {
    if (const DWORD error = file.Unreadable())
      throw EKoemadoError(koe::CannotReadText(file.Path(), fw::SystemErrorText(static_cast<HRESULT>(error))));
  }
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
