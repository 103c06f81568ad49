// tavolen info: the camera's settings, as the link's settings parsers read
// them, one group.field=value line each (the names set takes), or JSON.
#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "session.h"
#include "settings_exchange.h"
#include "text_output.h"

namespace tavolen::cli {

namespace {

struct InfoOptions {
  std::string camera;
  std::vector<std::string> groups;
  bool json = false;
};

void printText(const SettingsGroup& g, const std::vector<uint8_t>& record) {
  FILE* out = Console::out();
  if (g.entryCount == 0) {
    for (const SettingsField& f : g.fields)
      std::fprintf(out, "%s.%s=%s\n", g.name, f.name, printable(fieldText(f, record.data())).c_str());
    return;
  }
  const int32_t used = usedEntries(g, record.data());
  for (int32_t i = 0; i < used; ++i) {
    const uint8_t* entry = record.data() + static_cast<size_t>(i) * g.entrySize;
    for (const SettingsField& f : g.fields)
      std::fprintf(out, "%s.%d.%s=%s\n", g.name, i, f.name, printable(fieldText(f, entry)).c_str());
  }
}

void writeFields(JsonWriter& json, const SettingsGroup& g, const uint8_t* record) {
  json.beginObject();
  for (const SettingsField& f : g.fields) {
    json.key(f.name);
    if (f.kind == FieldKind::Number) json.value(fieldNumber(f, record));
    else json.value(fieldText(f, record));
  }
  json.endObject();
}

void writeJson(JsonWriter& json, const SettingsGroup& g, const std::vector<uint8_t>& record) {
  json.key(g.name);
  if (g.entryCount == 0) {
    writeFields(json, g, record.data());
    return;
  }
  json.beginArray();
  const int32_t used = usedEntries(g, record.data());
  for (int32_t i = 0; i < used; ++i) writeFields(json, g, record.data() + static_cast<size_t>(i) * g.entrySize);
  json.endArray();
}

int runInfo(Session& session, const InfoOptions& o) {
  std::vector<const SettingsGroup*> groups;
  for (const std::string& name : o.groups) {
    const SettingsGroup* g = findSettingsGroup(name);
    if (g == nullptr || g->readCommand == 0) throw UsageError("no settings group " + name + " to read");
    groups.push_back(g);
  }
  const bool named = !groups.empty();
  if (!named)
    for (const SettingsGroup& g : settingsGroups())
      if (g.readCommand != 0) groups.push_back(&g);

  CameraLink& link = session.openLink(o.camera);
  const GroupRecords records = readGroups(link, groups, named);
  link.stopStream();

  if (o.json) {
    JsonWriter json;
    json.beginObject();
    for (const SettingsGroup* g : groups)
      if (auto it = records.find(g); it != records.end()) writeJson(json, *g, it->second);
    json.endObject();
    std::fprintf(Console::out(), "%s\n", json.text().c_str());
  } else {
    for (const SettingsGroup* g : groups)
      if (auto it = records.find(g); it != records.end()) printText(*g, it->second);
  }
  return 0;
}

}  // namespace

void addInfoCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<InfoOptions>();
  std::string names;
  for (const SettingsGroup& g : settingsGroups()) {
    if (g.readCommand == 0) continue;
    names += names.empty() ? "" : ", ";
    names += g.name;
  }
  CLI::App* sub = cameraSubcommand(app, run, o, runInfo, "info", "Print the camera's settings as group.field=value lines");
  sub->add_option("groups", o->groups, "only these groups (" + names + "); each must answer");
  sub->add_flag("--json", o->json, "print one JSON object");
}

}  // namespace tavolen::cli
