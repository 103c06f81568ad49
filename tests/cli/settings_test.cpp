// info, set, alias, ptz and reboot against the substitute camera, run as a
// user runs them; and what every camera subcommand does with a refused
// account, an unreachable camera and bad arguments.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_fixture.h"

namespace tavolen::test {
namespace {

bool has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

using SettingsCli = CliTest;

TEST_F(SettingsCli, InfoPrintsEveryGroupAsTheParsersReadIt) {
  camsim::Config c = smallCamera();
  c.camera.wifiScan = {{"Attic", "aa:bb:cc:dd:ee:01", 2, "-50", "60", 0}, {"Shed", "aa:bb:cc:dd:ee:02", 0, "-80", "10", 1}};
  startCamera(c);
  const CliResult r = runCli({"info", camera()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto out = lines(r.out);
  for (const char* line : {"network.ip=192.168.1.88", "network.dhcp=0", "network.port=81", "users.user1=viewer",
                           "users.pwd1=secret", "ddns.proxy_port=0", "ftp.dir=/", "ftp.port=21", "mail.smtpport=25",
                           "misc.ptz_run_times=1", "misc.ptz_patrol_rate=10", "wifi_scan.0.ssid=Attic",
                           "wifi_scan.0.security=2", "wifi_scan.1.mac=aa:bb:cc:dd:ee:02", "wifi_scan.1.mode=1"})
    EXPECT_TRUE(has(out, line)) << line << "\n" << r.out;
  EXPECT_FALSE(has(out, "wifi_scan.2.ssid=")) << "only the access points found";

  const CliResult json = runCli({"info", camera(), "ftp", "wifi_scan", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out,
            "{\"ftp\":{\"svr\":\"\",\"port\":21,\"user\":\"\",\"pwd\":\"\",\"dir\":\"/\",\"mode\":0,\"upload_interval\":0},"
            "\"wifi_scan\":[{\"ssid\":\"Attic\",\"mac\":\"aa:bb:cc:dd:ee:01\",\"security\":2,\"dbm0\":\"-50\","
            "\"dbm1\":\"60\",\"mode\":0},{\"ssid\":\"Shed\",\"mac\":\"aa:bb:cc:dd:ee:02\",\"security\":0,"
            "\"dbm0\":\"-80\",\"dbm1\":\"10\",\"mode\":1}]}\n");
}

TEST_F(SettingsCli, InfoLeavesOutAGroupTheCameraCannotAnswerUnlessItWasNamed) {
  camsim::Config c = smallCamera();
  c.camera.omitKeys = {"ftp_mode"};
  startCamera(c);
  const CliResult all = runCli({"info", camera()});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("mail.svr="), std::string::npos);
  EXPECT_EQ(all.out.find("ftp."), std::string::npos);

  const CliResult named = runCli({"--timeout", "3", "info", camera(), "network", "ftp"});
  EXPECT_EQ(named.status, 1);
  EXPECT_EQ(named.out, "");
  EXPECT_EQ(lines(named.err), std::vector<std::string>{"tavolen: 127.0.0.1:" + std::to_string(camera_->port()) +
                                                       " did not send its ftp settings"});
}

TEST_F(SettingsCli, SetWritesTheWholeRecordWithTheNamedFieldsChanged) {
  const CliResult r = runCli({"set", camera(), "ftp.port=2121", "ftp.svr=files.example", "misc.led_mode=2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  const auto ftp = requestsFor("set_ftp.cgi");
  ASSERT_EQ(ftp.size(), 1u);
  EXPECT_EQ(ftp[0],
            "GET set_ftp.cgi?loginuse=viewer&loginpas=secret&svr=files.example&port=2121&user=&pwd=&dir=/&mode=0"
            "&upload_interval=0 HTTP/1.1");
  const auto misc = requestsFor("set_misc.cgi");
  ASSERT_EQ(misc.size(), 1u);
  EXPECT_NE(misc[0].find("&ptz_patrol_rate=10&"), std::string::npos) << misc[0];
  EXPECT_NE(misc[0].find("&led_mode=2&"), std::string::npos) << misc[0];
  EXPECT_TRUE(requestsFor("reboot.cgi").empty());

  // What set wrote, info reads back under the same names.
  const CliResult back = runCli({"info", camera(), "ftp", "misc"});
  ASSERT_EQ(back.status, 0) << back.err;
  for (const char* line : {"ftp.port=2121", "ftp.svr=files.example", "ftp.dir=/", "misc.led_mode=2"})
    EXPECT_TRUE(has(lines(back.out), line)) << line;
}

TEST_F(SettingsCli, SetOfNetworkSettingsWaitsForTheCameraToRestart) {
  camsim::Config c = smallCamera();
  c.camera.rebootDownMs = 300;
  startCamera(c);
  const CliResult r = runCli({"set", camera(), "network.dns2=9.9.9.9"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto set = requestsFor("set_network.cgi");
  ASSERT_EQ(set.size(), 1u);
  EXPECT_NE(set[0].find("&ipaddr=192.168.1.88&mask=255.255.255.0&gateway=192.168.1.1&dns1=192.168.1.1&dns2=9.9.9.9"
                        "&dhcp=0&port=81 "),
            std::string::npos)
      << set[0];
  EXPECT_EQ(requestsFor("reboot.cgi").size(), 1u);
}

TEST_F(SettingsCli, ARefusedWriteFailsWithOneLine) {
  camsim::Config c = smallCamera();
  c.camera.refuseWrites = true;
  startCamera(c);
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"set", camera(), "ddns.host=home.example"}, "refused the ddns settings"},
      {{"alias", camera(), "Porch"}, "refused the alias"},
  };
  for (const Case& k : cases) {
    const CliResult r = runCli(k.args);
    EXPECT_EQ(r.status, 1) << k.args[0];
    const auto err = lines(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_NE(err[0].find(k.message), std::string::npos) << err[0];
  }
}

TEST_F(SettingsCli, AliasAndItsLimits) {
  ASSERT_EQ(runCli({"alias", camera(), "Porch-2"}).status, 0);
  const auto sent = requestsFor("set_alias.cgi");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], "GET set_alias.cgi?loginuse=viewer&loginpas=secret&alias=Porch-2 HTTP/1.1");
  for (const std::string& bad : {std::string(64, 'a'), std::string("Front door"), std::string("a&b")}) {
    const CliResult r = runCli({"alias", camera(), bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
  }
  EXPECT_EQ(requestsFor("set_alias.cgi").size(), 1u);  // nothing more reached the camera
}

TEST_F(SettingsCli, PtzSendsTheCodeOfEachAction) {
  struct Case {
    std::vector<std::string> action;
    int code;
  } cases[] = {
      {{"up"}, 0},   {{"stop"}, 1},        {{"down"}, 2},        {{"left"}, 4},       {{"right"}, 6},
      {{"center"}, 25}, {{"preset", "1"}, 90}, {{"goto", "1"}, 91}, {{"preset", "3"}, 94}, {{"goto", "3"}, 95},
      {{"code", "11"}, 11}, {{"code", "27"}, 27},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"ptz", camera()};
    args.insert(args.end(), k.action.begin(), k.action.end());
    const size_t before = requestsFor("decoder_control.cgi").size();
    const CliResult r = runCli(args);
    ASSERT_EQ(r.status, 0) << k.action[0] << ": " << r.err;
    const auto sent = requestsFor("decoder_control.cgi");
    ASSERT_EQ(sent.size(), before + 1) << k.action[0];
    EXPECT_EQ(sent.back(), "GET decoder_control.cgi?loginuse=viewer&loginpas=secret&command=" +
                               std::to_string(k.code) + " HTTP/1.1");
  }
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"jump"}, {"preset", "0"}, {"goto", "4"}, {"up", "2"}, {"code", "40"}}) {
    std::vector<std::string> args = {"ptz", camera()};
    args.insert(args.end(), bad.begin(), bad.end());
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 2) << bad[0];
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
  }
}

TEST_F(SettingsCli, RebootReturnsOnceTheCameraWentDownAndWaitsForItsReturn) {
  camsim::Config c = smallCamera();
  c.camera.rebootDownMs = 300;
  startCamera(c);
  const CliResult r = runCli({"reboot", camera(), "--wait", "30"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(requestsFor("reboot.cgi").size(), 1u);
  // Streaming again: the live request after the reboot.
  bool after = false;
  for (const std::string& req : camera_->requests()) {
    if (req.find("reboot.cgi") != std::string::npos) after = true;
    else if (after && req.find("livestream.cgi") != std::string::npos) return;
  }
  ADD_FAILURE() << "no live request after the reboot";
}

// Every subcommand that talks to a camera, with arguments that would work.
std::vector<std::vector<std::string>> cameraCommands(const std::string& cam, const std::string& dir) {
  return {
      {"info", cam},
      {"set", cam, "ftp.port=21"},
      {"alias", cam, "Porch"},
      {"ptz", cam, "up"},
      {"reboot", cam},
      {"snapshot", cam, "-o", dir + "/x.bmp"},
      {"record", cam, "--seconds", "1", "--dir", dir},
      {"sd", "list", cam, "--date", "2024-01-01"},
      {"sd", "get", cam, "rec.bin", "-o", dir + "/x.avi"},
      {"events", cam, "--seconds", "20"},
      {"listen", cam, "--seconds", "20"},
      {"talk", cam, "--file", dir + "/speech.wav"},
  };
}

TEST_F(SettingsCli, RefusedAccountFailsEveryCommandWithOneClearLine) {
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i sine=duration=0.3 " + scratch("speech.wav")).c_str()), 0);
  for (const auto& args : cameraCommands(camera("viewer:wrong"), dir_)) {
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(lines(r.err), std::vector<std::string>{"tavolen: 127.0.0.1:" + std::to_string(camera_->port()) +
                                                     " refused user 'viewer' (wrong user name or password)"})
        << args[0];
  }
  EXPECT_TRUE(requestsFor("set_").empty());
  EXPECT_TRUE(requestsFor("reboot.cgi").empty());
  EXPECT_TRUE(requestsFor("decoder_control.cgi").empty());
  EXPECT_TRUE(camera_->talk().empty());
}

TEST_F(SettingsCli, UnreachableCameraFailsEveryCommandWithOneClearLine) {
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i sine=duration=0.3 " + scratch("speech.wav")).c_str()), 0);
  const std::string cam = camera();
  const int port = camera_->port();
  camera_.reset();  // nothing listens on the port any more
  for (const auto& args : cameraCommands(cam, dir_)) {
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(lines(r.err), std::vector<std::string>{"tavolen: cannot connect to 127.0.0.1:" + std::to_string(port)})
        << args[0];
  }
}

TEST_F(SettingsCli, BadArgumentsAreRefusedBeforeAnythingIsSent) {
  const std::string cam = camera();
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "A subcommand is required"},
      {{"dance"}, "unknown subcommand dance"},
      {{"info"}, "camera is required"},
      {{"info", "viewer:secret@127.0.0.1:99999"}, "bad port"},
      {{"info", "viewer:a b@127.0.0.1"}, "space"},
      {{"info", cam, "audio"}, "no settings group audio"},
      {{"set", cam}, "assignments is required"},
      {{"set", cam, "ftp.port=x"}, "whole number"},
      {{"snapshot", cam}, "--output is required"},
      {{"sd", "list", cam, "--date", "2024-02-30"}, "no such day"},
      {{"sd", "list", cam, "--date", "yesterday"}, "YYYY-MM-DD"},
      {{"record", cam, "--file-len", "4096"}, "--file-len"},
      {{"--timeout", "0", "info", cam}, "--timeout"},
  };
  for (const Case& k : cases) {
    const CliResult r = runCli(k.args);
    const std::string what = k.args.empty() ? "(none)" : k.args[0];
    EXPECT_EQ(r.status, 2) << what;
    const auto err = lines(r.err);
    ASSERT_EQ(err.size(), 1u) << what << ": " << r.err;
    EXPECT_NE(err[0].find(k.message), std::string::npos) << err[0];
  }
  EXPECT_TRUE(camera_->requests().empty());
}

TEST_F(SettingsCli, PasswordFromTheEnvironmentOrThePrompt) {
  const std::string host = "127.0.0.1:" + std::to_string(camera_->port());
  CliRun fromEnv{{"info", "viewer@" + host, "users"}};
  fromEnv.env = {"TAVOLEN_PASSWORD=secret"};
  const CliResult env = runCli(fromEnv);
  EXPECT_EQ(env.status, 0) << env.err;
  EXPECT_NE(env.out.find("users.pwd1=secret"), std::string::npos);

  // Without a terminal there is nobody to ask.
  const CliResult none = runCli({"info", "viewer@" + host});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("TAVOLEN_PASSWORD"), std::string::npos) << none.err;

  CliRun prompted{{"info", "viewer@" + host, "users"}};
  prompted.terminal = true;
  prompted.typed = "secret\n";
  const CliResult typed = runCli(prompted);
  EXPECT_EQ(typed.status, 0) << typed.err;
  EXPECT_NE(typed.err.find("Password for viewer@" + host + ": "), std::string::npos) << typed.err;
  EXPECT_EQ(typed.err.find("secret"), std::string::npos) << "the password was echoed: " << typed.err;
}

TEST_F(SettingsCli, ASilentCameraFailsOnceTheTimeoutPassed) {
  // It takes the connection and says nothing, on every connection.
  camera_->setStandingFault({camsim::FaultKind::Silent, 0});
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--timeout", "1.5", "info", camera()}, {"--timeout", "1.5", "snapshot", camera(), "-o", scratch("x.bmp")}}) {
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 1) << args[2];
    EXPECT_EQ(lines(r.err), std::vector<std::string>{"tavolen: no answer from 127.0.0.1:" +
                                                     std::to_string(camera_->port()) + " within 1.5 s"})
        << args[2];
  }
}

TEST_F(SettingsCli, CtrlCEndsAWaitAtOnce) {
  // A camera that never answers the settings request: the tool is waiting
  // on its timeout when the interrupt comes.
  camera_->setStandingFault({camsim::FaultKind::Silent, 0});
  CliProcess p(CliRun{{"--timeout", "60", "info", camera()}});
  ASSERT_TRUE(camera_->waitForRequests(1, 10000));
  p.signal(SIGINT);
  const CliResult r = p.wait();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace tavolen::test
