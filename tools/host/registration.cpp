#include "registration.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string_view>
#include <system_error>

#include "origin_list.h"
#include "service_unit.h"

extern char** environ;

namespace tavolen::host {
namespace fs = std::filesystem;

namespace {

constexpr const char* kUnitName = "tavolen-host.service";

struct Record {
  std::vector<std::string> origins;
  std::vector<fs::path> files;
};

Record readRecord(const fs::path& file) {
  Record record;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("origin ", 0) == 0) record.origins.push_back(line.substr(7));
    else if (line.rfind("file ", 0) == 0) record.files.emplace_back(line.substr(5));
  }
  return record;
}

bool writeRecord(const fs::path& file, const Record& record) {
  std::ofstream out(file, std::ios::trunc);
  out << "# Written by tavolen-host --register; read by --unregister.\n";
  for (const auto& origin : record.origins) out << "origin " << origin << '\n';
  for (const auto& path : record.files) out << "file " << path.string() << '\n';
  return static_cast<bool>(out.flush());
}

// Paths go into unit and desktop files inside double quotes; characters that
// would need escaping there are refused instead.
bool quotable(const std::string& path) {
  return std::all_of(path.begin(), path.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ' ';
  });
}

bool writeText(const fs::path& file, const std::string& text) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

// Runs `systemctl --user ARGS...` quietly; false when it could not run or failed.
bool runSystemctl(const RegistrationPaths& paths, std::vector<std::string> args) {
  if (paths.systemctl.empty()) return false;
  std::vector<std::string> words{paths.systemctl, "--user", "--quiet"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string commandLine(const RegistrationPaths& paths, int port) {
  return "\"" + paths.executable.string() + "\" --port " + std::to_string(port);
}

}  // namespace

fs::path RegistrationPaths::originFile() const { return configHome / "tavolen" / "origins"; }
fs::path RegistrationPaths::recordFile() const { return configHome / "tavolen" / "registered"; }
fs::path RegistrationPaths::unitFile() const { return configHome / "systemd" / "user" / kUnitName; }
fs::path RegistrationPaths::unitLink() const {
  return configHome / "systemd" / "user" / "graphical-session.target.wants" / kUnitName;
}
fs::path RegistrationPaths::autostartFile() const {
  return configHome / "autostart" / "tavolen-host.desktop";
}

RegistrationPaths defaultRegistrationPaths() {
  RegistrationPaths paths;
  paths.configHome = configFolder().parent_path();
  std::error_code ec;
  paths.executable = fs::read_symlink("/proc/self/exe", ec);
  const char* manager = std::getenv("TAVOLEN_SERVICE_MANAGER");
  if (manager && std::string(manager) == "autostart") paths.manager = ServiceManager::Autostart;
  else if (manager && std::string(manager) == "systemd") paths.manager = ServiceManager::Systemd;
  else paths.manager = fs::exists("/run/systemd/system", ec) ? ServiceManager::Systemd : ServiceManager::Autostart;
  const char* systemctl = std::getenv("TAVOLEN_SYSTEMCTL");
  paths.systemctl = systemctl ? systemctl : "systemctl";
  return paths;
}

int registerHost(const RegistrationPaths& paths, const std::vector<std::string>& origins, int port,
                 std::ostream& out, std::ostream& err) {
  std::vector<std::string> normalized;
  for (const auto& origin : origins) {
    const auto n = normalizeOrigin(origin);
    if (!n) {
      err << "tavolen-host: not an http or https origin: " << origin << '\n';
      return 2;
    }
    normalized.push_back(*n);
  }
  if (!quotable(paths.executable.string())) {
    err << "tavolen-host: cannot register from this path: " << paths.executable << '\n';
    return 1;
  }

  Record record = readRecord(paths.recordFile());
  std::vector<std::string> allowed = readOriginFile(paths.originFile());
  for (const auto& origin : normalized) {
    if (std::find(allowed.begin(), allowed.end(), origin) == allowed.end()) {
      if (allowed.size() >= kMaxOrigins) {
        err << "tavolen-host: the allow-list is full (" << kMaxOrigins << " origins)\n";
        return 1;
      }
      allowed.push_back(origin);
      record.origins.push_back(origin);
    }
    out << "allowed: " << origin << '\n';
  }
  if (!writeOriginFile(paths.originFile(), allowed)) {
    err << "tavolen-host: cannot write " << paths.originFile() << '\n';
    return 1;
  }

  auto remember = [&record](const fs::path& p) {
    if (std::find(record.files.begin(), record.files.end(), p) == record.files.end())
      record.files.push_back(p);
  };
  if (paths.manager == ServiceManager::Systemd) {
    std::string unit = kServiceUnitTemplate;
    unit.replace(unit.find(kExecStartMark), std::string_view(kExecStartMark).size(),
                 commandLine(paths, port));
    std::error_code ec;
    if (!writeText(paths.unitFile(), unit)) {
      err << "tavolen-host: cannot write " << paths.unitFile() << '\n';
      return 1;
    }
    fs::create_directories(paths.unitLink().parent_path(), ec);
    fs::remove(paths.unitLink(), ec);
    fs::create_symlink(fs::path("..") / kUnitName, paths.unitLink(), ec);
    if (ec) {
      err << "tavolen-host: cannot link " << paths.unitLink() << ": " << ec.message() << '\n';
      return 1;
    }
    remember(paths.unitFile());
    remember(paths.unitLink());
    out << "service: " << paths.unitFile().string() << " (starts with the graphical session)\n";
    if (runSystemctl(paths, {"daemon-reload"}) && runSystemctl(paths, {"start", kUnitName}))
      out << "service started\n";
    else
      out << "the user's service manager was not reached; the host starts at the next login\n";
  } else {
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Tavolen browser host\n"
        "Comment=Lets allowed web pages drive cameras\n"
        "Exec=" + commandLine(paths, port) + "\n"
        "NoDisplay=true\n"
        "X-GNOME-Autostart-enabled=true\n";
    if (!writeText(paths.autostartFile(), entry)) {
      err << "tavolen-host: cannot write " << paths.autostartFile() << '\n';
      return 1;
    }
    remember(paths.autostartFile());
    out << "autostart: " << paths.autostartFile().string() << " (starts at the next login)\n";
  }
  if (!writeRecord(paths.recordFile(), record)) {
    err << "tavolen-host: cannot write " << paths.recordFile() << '\n';
    return 1;
  }
  return 0;
}

int unregisterHost(const RegistrationPaths& paths, std::ostream& out, std::ostream& err) {
  const Record record = readRecord(paths.recordFile());
  std::vector<std::string> allowed = readOriginFile(paths.originFile());
  for (const auto& origin : record.origins) {
    const auto it = std::find(allowed.begin(), allowed.end(), origin);
    if (it == allowed.end()) continue;
    allowed.erase(it);
    out << "removed: " << origin << '\n';
  }
  std::error_code ec;
  if (fs::exists(paths.originFile(), ec) && !writeOriginFile(paths.originFile(), allowed)) {
    err << "tavolen-host: cannot write " << paths.originFile() << '\n';
    return 1;
  }
  bool hadUnit = false;
  for (const auto& file : record.files) {
    if (file == paths.unitFile()) hadUnit = true;
    if (fs::remove(file, ec)) out << "removed: " << file.string() << '\n';
  }
  if (hadUnit) {
    runSystemctl(paths, {"stop", kUnitName});
    runSystemctl(paths, {"daemon-reload"});
  }
  fs::remove(paths.recordFile(), ec);
  return 0;
}

int listRegistration(const RegistrationPaths& paths, int port, std::ostream& out) {
  const Record record = readRecord(paths.recordFile());
  out << "always allowed:";
  for (const auto& origin : ownOrigins(port)) out << ' ' << origin;
  out << "\nallow-list " << paths.originFile().string() << ":\n";
  const auto allowed = readOriginFile(paths.originFile());
  if (allowed.empty()) out << "  (none)\n";
  for (const auto& origin : allowed) {
    const bool registered =
        std::find(record.origins.begin(), record.origins.end(), origin) != record.origins.end();
    out << "  " << origin << (registered ? "" : "  (added by hand)") << '\n';
  }
  std::error_code ec;
  bool any = false;
  for (const auto& file : record.files) {
    if (file == paths.unitLink()) continue;
    out << "start at login: " << file.string() << (fs::exists(file, ec) ? "" : " (missing)") << '\n';
    any = true;
  }
  if (!any) out << "start at login: not registered\n";
  return 0;
}

}  // namespace tavolen::host
