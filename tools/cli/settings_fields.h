#pragma once
// The camera's settings as the tool names them: groups (one settings record
// of the link each) of fields, written group.field. info prints them, set
// takes the same names, so what info shows can be given back to set.
//
// Each field points into its record by offset and size, so one table serves
// reading a record the link delivered and filling one to write.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavolen::cli {

enum class FieldKind { Text, Number };

struct SettingsField {
  const char* name;
  FieldKind kind;
  uint16_t offset;
  uint16_t size;  // text: the field's bytes, terminating zero included
  bool writable;
};

struct SettingsGroup {
  const char* name;
  int32_t readCommand;   // 0: the camera has no read for it
  int32_t answerCode;    // the code its record arrives with
  int32_t writeCommand;  // 0: read only
  int32_t recordSize;
  bool rebootsOnWrite;   // the link reboots the camera after a successful write
  // A list of entries (the Wi-Fi scan): entryCount records of entrySize bytes.
  int32_t entrySize;
  int32_t entryCount;
  std::span<const SettingsField> fields;
};

std::span<const SettingsGroup> settingsGroups();
const SettingsGroup* findSettingsGroup(std::string_view name);

// One KEY=VALUE argument of set.
struct SettingsAssignment {
  const SettingsGroup* group = nullptr;
  const SettingsField* field = nullptr;
  std::string value;
};

// "" when text is group.field=value naming a writable field with a value it
// can hold (checked as store does); else what is wrong.
std::string parseAssignment(std::string_view text, SettingsAssignment& out);

// Writes the value into the record (of the group's recordSize bytes).
void store(const SettingsAssignment& assignment, uint8_t* record);

// The field's value in a record, as text (numbers in decimal).
std::string fieldText(const SettingsField& field, const uint8_t* record);
int32_t fieldNumber(const SettingsField& field, const uint8_t* record);

// Entries of a list group that hold anything (the list has no count).
int32_t usedEntries(const SettingsGroup& group, const uint8_t* record);

}  // namespace tavolen::cli
