#pragma once
// events --exec: the user's command, run by /bin/sh for each alarm with the
// alarm in its environment:
//   TAVOLEN_EVENT       the kind (motion-alarm, gpio-alarm, sound-alarm, sensor-alarm)
//   TAVOLEN_EVENT_CODE  the link's event code (32, 33, 224, 64..95)
//   TAVOLEN_EVENT_NAME  the alarm's name ("[Motion Alarm]", "[DoorBell 3]", ...)
//   TAVOLEN_EVENT_TIME  when it came, local time, ISO 8601
//   TAVOLEN_CAMERA      host:port
// Commands run side by side and are not waited for while alarms come; the
// tool's own stdout and stderr are theirs, and Ctrl-C reaches them as usual.
// Main thread only.

#include <sys/types.h>

#include <string>
#include <vector>

#include "waits.h"

namespace tavolen::cli {

class AlarmCommand {
 public:
  AlarmCommand(std::string command, std::string camera);
  // Gives the commands still running up to a few seconds, then leaves them.
  ~AlarmCommand();

  // Starts the command for one alarm; false (and one warning) when it could
  // not be started.
  bool run(int32_t code, const std::string& when);
  // Collects the commands that ended.
  void reap();

 private:
  std::string command_;
  std::string camera_;
  std::vector<pid_t> running_;
};

}  // namespace tavolen::cli
