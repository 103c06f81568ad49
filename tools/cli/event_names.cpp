#include "event_names.h"

#include "tavolen/types.h"

namespace tavolen::cli {

namespace {

bool isSensor(int32_t code) { return code >= LinkEventSensorAlarmFirst && code <= LinkEventSensorAlarmLast; }

}  // namespace

int32_t eventCode(int32_t raw) { return raw & 0xFFFF; }

const char* eventKind(int32_t code) {
  switch (code) {
    case LinkEventStreamLost: return "stream-lost";
    case LinkEventStreamConnected: return "connected";
    case LinkEventStreamConnectFailed: return "connect-failed";
    case LinkEventBadCredentials: return "bad-credentials";
    case LinkEventMaxConnections: return "max-connections";
    case LinkEventRequestTypeError: return "request-type-error";
    case LinkEventVideoLoss: return "video-loss";
    case LinkEventMotionAlarm: return "motion-alarm";
    case LinkEventGpioAlarm: return "gpio-alarm";
    case LinkEventMotionAlarmClear: return "motion-alarm-end";
    case LinkEventGpioAlarmClear: return "gpio-alarm-end";
    case LinkEventSoundAlarm: return "sound-alarm";
    default: break;
  }
  return isSensor(code) ? "sensor-alarm" : "unknown";
}

std::string eventText(int32_t code) {
  switch (code) {
    case LinkEventStreamLost: return "Stream lost";
    case LinkEventStreamConnected: return "Stream connected";
    case LinkEventStreamConnectFailed: return "Connect failed";
    case LinkEventBadCredentials: return "User or pwd is incorrect";
    case LinkEventMaxConnections: return "Maximum of connections";
    case LinkEventRequestTypeError: return "Request type error";
    case LinkEventVideoLoss: return "Video Loss!";
    case LinkEventMotionAlarm: return "[Motion Alarm]";
    case LinkEventGpioAlarm: return "[GPIO Alarm]";
    case LinkEventMotionAlarmClear: return "[Motion Alarm] over";
    case LinkEventGpioAlarmClear: return "[GPIO Alarm] over";
    case LinkEventSoundAlarm: return "[Sound Alarm]";
    default: break;
  }
  if (!isSensor(code)) return "Event " + std::to_string(code);
  // Eight sensor families of four, in code order from 64.
  static const char* const kFamilies[] = {"Remote Control", "DoorBell", "Hall",    "Window",
                                          "Balcony",        "Bedroom",  "Courtyard", "Other"};
  const int32_t n = code - LinkEventSensorAlarmFirst;
  return "[" + std::string(kFamilies[n / 4]) + " " + std::to_string(n % 4 + 1) + "]";
}

bool isAlarm(int32_t code) {
  return code == LinkEventMotionAlarm || code == LinkEventGpioAlarm || code == LinkEventSoundAlarm ||
         isSensor(code);
}

}  // namespace tavolen::cli
