#include "link/plain_connection.h"

#include <gtest/gtest.h>

#include "support/loopback_server.h"
#include "support/manual_clock.h"

namespace tavolen {
namespace {

TEST(PlainConnection, ConnectsBlockingAndCloses) {
  test::LoopbackServer server([](int fd) { test::LoopbackServer::writeAll(fd, "hello"); });
  PlainConnection c;
  ASSERT_EQ(connectPlain("127.0.0.1", c, server.port()), 1);
  EXPECT_TRUE(c.isOpen());
  EXPECT_STREQ(c.host(), "127.0.0.1");
  EXPECT_EQ(c.port(), server.port());
  char buf[5];
  // Blocking mode: the receive waits for the data instead of failing at once.
  EXPECT_EQ(platform::receiveOnce(c.socket(), buf, 5), 5);
  c.close();
  EXPECT_FALSE(c.isOpen());
  c.close();
}

// On a clock that never moves: a refusal ends the connect without its wait.
TEST(PlainConnection, RefusedPortFails) {
  test::ManualClock clock;
  PlainConnection c;
  EXPECT_EQ(connectPlain("127.0.0.1", c, test::closedLoopbackPort()), 0);
  EXPECT_FALSE(c.isOpen());
}

TEST(PlainConnection, LocalhostIsLookedUp) {
  test::LoopbackServer server([](int) {});
  PlainConnection c;
  ASSERT_EQ(connectPlain("localhost", c, server.port()), 1);
  EXPECT_STREQ(c.host(), "127.0.0.1");
  c.close();
}

}  // namespace
}  // namespace tavolen
