// tavolen set, alias, ptz and reboot: the settings and pan/tilt commands,
// through the link's command queue, each waiting for the camera's result.
#include <CLI/CLI.hpp>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "session.h"
#include "settings_exchange.h"

namespace tavolen::cli {

namespace {

// ---- set ----

struct SetOptions {
  std::string camera;
  std::vector<std::string> assignments;
};

int runSet(Session& session, const SetOptions& o) {
  // Every argument is checked before anything reaches the camera.
  std::vector<SettingsAssignment> assignments;
  std::vector<const SettingsGroup*> groups;
  for (const std::string& text : o.assignments) {
    SettingsAssignment a;
    const std::string error = parseAssignment(text, a);
    if (!error.empty()) throw UsageError(error);
    assignments.push_back(a);
  }
  for (const SettingsGroup& g : settingsGroups())
    for (const SettingsAssignment& a : assignments)
      if (a.group == &g) {
        groups.push_back(&g);
        break;
      }

  CameraLink& link = session.openLink(o.camera);
  // A write carries the whole record: the fields not named keep the values
  // the camera has now. Groups the camera cannot read start from zero.
  GroupRecords records = readGroups(link, groups, true);
  const size_t resultsFrom = resultCount(link);
  const size_t eventsFrom = link.eventCount();
  std::map<int32_t, std::string> what;
  bool restarts = false;
  for (const SettingsGroup* g : groups) {
    std::vector<uint8_t>& record = records[g];
    record.resize(static_cast<size_t>(g->recordSize));
    for (const SettingsAssignment& a : assignments)
      if (a.group == g) store(a, record.data());
    link.queueWrite(g->writeCommand, record.data(), g->recordSize);
    what[g->writeCommand] = std::string(g->name) + " settings";
    restarts |= g->rebootsOnWrite;
  }
  waitWriteResults(link, resultsFrom, what);
  // The link restarts the camera to apply these; wait until that request has
  // gone out, which the camera shows by dropping the stream.
  if (restarts) waitRestart(link, eventsFrom);
  return 0;
}

// ---- alias ----

struct AliasOptions {
  std::string camera;
  std::string name;
};

int runAlias(Session& session, const AliasOptions& o) {
  char alias[64] = {};
  const std::string error = checkRequestValue("the alias", o.name, sizeof alias - 1);
  if (!error.empty()) throw UsageError(error);
  std::memcpy(alias, o.name.data(), o.name.size());
  CameraLink& link = session.openLink(o.camera);
  startAccountCheck(link);
  link.confirmAccount();
  const size_t from = resultCount(link);
  link.queueWrite(CommandSetAlias, alias, sizeof alias);
  waitWriteResults(link, from, {{CommandSetAlias, "alias"}});
  return 0;
}

// ---- ptz ----

// The pan/tilt codes the link sends; it drops every other code unsent.
bool linkSendsPtz(int32_t code) {
  return (code >= 0 && code <= 7) || code == 11 || (code >= 25 && code <= 29) || (code >= 90 && code <= 95);
}

// Moves with their stop codes in pairs, the centre, and three presets each
// stored (preset N) and recalled (goto N) by a pair of codes.
constexpr int32_t kPresetCount = 3;
struct PtzWord {
  const char* word;
  int32_t code;
};
constexpr PtzWord kPtzWords[] = {
    {"up", 0}, {"down", 2}, {"left", 4}, {"right", 6}, {"stop", 1}, {"center", 25},
};
constexpr int32_t kPresetSetBase = 90;
constexpr int32_t kPresetGotoBase = 91;

struct PtzOptions {
  std::string camera;
  std::string action;
  int32_t number = -1;
};

int32_t ptzCode(const PtzOptions& o) {
  for (const PtzWord& w : kPtzWords) {
    if (o.action != w.word) continue;
    if (o.number != -1) throw UsageError(o.action + " takes no number");
    return w.code;
  }
  if (o.action == "preset" || o.action == "goto") {
    if (o.number < 1 || o.number > kPresetCount)
      throw UsageError(o.action + " takes a preset number from 1 to " + std::to_string(kPresetCount));
    return (o.action == "preset" ? kPresetSetBase : kPresetGotoBase) + 2 * (o.number - 1);
  }
  if (o.action == "code") {
    if (!linkSendsPtz(o.number))
      throw UsageError("code takes a pan/tilt code the link sends: 0-7, 11, 25-29, 90-95");
    return o.number;
  }
  throw UsageError("unknown pan/tilt action " + o.action +
                   " (up, down, left, right, stop, center, preset N, goto N, code N)");
}

int runPtz(Session& session, const PtzOptions& o) {
  const int32_t code = ptzCode(o);
  CameraLink& link = session.openLink(o.camera);
  // Nothing moves for an account the camera refuses.
  startAccountCheck(link);
  link.confirmAccount();
  link.queuePtz(code);
  // The camera sends nothing back for a move; the answer to a read queued
  // behind it shows the move went out.
  waitQueueDone(link);
  return 0;
}

// ---- reboot ----

struct RebootOptions {
  std::string camera;
  double wait = 0;
};

int runReboot(Session& session, const RebootOptions& o) {
  CameraLink& link = session.openLink(o.camera);
  startAccountCheck(link);
  link.confirmAccount(true);
  const size_t eventsFrom = link.eventCount();
  link.queueRead(CommandReboot);
  waitRestart(link, eventsFrom);
  if (o.wait > 0) {
    uint64_t framesAtLoss;
    {
      std::lock_guard<std::mutex> lock(Waits::mutex());
      framesAtLoss = link.state().mediaFrames;
    }
    if (!Waits::untilOrThrow(secondsFromNow(o.wait), [&] { return link.state().mediaFrames > framesAtLoss; }))
      throw Failure(link.name() + " did not come back within " + secondsText(o.wait));
  }
  return 0;
}

}  // namespace

void addSetCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<SetOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runSet,
      "set",
      "Change settings: GROUP.FIELD=VALUE as info prints them. Fields not named keep their values; "
      "network, users and wifi settings restart the camera (wifi fields not named are written as 0 or empty)");
  sub->add_option("assignments", o->assignments, "GROUP.FIELD=VALUE ...")->required();
}

void addAliasCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<AliasOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runAlias, "alias", "Give the camera a name (at most 63 bytes)");
  sub->add_option("name", o->name, "the new name")->required();
}

void addPtzCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<PtzOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runPtz,
      "ptz",
      "Pan and tilt: up, down, left, right (codes 0, 2, 4, 6), stop (1), center (25), "
      "preset N and goto N (N 1-3: codes 90, 92, 94 and 91, 93, 95), or code N for any code the link sends");
  sub->add_option("action", o->action, "up|down|left|right|stop|center|preset|goto|code")->required();
  sub->add_option("number", o->number, "the preset number, or the code");
}

void addRebootCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<RebootOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runReboot, "reboot", "Restart the camera; returns once it has gone down");
  sub->add_option("--wait", o->wait, "then wait up to this many seconds for it to stream again")
      ->check(CLI::Range(1.0, 3600.0));
}

}  // namespace tavolen::cli
