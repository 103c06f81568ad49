#include "control/settings_file.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tavolen {

namespace {

std::string environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

int32_t atLeast(int32_t value, int32_t minimum) { return value > minimum ? value : minimum; }

}  // namespace

std::string SettingsFile::homeFolder() {
  if (const char* home = std::getenv("HOME")) return home;
  // No HOME at all (a service started bare): the account's home instead.
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return std::string();
}

std::string SettingsFile::locate() {
  if (std::string override = environment(kSettingsFileVariable); !override.empty()) return override;
  std::string config = environment("XDG_CONFIG_HOME");
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is ignored.
  if (config.empty() || config.front() != '/') config = homeFolder() + "/.config";
  return config + "/tavolen/Tavolen.ini";
}

void SettingsFile::loadSettings(ControlProperties& props) const {
  std::string folder = file_.readString(kSettingsSection, "SETPATH", "", kSetPathMaxBytes);
  if (folder.empty()) {
    folder = homeFolder();
    file_.writeString(kSettingsSection, "SETPATH", folder);
  }
  props.RecFilePath = folder;
  props.setModified();
  props.RecFileLen = file_.readInt(kSettingsSection, "FILELEN", 100);
  props.setModified();
  props.RecTimeLen = file_.readInt(kSettingsSection, "TIMELEN", 5);
  props.setModified();
  props.ReservedSpace = file_.readInt(kSettingsSection, "RESERVEDSPACE", 200);
  props.setModified();
  props.RecCover = file_.readInt(kSettingsSection, "COVER", 0);
  props.setModified();
}

void SettingsFile::SetRecordProperty(ControlProperties& props, int32_t fileLen, int32_t timeLen,
                                     int32_t reserved, int32_t cover) const {
  props.RecFileLen = atLeast(fileLen, kMinRecFileLen);
  props.setModified();
  file_.writeInt(kSettingsSection, "FILELEN", props.RecFileLen);
  props.RecTimeLen = atLeast(timeLen, kMinRecTimeLen);
  props.setModified();
  file_.writeInt(kSettingsSection, "TIMELEN", props.RecTimeLen);
  props.ReservedSpace = atLeast(reserved, kMinReservedSpace);
  props.setModified();
  file_.writeInt(kSettingsSection, "RESERVEDSPACE", props.ReservedSpace);
  props.RecCover = cover;
  props.setModified();
  file_.writeInt(kSettingsSection, "COVER", props.RecCover);
}

void SettingsFile::storeFolder(ControlProperties& props, const std::string& folder) const {
  props.RecFilePath = folder;
  props.setModified();
  file_.writeString(kSettingsSection, "SETPATH", folder);
}

std::string SettingsFile::readRecordFolder() const {
  return file_.readString(kSettingsSection, "SETPATH", "", kSetPathMaxBytes);
}

}  // namespace tavolen
