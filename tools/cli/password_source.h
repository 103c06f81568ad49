#pragma once
// Where the password comes from when CAMERA does not carry one, so that it
// need not show in the process list: $TAVOLEN_PASSWORD, or a prompt on the
// terminal (without echo) when a user was named as "user@host". With neither
// a user nor a password written, the password is empty (the cameras' own
// default).

#include "camera_address.h"

namespace tavolen::cli {

inline constexpr const char* kPasswordVariable = "TAVOLEN_PASSWORD";

// Fills address.password; throws Failure when a prompt is needed and there is
// no terminal, or the password cannot travel in a request; Interrupted on
// Ctrl-C at the prompt.
void findPassword(CameraAddress& address);

}  // namespace tavolen::cli
