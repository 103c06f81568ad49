#pragma once
// Registration: the origins allowed to drive a control, and the user service
// that starts tavolen-host with the graphical session.
//
// Files (all under the user's own folders):
//   $XDG_CONFIG_HOME/tavolen/origins       the allow-list (hand edits are kept)
//   $XDG_CONFIG_HOME/tavolen/registered    what --register added, for --unregister
//   $XDG_CONFIG_HOME/systemd/user/tavolen-host.service and its link in
//     graphical-session.target.wants/       where systemd runs the session
//   $XDG_CONFIG_HOME/autostart/tavolen-host.desktop   elsewhere

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace tavolen::host {

enum class ServiceManager { Systemd, Autostart };

struct RegistrationPaths {
  std::filesystem::path configHome;  // $XDG_CONFIG_HOME (or ~/.config)
  std::filesystem::path executable;  // the tavolen-host to start
  ServiceManager manager = ServiceManager::Systemd;
  std::string systemctl;             // command used to reload the user manager; empty: none

  std::filesystem::path originFile() const;
  std::filesystem::path recordFile() const;
  std::filesystem::path unitFile() const;
  std::filesystem::path unitLink() const;
  std::filesystem::path autostartFile() const;
};

// The paths of this user and machine: systemd when it runs the machine
// (/run/systemd/system exists), else an autostart entry. TAVOLEN_SERVICE_MANAGER
// ("systemd" or "autostart") and TAVOLEN_SYSTEMCTL override the detection.
RegistrationPaths defaultRegistrationPaths();

// Each returns 0 on success and a process exit status otherwise; messages go
// to out and err.
int registerHost(const RegistrationPaths& paths, const std::vector<std::string>& origins, int port,
                 std::ostream& out, std::ostream& err);
int unregisterHost(const RegistrationPaths& paths, std::ostream& out, std::ostream& err);
int listRegistration(const RegistrationPaths& paths, int port, std::ostream& out);

}  // namespace tavolen::host
