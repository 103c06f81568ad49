// tavolen-host serves the reference documents built into it under /docs/, on
// a real loopback connection.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "host_server.h"

namespace tavolen::host {
namespace {

class HostDocs : public ::testing::Test {
 protected:
  void SetUp() override {
    HostSettings settings;
    settings.port = 0;
    settings.originFile = std::filesystem::path(::testing::TempDir()) / "host_docs_origins";
    server_ = std::make_unique<HostServer>(settings);
    ASSERT_TRUE(server_->listen());
    thread_ = std::thread([this] { server_->run(); });
  }
  void TearDown() override {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }

  // One GET on a connection of its own; the whole answer, headers included.
  std::string get(const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server_->port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return "";
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(server_->port()) + "\r\nConnection: close\r\n\r\n";
    (void)!::write(fd, request.data(), request.size());
    std::string answer;
    char buf[16384];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return answer;
  }

  std::unique_ptr<HostServer> server_;
  std::thread thread_;
};

TEST_F(HostDocs, ServesTheReferencePages) {
  struct Case {
    const char* target;
    const char* status;
    const char* contains;  // in the headers or the body
  };
  const Case cases[] = {
      // Relative links in the pages need the folder's slash.
      {"/docs", "HTTP/1.1 301", "Location: /docs/\r\n"},
      {"/docs/", "HTTP/1.1 200", "Content-Type: text/html; charset=utf-8"},
      {"/docs/index.html", "HTTP/1.1 200", "Tavolen"},
      // Generated from the member table: a DISPID row and a help string.
      {"/docs/control_members.html", "HTTP/1.1 200", "PlayVideo"},
      {"/docs/control_members.html", "HTTP/1.1 200", "0:no focus  1:focus"},
      {"/docs/control_8h.html", "HTTP/1.1 200", "tavolen_control_invoke"},
      {"/docs/doxygen.css", "HTTP/1.1 200", "Content-Type: text/css"},
      {"/docs/missing.html", "HTTP/1.1 404", ""},
      {"/docs/../tavolen.js", "HTTP/1.1 404", ""},
  };
  for (const Case& c : cases) {
    const std::string answer = get(c.target);
    EXPECT_EQ(answer.rfind(c.status, 0), 0u) << c.target << ":\n" << answer.substr(0, 300);
    EXPECT_NE(answer.find(c.contains), std::string::npos) << c.target << " lacks " << c.contains;
  }
}

}  // namespace
}  // namespace tavolen::host
