// events: the link's events as the camera raises them, and --exec run for
// each alarm, with alarms the substitute camera raises on a schedule.
#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_fixture.h"

namespace tavolen::test {
namespace {

using EventsCli = CliTest;

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
    out.push_back(line.substr(from, tab - from));
  out.push_back(line.substr(from));
  return out;
}

TEST_F(EventsCli, ExecRunsTheCommandForEachScheduledAlarm) {
  camsim::Config c = smallCamera();
  c.schedule = {{32, 400}, {70, 600}, {35, 700}};
  startCamera(c);
  const std::string log = scratch("alarms.log");
  const CliResult r = runCli({"events", camera(), "--seconds", "2.5", "--exec",
                              "printf '%s|%s|%s|%s|%s\\n' \"$TAVOLEN_EVENT_TIME\" \"$TAVOLEN_EVENT_CODE\" "
                              "\"$TAVOLEN_EVENT\" \"$TAVOLEN_EVENT_NAME\" \"$TAVOLEN_CAMERA\" >> " + log});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const auto printed = lines(r.out);
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(fields(printed[0]).at(1), "100") << "the first event is the connection, not a loss before it";
  std::vector<std::string> expected;  // what the command must have seen, alarm by alarm
  int motion = 0, doorbell = 0, ends = 0;
  for (const std::string& line : printed) {
    const auto f = fields(line);
    ASSERT_EQ(f.size(), 4u) << line;
    if (f[1] == "32") {
      ++motion;
      EXPECT_EQ(f[2] + " " + f[3], "motion-alarm [Motion Alarm]");
    } else if (f[1] == "70") {
      ++doorbell;
      EXPECT_EQ(f[2] + " " + f[3], "sensor-alarm [DoorBell 3]");
    } else if (f[1] == "35") {
      ++ends;
      continue;  // an alarm's end runs no command
    } else {
      continue;
    }
    expected.push_back(f[0] + "|" + f[1] + "|" + f[2] + "|" + f[3] + "|127.0.0.1:" + std::to_string(camera_->port()));
  }
  EXPECT_GE(motion, 3);
  EXPECT_GE(doorbell, 2);
  EXPECT_GE(ends, 2);
  const std::vector<uint8_t> logged = readFile(log);
  auto ran = lines(std::string(logged.begin(), logged.end()));
  std::sort(ran.begin(), ran.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ran, expected);
}

TEST_F(EventsCli, JsonLinesAndCtrlC) {
  CliProcess p(CliRun{{"events", camera(), "--json"}});
  ASSERT_TRUE(p.waitForOutput("\"code\":100", 10000));
  // Frame types; the sound alarm's type 4 is event 224.
  for (int type : {203, 33, 34, 4, 95}) camera_->sendStatus(static_cast<uint8_t>(type));
  ASSERT_TRUE(p.waitForOutput("\"code\":95", 10000));
  p.signal(SIGINT);
  const CliResult r = p.wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto out = lines(r.out);
  ASSERT_EQ(out.size(), 6u) << r.out;
  const char* expected[][3] = {
      {"100", "connected", "Stream connected"}, {"4", "video-loss", "Video Loss!"},
      {"33", "gpio-alarm", "[GPIO Alarm]"},     {"34", "motion-alarm-end", "[Motion Alarm] over"},
      {"224", "sound-alarm", "[Sound Alarm]"},  {"95", "sensor-alarm", "[Other 4]"},
  };
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].rfind("{\"time\":\"", 0), 0u) << out[i];
    EXPECT_NE(out[i].find(std::string(",\"code\":") + expected[i][0] + ",\"event\":\"" + expected[i][1] +
                          "\",\"name\":\"" + expected[i][2] + "\"}"),
              std::string::npos)
        << out[i];
  }
}

TEST_F(EventsCli, AStreamThatGoesQuietIsLostAndConnectedAgain) {
  camera_->pushFault({camsim::FaultKind::Silent, 5});
  CliProcess p(CliRun{{"events", camera()}});
  ASSERT_TRUE(p.waitForOutput("\tstream-lost\t", 15000));
  ASSERT_TRUE(p.waitForOutput("\t100\tconnected\tStream connected\n", 10000, 2));
  p.signal(SIGTERM);
  const CliResult r = p.wait();
  EXPECT_EQ(r.status, 0) << r.err;
  const auto out = lines(r.out);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(fields(out[0]).at(2), "connected");
  EXPECT_EQ(fields(out[1]).at(2), "stream-lost");
  EXPECT_EQ(fields(out[2]).at(2), "connected");
}

TEST_F(EventsCli, ACameraWithTooManyClientsEndsTheWatch) {
  camera_->setMaxClients(0);
  const CliResult r = runCli({"events", camera()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.err), std::vector<std::string>{"tavolen: 127.0.0.1:" + std::to_string(camera_->port()) +
                                                   " refused the stream: it has too many connections"});
}

}  // namespace
}  // namespace tavolen::test
