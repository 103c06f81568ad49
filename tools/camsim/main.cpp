// tavolen-camsim: the substitute camera as a program.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "steering.h"
#include "demo.h"
#include "recording_maker.h"

namespace {

std::atomic<bool> gInterrupted{false};
void onSignal(int) { gInterrupted = true; }

void usage() {
  std::fputs(
      "usage: tavolen-camsim [options]\n"
      "  --bind ADDR            listen address (default 127.0.0.1)\n"
      "  --port N               TCP port (default 8081; 0 picks one)\n"
      "  --user NAME --password PWD   the account (default admin, empty)\n"
      "  --max-clients N        live connections at once (default 4; more get 201)\n"
      "  --video-loss           answer live requests with 203\n"
      "  --profile ID=WxH@FPS[,unpaced][,loop=N]   add or replace a stream profile\n"
      "  --video-file PATH      stream an H.264 (Annex B) or MJPEG file instead\n"
      "  --audio adpcm|alaw     audio block kind (default adpcm)\n"
      "  --tone HZ              audio tone (default 440)\n"
      "  --talk-file PATH       append received talk (seq lines; PCM to PATH.pcm)\n"
      "  --timezone H           timeZone written into frame headers\n"
      "  --status-every TYPE:MS send a status/alarm frame on a schedule (repeatable)\n"
      "  --fault SPEC           fault for the next connection (repeatable, in order):\n"
      "                         silent[:N] close:N http-error bad-magic[:N] stall[:N] drop\n"
      "  --fault-all SPEC       fault for every connection\n"
      "  --control stdin|PATH   read commands from stdin or a local socket at PATH\n"
      "  --demo [STREAMID]      also run a camera link against this camsim and print\n"
      "                         its events and a live frame counter (default stream 1)\n"
      "  --quiet                no per-connection lines\n"
      "  --settings-file PATH   keep the settings in PATH (loaded at start, written on set)\n"
      "  --ddns-first           get_params lists the DDNS keys before the network keys\n"
      "  --wifi-ap SSID,MAC,SECURITY,DBM0,DBM1,MODE   an access point of the Wi-Fi scan\n"
      "                         (repeatable; replaces the three default ones)\n"
      "  --reboot-down MS       how long reboot.cgi drops streams and refuses (default 1000)\n"
      "  --refuse-writes        answer every settings write with an error\n"
      "  --record-folder DIR    SD-card recordings (files of media frames)\n"
      "  --make-recordings N    first put N recordings of 6 s of stream 1 into the\n"
      "                         record folder, a minute apart, the last one now\n"
      "  --search               answer the LAN search on UDP 8600\n"
      "  --search-bind ADDR     address of the UDP 8600 socket (default 0.0.0.0)\n"
      "  --search-ip TEXT       address text in the search answer (default the --bind address)\n"
      "  --name NAME            camera name in the search answer (default camsim)\n"
      "  --version              print the version and exit\n",
      stderr);
}

bool parseAccessPoint(const std::string& text, camsim::WifiAccessPoint& ap) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
    parts.push_back(text.substr(from, comma - from));
  parts.push_back(text.substr(from));
  if (parts.size() != 6) return false;
  ap = camsim::WifiAccessPoint{parts[0], parts[1], std::atoi(parts[2].c_str()), parts[3], parts[4],
                               std::atoi(parts[5].c_str())};
  return true;
}

bool parseProfile(const std::string& text, camsim::Profile& p) {
  int id, w, h, fps;
  int used = 0;
  if (std::sscanf(text.c_str(), "%d=%dx%d@%d%n", &id, &w, &h, &fps, &used) != 4) return false;
  if (w < 16 || h < 16 || w > 4096 || h > 2304 || fps < 1 || fps > 120) return false;
  p = camsim::Profile{id, w, h, fps, true, 0};
  std::string rest = text.substr(static_cast<size_t>(used));
  while (!rest.empty()) {
    if (rest[0] != ',') return false;
    rest.erase(0, 1);
    const size_t comma = rest.find(',');
    const std::string opt = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma);
    if (opt == "unpaced") {
      p.paced = false;
    } else if (opt.rfind("loop=", 0) == 0) {
      p.loopFrames = std::atoi(opt.c_str() + 5);
      if (p.loopFrames < 1 || p.loopFrames > 1000) return false;
    } else {
      return false;
    }
  }
  return true;
}

void steerFromStdin(camsim::Server& server) {
  std::string line;
  char buf[512];
  while (!gInterrupted) {
    pollfd p{0, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n <= 0) return;
    line.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = line.find('\n')) != std::string::npos) {
      bool quit = false;
      const std::string reply = camsim::runCommand(server, line.substr(0, nl), quit);
      line.erase(0, nl + 1);
      std::printf("%s\n", reply.c_str());
      std::fflush(stdout);
      if (quit) return;
    }
    if (line.size() > 4096) line.clear();
  }
}

void steerFromSocket(camsim::Server& server, const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof addr.sun_path) {
    std::fprintf(stderr, "camsim: bad steering socket path\n");
    return;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    std::fprintf(stderr, "camsim: cannot listen on %s\n", path.c_str());
    ::close(fd);
    return;
  }
  bool quit = false;
  while (!gInterrupted && !quit) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    std::string line;
    char buf[512];
    ssize_t n;
    while (!quit && (n = ::read(c, buf, sizeof buf)) > 0) {
      line.append(buf, static_cast<size_t>(n));
      size_t nl;
      while ((nl = line.find('\n')) != std::string::npos) {
        const std::string reply = camsim::runCommand(server, line.substr(0, nl), quit) + "\n";
        line.erase(0, nl + 1);
        (void)!::write(c, reply.data(), reply.size());
      }
      if (line.size() > 4096) break;
    }
    ::close(c);
  }
  ::close(fd);
  ::unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  camsim::Config config;
  config.port = 8081;
  config.log = stdout;
  {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    config.timeZone = static_cast<int8_t>(-parts.tm_gmtoff / 3600);
  }
  std::string steering;
  bool wifiDefaults = true;
  bool demo = false;
  int demoStream = 1;
  int makeRecordings = 0;
  std::vector<camsim::Fault> queued;
  camsim::Fault standing;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "camsim: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    camsim::Fault fault;
    camsim::Profile profile;
    if (a == "--bind") {
      config.bindAddress = value("--bind");
    } else if (a == "--port") {
      config.port = static_cast<uint16_t>(std::atoi(value("--port").c_str()));
    } else if (a == "--user") {
      config.user = value("--user");
    } else if (a == "--password") {
      config.password = value("--password");
    } else if (a == "--max-clients") {
      config.maxClients = std::atoi(value("--max-clients").c_str());
    } else if (a == "--video-loss") {
      config.videoLoss = true;
    } else if (a == "--profile") {
      if (!parseProfile(value("--profile"), profile)) {
        std::fprintf(stderr, "camsim: bad profile %s\n", argv[i]);
        return 2;
      }
      std::erase_if(config.profiles, [&](const camsim::Profile& p) { return p.streamId == profile.streamId; });
      config.profiles.push_back(profile);
    } else if (a == "--video-file") {
      config.videoFile = value("--video-file");
    } else if (a == "--audio") {
      const std::string kind = value("--audio");
      if (kind != "adpcm" && kind != "alaw") {
        usage();
        return 2;
      }
      config.audio = kind == "alaw" ? camsim::AudioKind::Alaw : camsim::AudioKind::Adpcm;
    } else if (a == "--tone") {
      config.toneHz = std::atoi(value("--tone").c_str());
    } else if (a == "--talk-file") {
      config.talkFile = value("--talk-file");
    } else if (a == "--timezone") {
      config.timeZone = static_cast<int8_t>(std::atoi(value("--timezone").c_str()));
    } else if (a == "--status-every") {
      unsigned type = 0;
      int ms = 0;
      if (std::sscanf(value("--status-every").c_str(), "%u:%d", &type, &ms) != 2 || type > 255 || ms < 10) {
        std::fprintf(stderr, "camsim: bad schedule %s\n", argv[i]);
        return 2;
      }
      config.schedule.push_back({static_cast<uint8_t>(type), ms});
    } else if (a == "--fault" || a == "--fault-all") {
      if (!camsim::parseFault(value(a.c_str()), fault)) {
        std::fprintf(stderr, "camsim: bad fault %s\n", argv[i]);
        return 2;
      }
      if (a == "--fault") {
        queued.push_back(fault);
      } else {
        standing = fault;
      }
    } else if (a == "--control") {
      steering = value("--control");
    } else if (a == "--demo") {
      demo = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') demoStream = std::atoi(argv[++i]);
    } else if (a == "--settings-file") {
      config.camera.settingsFile = value("--settings-file");
    } else if (a == "--ddns-first") {
      config.camera.ddnsFirst = true;
    } else if (a == "--wifi-ap") {
      camsim::WifiAccessPoint ap;
      if (!parseAccessPoint(value("--wifi-ap"), ap)) {
        std::fprintf(stderr, "camsim: bad access point %s\n", argv[i]);
        return 2;
      }
      if (wifiDefaults) config.camera.wifiScan.clear();
      wifiDefaults = false;
      config.camera.wifiScan.push_back(ap);
    } else if (a == "--reboot-down") {
      config.camera.rebootDownMs = std::atoi(value("--reboot-down").c_str());
    } else if (a == "--refuse-writes") {
      config.camera.refuseWrites = true;
    } else if (a == "--make-recordings") {
      makeRecordings = std::atoi(value("--make-recordings").c_str());
    } else if (a == "--record-folder") {
      config.camera.recordFolder = value("--record-folder");
    } else if (a == "--search") {
      config.camera.searchAnswer = true;
    } else if (a == "--search-bind") {
      config.camera.searchBind = value("--search-bind");
    } else if (a == "--search-ip") {
      config.camera.searchIp = value("--search-ip");
    } else if (a == "--name") {
      config.camera.name = value("--name");
    } else if (a == "--quiet") {
      config.log = nullptr;
    } else if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else if (a == "--version") {
      std::printf("tavolen-camsim %s\n", TAVOLEN_VERSION);
      return 0;
    } else {
      std::fprintf(stderr, "camsim: unknown option %s\n", a.c_str());
      usage();
      return 2;
    }
  }

  signal(SIGINT, onSignal);
  signal(SIGTERM, onSignal);
  signal(SIGPIPE, SIG_IGN);

  if (makeRecordings > 0) {
    const camsim::Profile* profile = nullptr;
    for (const auto& p : config.profiles)
      if (p.streamId == 1) profile = &p;
    std::string error;
    if (config.camera.recordFolder.empty() || profile == nullptr) {
      std::fprintf(stderr, "camsim: --make-recordings needs --record-folder and stream 1\n");
      return 2;
    }
    if (!camsim::makeRecordings(config.camera.recordFolder, *profile, makeRecordings, 6, config.timeZone, error)) {
      std::fprintf(stderr, "camsim: %s\n", error.c_str());
      return 1;
    }
  }

  camsim::Server server(config);
  for (const auto& f : queued) server.pushFault(f);
  server.setStandingFault(standing);
  if (!server.start()) {
    std::fprintf(stderr, "camsim: cannot listen on %s:%u\n", config.bindAddress.c_str(), config.port);
    return 1;
  }

  std::thread demoThread;
  if (demo) demoThread = std::thread([&] { camsim::runDemo(server, demoStream, gInterrupted); });
  if (steering == "stdin") {
    steerFromStdin(server);
  } else if (!steering.empty()) {
    steerFromSocket(server, steering);
  } else {
    while (!gInterrupted) ::usleep(100 * 1000);
  }
  gInterrupted = true;
  if (demoThread.joinable()) demoThread.join();
  server.stop();
  return 0;
}
