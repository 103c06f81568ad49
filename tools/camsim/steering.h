#pragma once
// Commands that steer a running camsim, one per line, from stdin or a local
// socket (see main.cpp). Also used directly by tests.
//
//   status TYPE        send a status or alarm frame of TYPE on every live connection
//   fault SPEC         the next connection gets this fault (see parseFault)
//   fault-all SPEC     every later connection gets it
//   fault-clear        no more faults
//   refuse on|off      stop or resume accepting connections
//   videoloss on|off   answer live requests with 203
//   clients N          most live connections at once
//   quit

#include <string>

#include "camsim.h"

namespace camsim {

// Runs one command line; returns the reply ("ok", or "error: ..."). Sets quit
// for the quit command.
std::string runCommand(Server& server, const std::string& line, bool& quit);

}  // namespace camsim
