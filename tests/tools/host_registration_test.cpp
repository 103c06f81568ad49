// --register, --unregister and --list in a throwaway configuration folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "origin_list.h"
#include "registration.h"

namespace tavolen::host {
namespace {
namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tavolen-register-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    paths_.configHome = root_ / "config";
    paths_.executable = "/opt/tavolen tools/bin/tavolen-host";
    // The user's service manager does not run in tests; a script stands in
    // for systemctl and records what it was asked.
    const fs::path fake = root_ / "systemctl";
    std::ofstream(fake) << "#!/bin/sh\necho \"$@\" >> " << (root_ / "systemctl.log") << "\n";
    fs::permissions(fake, fs::perms::owner_all);
    paths_.systemctl = fake;
  }
  void TearDown() override { fs::remove_all(root_); }

  int reg(std::vector<std::string> origins) { return registerHost(paths_, origins, 34780, out_, err_); }

  fs::path root_;
  RegistrationPaths paths_;
  std::ostringstream out_, err_;
};

TEST_F(Registration, SystemdUnitAndOriginsComeAndGo) {
  paths_.manager = ServiceManager::Systemd;
  // An origin the user added by hand stays through both commands.
  ASSERT_TRUE(writeOriginFile(paths_.originFile(), {"https://mine.example"}));
  ASSERT_EQ(reg({"https://Cams.Example.com:443", "http://127.0.0.1:9000", "https://mine.example"}), 0) << err_.str();

  EXPECT_EQ(readOriginFile(paths_.originFile()),
            (std::vector<std::string>{"https://mine.example", "https://cams.example.com", "http://127.0.0.1:9000"}));
  const std::string unit = slurp(paths_.unitFile());
  EXPECT_NE(unit.find("ExecStart=\"/opt/tavolen tools/bin/tavolen-host\" --port 34780\n"), std::string::npos);
  EXPECT_NE(unit.find("PartOf=graphical-session.target"), std::string::npos);
  EXPECT_NE(unit.find("WantedBy=graphical-session.target"), std::string::npos);
  ASSERT_TRUE(fs::is_symlink(paths_.unitLink()));
  EXPECT_EQ(fs::canonical(paths_.unitLink()), fs::canonical(paths_.unitFile()));
  EXPECT_EQ(slurp(root_ / "systemctl.log"), "--user --quiet daemon-reload\n--user --quiet start tavolen-host.service\n");

  std::ostringstream list;
  listRegistration(paths_, 34780, list);
  EXPECT_NE(list.str().find("  https://cams.example.com\n"), std::string::npos) << list.str();
  EXPECT_NE(list.str().find("  https://mine.example  (added by hand)\n"), std::string::npos) << list.str();
  EXPECT_NE(list.str().find("start at login: " + paths_.unitFile().string()), std::string::npos);

  ASSERT_EQ(unregisterHost(paths_, out_, err_), 0);
  EXPECT_EQ(readOriginFile(paths_.originFile()), std::vector<std::string>{"https://mine.example"});
  EXPECT_FALSE(fs::exists(paths_.unitFile()));
  EXPECT_FALSE(fs::is_symlink(paths_.unitLink()));
  EXPECT_FALSE(fs::exists(paths_.recordFile()));
  EXPECT_NE(slurp(root_ / "systemctl.log").find("--user --quiet stop tavolen-host.service\n"), std::string::npos);

  std::ostringstream after;
  listRegistration(paths_, 34780, after);
  EXPECT_NE(after.str().find("start at login: not registered"), std::string::npos);
}

TEST_F(Registration, AutostartEntryWhereSystemdIsAbsent) {
  paths_.manager = ServiceManager::Autostart;
  ASSERT_EQ(reg({}), 0);
  EXPECT_NE(slurp(paths_.autostartFile()).find("Exec=\"/opt/tavolen tools/bin/tavolen-host\" --port 34780\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(paths_.unitFile()));
  EXPECT_FALSE(fs::exists(root_ / "systemctl.log"));
  // Registering twice adds nothing twice, and one unregister undoes both.
  ASSERT_EQ(reg({"https://a.example"}), 0);
  ASSERT_EQ(reg({"https://a.example"}), 0);
  EXPECT_EQ(readOriginFile(paths_.originFile()), std::vector<std::string>{"https://a.example"});
  ASSERT_EQ(unregisterHost(paths_, out_, err_), 0);
  EXPECT_FALSE(fs::exists(paths_.autostartFile()));
  EXPECT_TRUE(readOriginFile(paths_.originFile()).empty());
}

TEST_F(Registration, RefusesBadInputWithoutChangingAnything) {
  paths_.manager = ServiceManager::Systemd;
  EXPECT_EQ(reg({"https://ok.example", "https://bad.example/path"}), 2);
  EXPECT_NE(err_.str().find("https://bad.example/path"), std::string::npos);
  EXPECT_FALSE(fs::exists(paths_.originFile()));
  EXPECT_FALSE(fs::exists(paths_.unitFile()));

  paths_.executable = "/opt/\"quoted\"/tavolen-host";
  EXPECT_EQ(reg({"https://ok.example"}), 1);
  EXPECT_FALSE(fs::exists(paths_.originFile()));

  // Unregistering what was never registered is fine and touches nothing.
  EXPECT_EQ(unregisterHost(paths_, out_, err_), 0);
  EXPECT_FALSE(fs::exists(paths_.configHome));
}

TEST_F(Registration, UnreachableServiceManagerStillInstallsTheUnit) {
  paths_.manager = ServiceManager::Systemd;
  paths_.systemctl = "/nonexistent/systemctl";
  ASSERT_EQ(reg({}), 0);
  EXPECT_TRUE(fs::exists(paths_.unitFile()));
  EXPECT_NE(out_.str().find("next login"), std::string::npos);
}

}  // namespace
}  // namespace tavolen::host
