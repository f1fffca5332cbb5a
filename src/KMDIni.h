// The settings object: voice values and the readings list, kept in the settings file
// (an ini file in the Windows directory, read and written through the profile functions).
#pragma once

#include <cstdint>
#include <string>

#include "readings.h"

class TKoemadoIni {
 public:
  // Makes the empty list, then loads the settings file.
  TKoemadoIni();
  // Writes nothing: changes that were not saved are lost.
  ~TKoemadoIni() = default;
  TKoemadoIni(const TKoemadoIni&) = delete;
  TKoemadoIni& operator=(const TKoemadoIni&) = delete;

  // The settings file name, without a directory: the running program's file name with its
  // extension replaced by ".ini". Worked out afresh at every call.
  static std::string IniFileName();

  // Appends the built-in entries to Readings.
  void LoadDefaults();
  // Appends the file's 500 entries (or the built-in ones when there is no file) and reads the
  // three voice values. Never fails: a file that is there but cannot be read (another program
  // holds it without sharing, access denied) gives the built-in entries and the default values,
  // and then the list is not saved over it (ReadingsSaved() is false).
  void Load();
  // Writes every entry under its 1-based key, then the voice values. A write the profile
  // functions refuse raises EKoemadoError ("<path> に書き込めません") at once; what was
  // written before stays written. Where ReadingsSaved() is false only the voice values are
  // written, and every other byte of the file stays as it was; a file that is not there yet is
  // made with the built-in entries, as a start without a file has them. There the file's bytes
  // are read first: a file that is there and cannot be read, or whose read fails part-way, raises
  // EKoemadoError ("<path> を読み込めないため、設定を保存しませんでした: <the system's reason>")
  // and nothing is written. The new file replaces the old one only once it is whole on the disk.
  void Save();
  // Whether Save writes the readings list: only where the system's code page was Shift-JIS at
  // Load (anywhere else the file's Japanese would not survive the profile functions), and the
  // file, when there, could be read (else the list in use is not the file's).
  bool ReadingsSaved() const { return readings_saved_; }
  // Why not, in the user's words, when ReadingsSaved() is false.
  std::string WhyReadingsAreNotSaved() const;

  std::int32_t Speed = 0;
  std::int32_t Pitch = 0;
  std::int32_t Volume = 0;
  koe::ReadingsList Readings;

 private:
  bool readings_saved_ = true;
  std::uint32_t unread_ = 0;  // the system's reason why the file could not be read at Load
  std::string unread_path_;
};

// The process-wide settings object, made by KMDIni_Initialize and freed by KMDIni_Finalize.
extern TKoemadoIni* KoemadoIni;

// Start-up step of the settings unit: creates KoemadoIni (which reads the settings file).
void KMDIni_Initialize();
// Shut-down step: frees KoemadoIni without writing anything.
void KMDIni_Finalize();

