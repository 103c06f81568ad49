#include "link/plain_connection.h"

#include <gtest/gtest.h>

#include "platform/tick.h"
#include "support/loopback_server.h"

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

TEST(PlainConnection, RefusedPortFails) {
  PlainConnection c;
  const uint32_t start = platform::tickCount();
  EXPECT_EQ(connectPlain("127.0.0.1", c, test::closedLoopbackPort()), 0);
  EXPECT_LT(platform::tickCount() - start, 3500u);
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
