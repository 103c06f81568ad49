#pragma once
// Tavolen.ini: the folder for snapshots and recordings and the four recording
// limits, shared by every control of the user, in section "PATH":
//   SETPATH        folder (text, at most 259 bytes)   default: the home folder
//   FILELEN        file size limit, MiB               default 100
//   TIMELEN        file time limit, minutes           default 5
//   RESERVEDSPACE  free space to keep, MiB            default 200
//   COVER          delete the oldest day when short   default 0
//
// Where it lives: $TAVOLEN_SETTINGS_FILE when set, else
// $XDG_CONFIG_HOME/tavolen/Tavolen.ini, else ~/.config/tavolen/Tavolen.ini.
// The folder is made on the first write. Writing failures are silent: the
// properties change anyway, and StartRecord and CapturePic then use whatever
// the file still holds.
//
// Called on the control's UI thread. Several controls (and processes) may
// share the file; each write is one atomic replacement under a folder lock.

#include <cstdint>
#include <string>

#include "control/control_properties.h"
#include "control/profile_file.h"

namespace tavolen {

inline constexpr const char* kSettingsFileVariable = "TAVOLEN_SETTINGS_FILE";
inline constexpr const char* kSettingsSection = "PATH";
inline constexpr size_t kSetPathMaxBytes = 259;

inline constexpr int32_t kMinRecFileLen = 100;
inline constexpr int32_t kMinRecTimeLen = 5;
inline constexpr int32_t kMinReservedSpace = 200;

class SettingsFile {
 public:
  // The file's name by the rules above, taken from the environment now.
  static std::string locate();
  // The default folder for snapshots and recordings: $HOME as it stands.
  static std::string homeFolder();

  explicit SettingsFile(std::string path) : file_(std::move(path)) {}
  const std::string& path() const { return file_.path(); }

  // Reads every key into the properties (marking the control modified); an
  // absent or empty SETPATH becomes the home folder and is written back at
  // once. Values are taken as they stand, without minimums.
  void loadSettings(ControlProperties& props) const;
  // Each limit raised to its minimum (signed comparison; COVER unchanged),
  // stored in its property and written, in the order FILELEN, TIMELEN,
  // RESERVEDSPACE, COVER.
  void SetRecordProperty(ControlProperties& props, int32_t fileLen, int32_t timeLen,
                         int32_t reserved, int32_t cover) const;
  // SetPath's last step: the chosen folder becomes RecFilePath and SETPATH.
  void storeFolder(ControlProperties& props, const std::string& folder) const;
  // SETPATH as the file holds it now (StartRecord and CapturePic read it anew).
  std::string readRecordFolder() const;

 private:
  ProfileFile file_;
};

}  // namespace tavolen
