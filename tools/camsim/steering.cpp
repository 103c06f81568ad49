#include "steering.h"

#include <cstdlib>
#include <sstream>

namespace camsim {

namespace {

bool parseOnOff(const std::string& word, bool& out) {
  if (word == "on" || word == "1") {
    out = true;
    return true;
  }
  if (word == "off" || word == "0") {
    out = false;
    return true;
  }
  return false;
}

bool parseInt(const std::string& word, long low, long high, long& out) {
  if (word.empty()) return false;
  char* end = nullptr;
  out = std::strtol(word.c_str(), &end, 0);
  return end != nullptr && *end == '\0' && out >= low && out <= high;
}

}  // namespace

std::string runCommand(Server& server, const std::string& line, bool& quit) {
  std::istringstream in(line);
  std::string verb, arg, extra;
  in >> verb >> arg >> extra;
  if (verb.empty()) return "ok";
  if (!extra.empty()) return "error: too many arguments";
  long n = 0;
  bool on = false;
  Fault fault;
  if ((verb == "status" || verb == "alarm") && parseInt(arg, 0, 255, n)) {
    server.sendStatus(static_cast<uint8_t>(n));
  } else if (verb == "fault" && parseFault(arg, fault)) {
    server.pushFault(fault);
  } else if (verb == "fault-all" && parseFault(arg, fault)) {
    server.setStandingFault(fault);
  } else if (verb == "fault-clear" && arg.empty()) {
    server.clearFaults();
  } else if (verb == "refuse" && parseOnOff(arg, on)) {
    server.setRefusing(on);
  } else if (verb == "videoloss" && parseOnOff(arg, on)) {
    server.setVideoLoss(on);
  } else if (verb == "clients" && parseInt(arg, 0, 1000, n)) {
    server.setMaxClients(static_cast<int>(n));
  } else if (verb == "quit" && arg.empty()) {
    quit = true;
  } else {
    return "error: unknown command: " + line;
  }
  return "ok";
}

}  // namespace camsim
