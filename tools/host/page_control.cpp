#include "page_control.h"

#include <bit>
#include <cstring>

#include "platform/jpeg_codec.h"

namespace tavolen::host {
namespace {

// Pictures are shown, not kept: a quality that keeps caption edges clean at
// a size the browser decodes in a few milliseconds.
constexpr int kJpegQuality = 85;

std::string automationErrorText(int32_t code) {
  switch (static_cast<uint32_t>(code)) {
    case 0x80020003u: return "unknown member";
    case 0x80020005u: return "type mismatch";
    case 0x8002000Eu: return "wrong number of arguments";
    default: return "the control refused the call";
  }
}

}  // namespace

PageControl::PageControl(const PageMessage& open, PictureFormat format, Deliver deliver,
                         std::atomic<int>& liveControls)
    : format_(format), deliver_(std::move(deliver)), liveControls_(liveControls) {
  ++liveControls_;
  calls_ = std::make_unique<Worker>();
  pictures_ = std::thread([this] { pictureLoop(); });
  calls_->post([this, open] { this->open(open); });
}

PageControl::~PageControl() {
  closing_ = true;
  {
    std::lock_guard lock(pictureMutex_);
    stopPictures_ = true;
  }
  pictureWake_.notify_one();
  pictures_.join();
  calls_.reset();  // queued calls see closing_ and skip
  bridge_.reset();
  --liveControls_;
}

void PageControl::handle(const PageMessage& message) {
  switch (message.op) {
    case PageOp::Drawn: {
      std::optional<Outgoing> next;
      {
        std::lock_guard lock(pictureMutex_);
        if (message.seq != pictureSeq_ || credit_) return;
        credit_ = true;
        // A packed picture still showing the window goes now; one the window
        // has moved on from is packed again, fresh, on the picture thread.
        if (!dirty_) next = takePackedLocked();
      }
      if (next) deliver_(std::move(*next));
      else pictureWake_.notify_one();
      return;
    }
    case PageOp::Invoke:
      calls_->post([this, message] { invoke(message); });
      return;
    case PageOp::Mouse:
      calls_->post([this, message] {
        if (closing_ || !bridge_) return;
        bridge_->sendMouse(message.event, message.x, message.y);
        sendWindowIfChanged();
      });
      return;
    case PageOp::Resize:
    case PageOp::Screen:
      calls_->post([this, message] {
        if (closing_ || !bridge_) return;
        if (message.op == PageOp::Resize) bridge_->resize(message.width, message.height);
        else bridge_->setScreen(message.width, message.height);
        sendWindowIfChanged();
      });
      return;
    case PageOp::Open:
      deliver_({errorMessage({std::nullopt, kErrorInvalidMessage, "the control is already open"})});
      return;
  }
}

void PageControl::open(PageMessage message) {
  if (closing_) return;
  std::string error;
  bridge_ = ControlBridge::open(message.width, message.height, message.screenWidth,
                                message.screenHeight, *this, error);
  if (!bridge_) {
    deliver_({errorMessage({std::nullopt, kErrorNotReady, error}), false, true});
    return;
  }
  lastProperties_ = bridge_->readProperties();
  {
    std::lock_guard lock(windowMutex_);
    lastWindow_ = bridge_->windowView();
  }
  deliver_({readyMessage(ControlBridge::members(), ControlBridge::library(), lastProperties_)});
  deliver_({windowMessage(lastWindow_)});
  {
    std::lock_guard lock(pictureMutex_);
    ready_ = true;
  }
  pictureWake_.notify_one();
}

void PageControl::invoke(const PageMessage& message) {
  if (closing_) return;
  if (!bridge_) {
    deliver_({errorMessage({message.id, kErrorNotReady, "the control is not open"})});
    return;
  }
  WireValue result;
  const int32_t code = bridge_->invoke(message.dispid, message.flags, message.args, result);
  sendChanges();
  if (code != 0)
    deliver_({errorMessage({message.id, code, automationErrorText(code)})});
  else
    deliver_({resultMessage(message.id, result)});
}

void PageControl::sendChanges() {
  auto properties = bridge_->readProperties();
  for (const auto& [dispid, value] : properties) {
    bool changed = true;
    for (const auto& [knownId, known] : lastProperties_)
      if (knownId == dispid) changed = !(known == value);
    if (changed) deliver_({propertyMessage(dispid, value)});
  }
  lastProperties_ = std::move(properties);
  sendWindowIfChanged();
}

void PageControl::sendWindowIfChanged() {
  const WindowView view = bridge_->windowView();
  std::lock_guard lock(windowMutex_);
  if (view == lastWindow_) return;
  lastWindow_ = view;
  deliver_({windowMessage(view)});
}

void PageControl::controlEvent(int32_t dispid, std::vector<WireValue> args) {
  if (!closing_) deliver_({eventMessage(dispid, args)});
}

void PageControl::windowChanged() {
  {
    std::lock_guard lock(pictureMutex_);
    dirty_ = true;
  }
  pictureWake_.notify_one();
}

void PageControl::pictureLoop() {
  platform::JpegCodec codec;
  std::vector<uint8_t> pixels;
  std::unique_lock lock(pictureMutex_);
  for (;;) {
    // While a picture is out, one is packed ahead and no more: packing
    // (JPEG above all) costs more than it is worth on a page that is behind.
    pictureWake_.wait(lock, [this] { return stopPictures_ || (ready_ && dirty_ && (credit_ || !packed_)); });
    if (stopPictures_) return;
    dirty_ = false;
    lock.unlock();

    sendWindowIfChanged();
    PackedPicture picture;
    const bool made = packPicture(picture, pixels, codec);

    lock.lock();
    if (!made) continue;
    packed_ = std::move(picture);
    if (!credit_) continue;
    std::optional<Outgoing> next = takePackedLocked();
    lock.unlock();
    deliver_(std::move(*next));
    lock.lock();
  }
}

bool PageControl::packPicture(PackedPicture& out, std::vector<uint8_t>& pixels,
                              platform::JpegCodec& codec) {
  if (!bridge_->readPicture(pixels, out.width, out.height)) return false;
  out.message = Outgoing{std::string(kPictureHeadBytes, '\0'), true, false};
  const bool jpeg = format_ == PictureFormat::Jpeg ||
                    (format_ == PictureFormat::Auto &&
                     int64_t{out.width} * out.height > kRawPicturePixels);
  if (jpeg) {
    const std::vector<uint8_t> encoded = codec.encode(pixels.data(), out.width, out.height, kJpegQuality);
    if (encoded.empty()) return false;
    out.message.bytes.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
    out.format = kPictureJpeg;
    return true;
  }
  // The window's blue, green, red, unused to the canvas's red, green, blue,
  // opaque alpha, a word at a time.
  static_assert(std::endian::native == std::endian::little);
  out.message.bytes.resize(kPictureHeadBytes + pixels.size());
  char* dst = out.message.bytes.data() + kPictureHeadBytes;
  for (size_t i = 0; i + 4 <= pixels.size(); i += 4) {
    uint32_t p;
    std::memcpy(&p, pixels.data() + i, 4);
    p = 0xff000000u | (p & 0x0000ff00u) | ((p >> 16) & 0xffu) | ((p & 0xffu) << 16);
    std::memcpy(dst + i, &p, 4);
  }
  out.format = kPictureRaw;
  return true;
}

std::optional<Outgoing> PageControl::takePackedLocked() {
  if (!credit_ || !packed_) return std::nullopt;
  credit_ = false;
  PackedPicture picture = std::move(*packed_);
  packed_.reset();
  writePictureHead(reinterpret_cast<uint8_t*>(picture.message.bytes.data()), ++pictureSeq_,
                   picture.width, picture.height, picture.format);
  return std::move(picture.message);
}

}  // namespace tavolen::host
