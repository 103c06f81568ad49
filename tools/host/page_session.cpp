#include "page_session.h"

#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>

namespace tavolen::host {
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

// A page that stops reading while its control keeps talking is cut off
// rather than buffered without end.
constexpr size_t kMaxOutboxBytes = 16 * 1024 * 1024;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

PageSession::PageSession(beast::tcp_stream&& stream, HostContext& context, Object object)
    : ws_(std::move(stream)), context_(context), object_(object) {}

PageSession::~PageSession() {
  // Only at shutdown does a connection end without finish(): the object is
  // then destroyed here.
  control_.reset();
  hostObject_.reset();
}

void PageSession::start(beast::http::request<beast::http::string_body> request) {
  beast::get_lowest_layer(ws_).expires_never();
  ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  ws_.set_option(websocket::stream_base::decorator(
      [](websocket::response_type& response) { response.set(beast::http::field::server, "tavolen-host"); }));
  ws_.read_message_max(kMaxFrameBytes);
  // A picture goes as one frame in one write: cut into the default 4 KB
  // frames, each its own write, a raw picture took hundreds of system calls
  // and as many reads in the page's browser.
  ws_.auto_fragment(false);
  auto self = shared_from_this();
  auto held = std::make_shared<beast::http::request<beast::http::string_body>>(std::move(request));
  ws_.async_accept(*held, [self, held](beast::error_code ec) { self->onAccept(ec); });
}

void PageSession::onAccept(beast::error_code ec) {
  if (ec) return finish();
  if (object_ == Object::Host) openHostObject();
  if (!closing_) readNext();
}

void PageSession::readNext() {
  ws_.async_read(buffer_, beast::bind_front_handler(&PageSession::onRead, shared_from_this()));
}

void PageSession::onRead(beast::error_code ec, size_t) {
  if (ec) return finish();
  if (!ws_.got_text()) {
    buffer_.consume(buffer_.size());
    send({errorMessage({std::nullopt, kErrorInvalidMessage, "binary messages are not accepted"})});
    return readNext();
  }
  const std::string text = beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  const ParsedMessage parsed = parsePageMessage(text);
  if (const auto* error = std::get_if<ProtocolError>(&parsed)) send({errorMessage(*error)});
  else dispatch(std::get<PageMessage>(parsed));
  if (!closing_) readNext();
}

// What the object's threads send reaches the connection on the network
// thread, in order; nothing once the connection is gone.
Deliver PageSession::deliverer() {
  std::weak_ptr<PageSession> weak = weak_from_this();
  boost::asio::io_context& io = context_.io;
  return [weak, &io](Outgoing out) {
    auto held = std::make_shared<Outgoing>(std::move(out));
    boost::asio::post(io, [weak, held] {
      if (auto self = weak.lock()) self->send(std::move(*held));
    });
  };
}

void PageSession::openControl(const PageMessage& message) {
  if (control_) {
    send({errorMessage({std::nullopt, kErrorInvalidMessage, "the control is already open"})});
    return;
  }
  if (context_.liveControls.load() >= kMaxControls) {
    send({errorMessage({std::nullopt, kErrorCallRejected, "too many controls on this host"}), false, true});
    return;
  }
  control_ = std::make_shared<PageControl>(message, context_.settings.pictureFormat, deliverer(),
                                           context_.liveControls);
}

void PageSession::openHostObject() {
  if (context_.liveHostObjects.load() >= kMaxHostObjects) {
    send({errorMessage({std::nullopt, kErrorCallRejected, "too many host objects on this host"}), false, true});
    return;
  }
  hostObject_ = std::make_shared<HostObject>(deliverer(), context_.liveHostObjects);
}

void PageSession::dispatch(const PageMessage& message) {
  if (object_ == Object::Control && message.op == PageOp::Open) return openControl(message);
  const bool call = message.op == PageOp::Invoke || message.op == PageOp::Mouse;
  const std::optional<int64_t> id =
      message.op == PageOp::Invoke ? std::optional<int64_t>(message.id) : std::nullopt;
  if (object_ == Object::Control && !control_) {
    send({errorMessage({id, kErrorNotReady, "open the control first"})});
    return;
  }
  if (call && !limiter_.allow(nowMs())) {
    send({errorMessage({id, kErrorCallRejected, "too many calls"})});
    return;
  }
  if (control_) control_->handle(message);
  else if (hostObject_) hostObject_->handle(message);
}

void PageSession::send(Outgoing message) {
  if (closing_ || finished_) return;
  size_t queued = 0;
  for (const Outgoing& m : outbox_) queued += m.bytes.size();
  if (queued + message.bytes.size() > kMaxOutboxBytes) {
    closing_ = true;
    beast::get_lowest_layer(ws_).socket().close();
    return;
  }
  if (message.close) closing_ = true;
  outbox_.push_back(std::move(message));
  writeNext();
}

void PageSession::writeNext() {
  if (writing_ || outbox_.empty()) return;
  writing_ = true;
  ws_.binary(outbox_.front().binary);
  ws_.async_write(boost::asio::buffer(outbox_.front().bytes),
                  beast::bind_front_handler(&PageSession::onWrite, shared_from_this()));
}

void PageSession::onWrite(beast::error_code ec, size_t) {
  writing_ = false;
  if (ec) return finish();
  const bool close = outbox_.front().close;
  outbox_.pop_front();
  if (close) {
    ws_.async_close(websocket::close_code::policy_error,
                    [self = shared_from_this()](beast::error_code) { self->finish(); });
    return;
  }
  writeNext();
}

void PageSession::finish() {
  if (finished_) return;
  finished_ = true;
  outbox_.clear();
  if (control_) context_.reaper.post([control = std::move(control_)]() mutable { control.reset(); });
  if (hostObject_) context_.reaper.post([object = std::move(hostObject_)]() mutable { object.reset(); });
}

}  // namespace tavolen::host
