// tavolen events: the link's events as they happen, one line each (or one
// JSON object a line): the stream lost and connected, the camera's refusals,
// and its motion, input, sound and sensor alarms by name.
#include <CLI/CLI.hpp>

#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "alarm_command.h"
#include "commands.h"
#include "console.h"
#include "event_names.h"
#include "failure.h"
#include "session.h"
#include "text_output.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

struct EventsOptions {
  std::string camera;
  bool json = false;
  std::string exec;
  double seconds = 0;
  int32_t stream = 0;
};

std::string localIsoTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm parts{};
  localtime_r(&t, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &parts);
  return text;
}

void print(const CameraLink::Event& e, const std::string& when, bool json) {
  FILE* out = Console::out();
  if (json) {
    JsonWriter w;
    w.beginObject()
        .key("time").value(when)
        .key("code").value(e.code)
        .key("event").value(eventKind(e.code))
        .key("name").value(eventText(e.code))
        .endObject();
    std::fprintf(out, "%s\n", w.text().c_str());
  } else {
    std::fprintf(out, "%s\t%d\t%s\t%s\n", when.c_str(), e.code, eventKind(e.code), eventText(e.code).c_str());
  }
  std::fflush(out);
}

int runEvents(Session& session, const EventsOptions& o) {
  CameraLink& link = session.openLink(o.camera);
  std::optional<AlarmCommand> command;
  if (!o.exec.empty()) command.emplace(o.exec, link.name());
  const size_t from = link.eventCount();
  link.startStream(o.stream);
  // Nothing is printed before the camera took the account: a refusal is the
  // watch's one error, not its first event.
  link.confirmAccount();

  const auto end = secondsFromNow(o.seconds > 0 ? o.seconds : kForever);
  size_t next = from;
  bool everConnected = false;
  while (!interrupted() && Clock::now() < end) {
    std::vector<CameraLink::Event> fresh;
    Waits::until(std::min(end, Clock::now() + std::chrono::milliseconds(500)),
                 [&] { return link.state().events.end() > next; });
    {
      std::lock_guard<std::mutex> lock(Waits::mutex());
      fresh = link.state().events.since(next);
      next = link.state().events.end();
      link.forgetEventsBefore(next);
    }
    if (command) command->reap();
    for (const CameraLink::Event& e : fresh) {
      // The link reports a lost stream before every connection, its first one
      // too; only a stream that was there can be lost.
      if (e.code == LinkEventStreamLost && !everConnected) continue;
      // After these the link gives up on the stream and no event comes any
      // more: they end the watch, as its error.
      if (e.code == LinkEventBadCredentials || e.code == LinkEventMaxConnections ||
          e.code == LinkEventRequestTypeError || (e.code == LinkEventStreamConnectFailed && !everConnected))
        link.failRefusal(e.code);
      const std::string when = localIsoTime(e.when);
      print(e, when, o.json);
      if (e.code == LinkEventStreamConnected) everConnected = true;
      if (isAlarm(e.code) && command) command->run(e.code, when);
    }
  }
  // Ctrl-C and the end of --seconds both end the watch normally.
  return 0;
}

}  // namespace

void addEventsCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<EventsOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runEvents,
      "events",
      "Print the camera's events as they happen (time, code, kind, name) until Ctrl-C; with --exec, run a "
      "command for each alarm with TAVOLEN_EVENT, TAVOLEN_EVENT_CODE, TAVOLEN_EVENT_NAME, TAVOLEN_EVENT_TIME "
      "and TAVOLEN_CAMERA in its environment");
  sub->add_flag("--json", o->json, "one JSON object a line");
  sub->add_option("--exec", o->exec, "a shell command to run for each alarm");
  sub->add_option("--seconds", o->seconds, "stop after this many seconds")->check(CLI::Range(0.1, 1e7));
  addStreamOption(sub, o->stream, "events come on it");
}

}  // namespace tavolen::cli
