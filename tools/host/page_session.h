#pragma once
// One page's WebSocket connection: reads its messages, bounds them, hands them
// to its PageControl and writes what comes back in order.
//
// Runs on the network thread; PageControl's threads reach it only by posting
// there. The connection owns its control; when the connection ends, the
// control goes to the reaper thread to be destroyed.

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <deque>
#include <memory>

#include "host_context.h"
#include "invoke_limiter.h"
#include "page_control.h"

namespace tavolen::host {

class PageSession : public std::enable_shared_from_this<PageSession> {
 public:
  PageSession(boost::beast::tcp_stream&& stream, HostContext& context);
  ~PageSession();

  // Completes the handshake of an upgrade request that passed the checks.
  void start(boost::beast::http::request<boost::beast::http::string_body> request);

 private:
  void onAccept(boost::beast::error_code ec);
  void readNext();
  void onRead(boost::beast::error_code ec, size_t bytes);
  void dispatch(const PageMessage& message);
  void send(Outgoing message);
  void writeNext();
  void onWrite(boost::beast::error_code ec, size_t bytes);
  void finish();

  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  HostContext& context_;
  boost::beast::flat_buffer buffer_;
  std::deque<Outgoing> outbox_;
  bool writing_ = false;
  bool closing_ = false;
  bool finished_ = false;
  InvokeLimiter limiter_;
  std::shared_ptr<PageControl> control_;
};

}  // namespace tavolen::host
