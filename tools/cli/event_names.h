#pragma once
// What the link's event codes mean to a person and to a script: a short kind
// for scripts ("motion-alarm") and the text the camera's alarms are known by
// ("[Motion Alarm]", "[DoorBell 3]", "Video Loss!").

#include <cstdint>
#include <string>

namespace tavolen::cli {

// The event code as the link raises it; only its low 16 bits carry meaning.
int32_t eventCode(int32_t raw);
const char* eventKind(int32_t code);
std::string eventText(int32_t code);
// A camera alarm being raised (not its end, not a connection event).
bool isAlarm(int32_t code);

}  // namespace tavolen::cli
