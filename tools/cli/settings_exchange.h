#pragma once
// The settings conversation with a camera, shared by info, set, alias, ptz
// and reboot. The link runs its commands one after another and reports a
// read only when the camera's answer held every key, so the tool learns that
// a batch is done by queueing one more read behind it whose answer is
// certain to come; and it learns that the camera took its account from the
// live stream (see CameraLink::confirmAccount).

#include <cstdint>
#include <map>
#include <vector>

#include "camera_link.h"
#include "settings_fields.h"

namespace tavolen::cli {

// The stream the account is checked on, while settings commands run.
inline constexpr int32_t kCheckStreamId = 0;

using GroupRecords = std::map<const SettingsGroup*, std::vector<uint8_t>>;

// Starts the account check on the live stream, if the link is not streaming.
void startAccountCheck(CameraLink& link);

// Reads the groups (those that have a read). With requireAll a group the
// camera did not send is a Failure; otherwise it is left out, and only
// getting none at all fails.
GroupRecords readGroups(CameraLink& link, const std::vector<const SettingsGroup*>& groups, bool requireAll);

// Waits until every command queued ahead of now has run: queues a read of
// the network settings and waits for its answer.
void waitQueueDone(CameraLink& link);

// Waits for the results of the writes queued since the result count `from`;
// a refused write is a Failure naming `what` for its command.
void waitWriteResults(CameraLink& link, size_t from, const std::map<int32_t, std::string>& what);

// Waits for the camera to restart, which it shows by dropping the live
// stream; counts only drops after the event index given.
void waitRestart(CameraLink& link, size_t fromEvent);

size_t resultCount(const CameraLink& link);

}  // namespace tavolen::cli
