// The shared library exports the C interface under plain C names and hides
// everything else.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string definedSymbols() {
  std::string command = std::string("nm -D --defined-only ") + TAVOLEN_SO;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buf[4096];
  while (pipe && fgets(buf, sizeof buf, pipe.get())) out += buf;
  return out;
}

TEST(SharedLibrary, ExportsOnlyTheCInterface) {
  const std::string symbols = definedSymbols();
  // No C++ symbol of ours leaks out of the library.
  EXPECT_EQ(symbols.find("_ZN7tavolen"), std::string::npos) << symbols;
}

TEST(SharedLibrary, ExportsTheCameraLinkFunctions) {
  const std::string symbols = definedSymbols();
  const char* names[] = {
      "device_net_work_init",          "device_net_work_deInit",
      "device_net_work_createInstance", "device_net_work_destroyInstance",
      "device_net_work_startStream",   "device_net_work_stopStream",
      "device_net_work_startAudio",    "device_net_work_stopAudio",
      "device_net_work_startTalk",     "device_net_work_stopTalk",
      "device_net_work_sendTalkData",  "device_net_work_set_event_callback",
      "device_net_work_ptz",           "device_net_work_param_callback",
      "device_net_work_set_network",   "device_net_work_get_network",
      "device_record_file_search_list", "device_record_file_start",
      "device_record_file_stop",       "device_record_file_set_pos",
  };
  for (const char* name : names) {
    // nm prints "<address> T <name>" for each defined function.
    EXPECT_NE(symbols.find(std::string(" T ") + name + "\n"), std::string::npos) << name;
  }
}

}  // namespace
