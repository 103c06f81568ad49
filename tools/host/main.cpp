// tavolen-host: lets web pages on allowed origins drive Tavolen controls. It
// serves tavolen.js and the demo page on 127.0.0.1 and gives each page
// connection a control of its own.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "crash_dump.h"
#include "host_server.h"
#include "origin_list.h"
#include "registration.h"

namespace {

void usage() {
  std::fputs(
      "usage: tavolen-host [--port N] [--picture auto|jpeg|raw]\n"
      "       tavolen-host --register [ORIGIN...]   allow origins, start the host at login\n"
      "       tavolen-host --unregister             undo what --register did\n"
      "       tavolen-host --list                   show the allowed origins and the service\n"
      "  --port N     loopback port (default 34780; 0 picks a free one)\n"
      "  --picture F  how pictures travel to pages: raw pixels, JPEG, or auto (raw\n"
      "               for windows up to 512 Ki pixels, JPEG above; the default)\n"
      "  --version    print the version and exit\n",
      stderr);
}

bool parsePort(const char* text, int& port) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (!*text || *end || value < 0 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tavolen::host;
  HostSettings settings;
  enum class Mode { Serve, Register, Unregister, List } mode = Mode::Serve;
  std::vector<std::string> origins;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--port" && i + 1 < argc) {
      if (!parsePort(argv[++i], settings.port)) {
        std::fprintf(stderr, "tavolen-host: bad port %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--picture" && i + 1 < argc) {
      const std::string f = argv[++i];
      if (f == "auto") settings.pictureFormat = PictureFormat::Auto;
      else if (f == "jpeg") settings.pictureFormat = PictureFormat::Jpeg;
      else if (f == "raw") settings.pictureFormat = PictureFormat::Raw;
      else return usage(), 2;
    } else if (a == "--register") {
      mode = Mode::Register;
      while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) origins.push_back(argv[++i]);
    } else if (a == "--unregister") {
      mode = Mode::Unregister;
    } else if (a == "--list") {
      mode = Mode::List;
    } else if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else if (a == "--version") {
      std::printf("tavolen-host %s\n", TAVOLEN_VERSION);
      return 0;
    } else {
      usage();
      return 2;
    }
  }

  const RegistrationPaths paths = defaultRegistrationPaths();
  switch (mode) {
    case Mode::Register: return registerHost(paths, origins, settings.port, std::cout, std::cerr);
    case Mode::Unregister: return unregisterHost(paths, std::cout, std::cerr);
    case Mode::List: return listRegistration(paths, settings.port, std::cout);
    case Mode::Serve: break;
  }

  tavolen::tools::installCrashDump();
  settings.originFile = paths.originFile();
  HostServer server(settings);
  if (!server.listen()) return 1;
  std::printf("tavolen-host: listening on http://127.0.0.1:%d/\n", server.port());
  std::fflush(stdout);
  server.run();
  return 0;
}
