#pragma once
// A private network for LAN search tests. enter() moves the whole test process
// into a fresh network namespace (so no broadcast ever leaves the machine's own
// namespace) with a bridge at 192.0.2.1/24; addCamera() starts a program in a
// namespace of its own, wired to that bridge by a veth pair.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavolen::test {

class NetnsLab {
 public:
  // True when the process now runs in a private namespace. False with a reason
  // when it cannot (no privilege); the caller must then not search at all.
  static bool enter(std::string& whyNot);
  static constexpr const char* kViewerAddress = "192.0.2.1";

  ~NetnsLab();
  // Runs argv in a new namespace with address 192.0.2.<hostByte>/24 and waits
  // for it to print its first line (a camsim prints one once its search port is
  // bound). False when it did not come up.
  bool addCamera(int hostByte, const std::vector<std::string>& argv);

 private:
  std::vector<pid_t> children_;
  int next_ = 0;
};

}  // namespace tavolen::test
