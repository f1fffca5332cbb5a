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
  // three voice values. Never fails.
  void Load();
  // Writes every entry under its 1-based key, then the voice values. A write the profile
  // functions refuse raises EKoemadoError ("<path> に書き込めません") at once; what was
  // written before stays written. Where ReadingsSaved() is false only the voice values are
  // written, and every other byte of the file stays as it was; a file that is not there yet is
  // made with the built-in entries, as a start without a file has them.
  void Save();
  // Whether Save writes the readings list: only where the system's code page was Shift-JIS at
  // Load. Anywhere else the file's Japanese would not survive the profile functions.
  bool ReadingsSaved() const { return readings_saved_; }

  std::int32_t Speed = 0;
  std::int32_t Pitch = 0;
  std::int32_t Volume = 0;
  koe::ReadingsList Readings;

 private:
  bool readings_saved_ = true;
};

// The process-wide settings object, made by KMDIni_Initialize and freed by KMDIni_Finalize.
extern TKoemadoIni* KoemadoIni;

// Start-up step of the settings unit: creates KoemadoIni (which reads the settings file).
void KMDIni_Initialize();
// Shut-down step: frees KoemadoIni without writing anything.
void KMDIni_Finalize();

