#pragma once
// The process-wide list behind the tavolen_control_* handles, with the rule
// of platform/handle_table.h. Its cancel step ends a folder chooser the
// control may be waiting in, so that calls queued behind it return and the
// destroy's wait for them ends.

#include "control/tavolen_ctrl.h"
#include "platform/handle_table.h"

namespace tavolen {

using ControlList = platform::HandleTable<CTavolenCtrl>;

// Never destroyed: hosts may destroy controls during process exit.
ControlList& controlList();

}  // namespace tavolen
