#include "settings_exchange.h"

#include <string>

#include "failure.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

// A restart shows once the stream has been silent for the link's 5 s and its
// watchdog has looked (every 3 s): allow that on top of the usual timeout.
constexpr double kRestartNoticeSeconds = 10;

size_t answerCount(const CameraLink& link, int32_t code) {
  const auto& answers = link.state().answers;
  const auto it = answers.find(code);
  return it == answers.end() ? 0 : it->second.size();
}

}  // namespace

void startAccountCheck(CameraLink& link) {
  if (!link.streaming()) link.startStream(kCheckStreamId);
}

size_t resultCount(const CameraLink& link) {
  std::lock_guard<std::mutex> lock(Waits::mutex());
  return link.state().results.size();
}

GroupRecords readGroups(CameraLink& link, const std::vector<const SettingsGroup*>& groups, bool requireAll) {
  std::vector<const SettingsGroup*> reads;
  for (const SettingsGroup* g : groups)
    if (g->readCommand != 0) reads.push_back(g);
  GroupRecords records;
  if (reads.empty()) return records;

  std::map<int32_t, size_t> before;
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    for (const SettingsGroup* g : reads) before[g->answerCode] = answerCount(link, g->answerCode);
  }
  for (const SettingsGroup* g : reads) link.queueRead(g->readCommand);
  // The first group once more: when it answers again, every read before it ran.
  const SettingsGroup* marker = reads.front();
  link.queueRead(marker->readCommand);

  startAccountCheck(link);
  link.confirmAccount();
  Waits::untilOrThrow(link.deadline(),
                      [&] { return answerCount(link, marker->answerCode) >= before[marker->answerCode] + 2; });

  std::lock_guard<std::mutex> lock(Waits::mutex());
  for (const SettingsGroup* g : reads) {
    const auto it = link.state().answers.find(g->answerCode);
    if (it == link.state().answers.end() || it->second.size() <= before[g->answerCode]) continue;
    std::vector<uint8_t> record = it->second[before[g->answerCode]];
    record.resize(static_cast<size_t>(g->recordSize));
    records[g] = std::move(record);
  }
  if (records.empty()) throw Failure(link.name() + " answered none of the settings requests");
  if (requireAll) {
    for (const SettingsGroup* g : reads)
      if (records.count(g) == 0) throw Failure(link.name() + " did not send its " + g->name + " settings");
  }
  return records;
}

void waitQueueDone(CameraLink& link) {
  size_t before;
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    before = answerCount(link, CommandGetNetwork);
  }
  link.queueRead(CommandGetNetwork);
  startAccountCheck(link);
  link.confirmAccount();
  if (!Waits::untilOrThrow(link.deadline(), [&] { return answerCount(link, CommandGetNetwork) > before; }))
    throw Failure(link.name() + " did not answer the settings request");
}

void waitWriteResults(CameraLink& link, size_t from, const std::map<int32_t, std::string>& what) {
  startAccountCheck(link);
  link.confirmAccount();
  std::map<int32_t, int32_t> results;
  Waits::untilOrThrow(link.deadline(), [&] {
    const auto& list = link.state().results;
    for (size_t i = from; i < list.size(); ++i) results.emplace(list[i].first, list[i].second);
    for (const auto& [command, name] : what)
      if (results.count(command) == 0) return false;
    return true;
  });
  for (const auto& [command, name] : what) {
    const auto it = results.find(command);
    if (it == results.end()) throw Failure(link.name() + " did not answer the " + name + " request");
    if (it->second != 0) throw Failure(link.name() + " refused the " + name);
  }
}

void waitRestart(CameraLink& link, size_t fromEvent) {
  if (!link.waitStreamLost(fromEvent, secondsFromNow(link.timeoutSeconds() + kRestartNoticeSeconds)))
    throw Failure(link.name() + " did not restart");
}

}  // namespace tavolen::cli
