// search: cameras answering the LAN broadcast, inside a private network of
// network namespaces (no datagram leaves the test).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "link/netns_lab.h"

using tavolen::test::NetnsLab;

namespace tavolen::test {
namespace {

TEST(SearchCli, ListsEveryCameraOnceByNameAddressAndPort) {
  std::string whyNot;
  if (!NetnsLab::enter(whyNot)) {
    if (whyNot.find("Operation not permitted") != std::string::npos) GTEST_SKIP() << whyNot;
    FAIL() << whyNot;
  }
  NetnsLab lab;
  ASSERT_TRUE(lab.addCamera(11, {CAMSIM, "--port", "81", "--search", "--search-ip", "192.0.2.11", "--name", "Porch"}));
  ASSERT_TRUE(lab.addCamera(
      12, {CAMSIM, "--port", "8080", "--search", "--search-ip", "192.0.2.12", "--name", "\xE8\xBD\xA6\xE5\xBA\x93 cam"}));

  const CliResult r = runCli({"search", "--seconds", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto found = lines(r.out);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"Porch\t192.0.2.11\t81", "\xE8\xBD\xA6\xE5\xBA\x93 cam\t192.0.2.12\t8080"}));

  const CliResult json = runCli({"search", "--seconds", "1", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("{\"name\":\"Porch\",\"address\":\"192.0.2.11\",\"port\":81}"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("{\"name\":\"\xE8\xBD\xA6\xE5\xBA\x93 cam\",\"address\":\"192.0.2.12\",\"port\":8080}"),
            std::string::npos)
      << json.out;
}

TEST(SearchCli, NoCameraNoLine) {
  std::string whyNot;
  if (!NetnsLab::enter(whyNot)) {
    if (whyNot.find("Operation not permitted") != std::string::npos) GTEST_SKIP() << whyNot;
    FAIL() << whyNot;
  }
  const CliResult r = runCli({"search", "--seconds", "0.5", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[]\n");
}

}  // namespace
}  // namespace tavolen::test
