#include "host_server.h"

#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <optional>

#include "host_context.h"
#include "origin_list.h"
#include "page_session.h"
#include "peer_user.h"
#include "request_guard.h"
#include "web_assets.h"

namespace tavolen::host {
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr size_t kMaxHeaderBytes = 8 * 1024;
constexpr size_t kMaxBodyBytes = 4 * 1024;
constexpr auto kRequestTimeout = std::chrono::seconds(30);

Endpoint toEndpoint(const tcp::endpoint& e) {
  return Endpoint{e.address().is_v4() ? e.address().to_v4().to_uint() : 0, e.port()};
}

// One HTTP connection: requests for the built-in files, or the upgrade to a
// page session.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket&& socket, HostContext& context)
      : stream_(std::move(socket)), context_(context) {}

  void run(bool sameUser) {
    if (!sameUser) {
      // The page is another user's: one answer, then the connection ends.
      http::response<http::string_body> response{http::status::forbidden, 11};
      response.set(http::field::content_type, "text/plain; charset=utf-8");
      response.body() = "tavolen-host serves only its own user's programs\n";
      response.keep_alive(false);
      return reply(std::move(response));
    }
    readNext();
  }

 private:
  void readNext() {
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    parser_->body_limit(kMaxBodyBytes);
    stream_.expires_after(kRequestTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&HttpSession::onRead, shared_from_this()));
  }

  void onRead(beast::error_code ec, size_t) {
    if (ec == http::error::end_of_stream) return shutdown();
    if (ec) {
      if (ec.category() == beast::error_code(http::error::bad_target).category())
        return reply(plain(http::status::bad_request, "bad request\n", 11, false));
      return shutdown();
    }
    auto request = parser_->release();
    const int port = context_.settings.port;
    if (!hostHeaderAllowed(request[http::field::host], port))
      return reply(plain(http::status::forbidden, "unknown Host\n", request.version(), false));

    std::string_view target = request.target();
    target = target.substr(0, target.find('?'));
    if (beast::websocket::is_upgrade(request)) {
      if (target != "/control" && target != "/host")
        return reply(plain(http::status::not_found, "no such endpoint\n", request.version(), false));
      const auto allowList = readOriginFile(context_.settings.originFile);
      if (!originAllowed(request[http::field::origin], allowList, port))
        return reply(plain(http::status::forbidden, "origin not allowed\n", request.version(), false));
      const auto object = target == "/host" ? PageSession::Object::Host : PageSession::Object::Control;
      std::make_shared<PageSession>(std::move(stream_), context_, object)->start(std::move(request));
      return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head)
      return reply(plain(http::status::method_not_allowed, "GET only\n", request.version(),
                         request.keep_alive()));
    // The documents' links are relative to their folder, so its bare name
    // moves to the folder.
    if (target == "/docs" && findWebAsset("/docs/")) {
      http::response<http::string_body> response{http::status::moved_permanently, request.version()};
      response.set(http::field::location, "/docs/");
      response.keep_alive(request.keep_alive());
      return reply(std::move(response));
    }
    const WebAsset* asset = findWebAsset(target);
    if (!asset)
      return reply(plain(http::status::not_found, "not found\n", request.version(), request.keep_alive()));
    http::response<http::string_body> response{http::status::ok, request.version()};
    response.set(http::field::content_type, asset->contentType);
    response.set(http::field::cache_control, "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    if (target == "/tavolen.js") response.set(http::field::access_control_allow_origin, "*");
    if (request.method() == http::verb::get) response.body() = std::string(asset->bytes);
    response.content_length(asset->bytes.size());
    response.keep_alive(request.keep_alive());
    reply(std::move(response));
  }

  http::response<http::string_body> plain(http::status status, const char* text, unsigned version,
                                          bool keepAlive) {
    http::response<http::string_body> response{status, version};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.body() = text;
    response.prepare_payload();
    response.keep_alive(keepAlive);
    return response;
  }

  void reply(http::response<http::string_body> response) {
    response.set(http::field::server, "tavolen-host");
    if (!response.has_content_length() && !response.chunked()) response.prepare_payload();
    auto held = std::make_shared<http::response<http::string_body>>(std::move(response));
    stream_.expires_after(kRequestTimeout);
    http::async_write(stream_, *held,
                      [self = shared_from_this(), held](beast::error_code ec, size_t) {
                        if (ec || !held->keep_alive()) return self->shutdown();
                        self->readNext();
                      });
  }

  void shutdown() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  beast::tcp_stream stream_;
  HostContext& context_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

}  // namespace

struct HostServer::Impl {
  explicit Impl(HostSettings settings) { context.settings = std::move(settings); }

  void accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
      if (!acceptor.is_open()) return;
      if (!ec) {
        beast::error_code e1, e2;
        const auto ours = socket.local_endpoint(e1);
        const auto peer = socket.remote_endpoint(e2);
        bool sameUser = false;
        if (!e1 && !e2) {
          const auto uid = peerUser(toEndpoint(ours), toEndpoint(peer));
          sameUser = uid && *uid == static_cast<uint32_t>(geteuid());
        }
        // Pictures and replies are written whole: nothing is gained by
        // holding a message's last segment back for the page's ack.
        socket.set_option(tcp::no_delay(true), e1);
        std::make_shared<HttpSession>(std::move(socket), context)->run(sameUser);
      }
      accept();
    });
  }

  HostContext context;
  tcp::acceptor acceptor{context.io};
  asio::signal_set signals{context.io, SIGINT, SIGTERM};
};

HostServer::HostServer(HostSettings settings) : impl_(std::make_unique<Impl>(std::move(settings))) {}

HostServer::~HostServer() = default;

bool HostServer::listen() {
  beast::error_code ec;
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"),
                               static_cast<unsigned short>(impl_->context.settings.port));
  auto& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    std::fprintf(stderr, "tavolen-host: cannot listen on 127.0.0.1:%d: %s\n",
                 impl_->context.settings.port, ec.message().c_str());
    return false;
  }
  impl_->context.settings.port = acceptor.local_endpoint().port();
  return true;
}

int HostServer::port() const { return impl_->context.settings.port; }

void HostServer::run() {
  impl_->signals.async_wait([this](beast::error_code, int) { stop(); });
  impl_->accept();
  impl_->context.io.run();
}

void HostServer::stop() {
  asio::post(impl_->context.io, [this] {
    beast::error_code ignored;
    impl_->acceptor.close(ignored);
    impl_->signals.cancel(ignored);
    impl_->context.io.stop();
  });
}

}  // namespace tavolen::host
