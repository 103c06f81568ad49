#include "page_control.h"

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
      std::lock_guard lock(pictureMutex_);
      if (message.seq == pictureSeq_) credit_ = true;
      pictureWake_.notify_one();
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
    pictureWake_.wait(lock, [this] { return stopPictures_ || (ready_ && dirty_ && credit_); });
    if (stopPictures_) return;
    dirty_ = false;
    credit_ = false;
    const uint32_t seq = ++pictureSeq_;
    lock.unlock();

    sendWindowIfChanged();
    int32_t width = 0, height = 0;
    Outgoing picture{std::string(kPictureHeadBytes, '\0'), true, false};
    bool made = bridge_->readPicture(pixels, width, height);
    const bool jpeg = format_ == PictureFormat::Jpeg ||
                      (format_ == PictureFormat::Auto && int64_t{width} * height > kRawPicturePixels);
    if (made && jpeg) {
      const std::vector<uint8_t> jpeg = codec.encode(pixels.data(), width, height, kJpegQuality);
      made = !jpeg.empty();
      picture.bytes.append(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
    } else if (made) {
      picture.bytes.resize(kPictureHeadBytes + pixels.size());
      auto* out = reinterpret_cast<uint8_t*>(picture.bytes.data()) + kPictureHeadBytes;
      for (size_t i = 0; i < pixels.size(); i += 4) {
        out[i] = pixels[i + 2];
        out[i + 1] = pixels[i + 1];
        out[i + 2] = pixels[i];
        out[i + 3] = 255;
      }
    }
    if (made) {
      writePictureHead(reinterpret_cast<uint8_t*>(picture.bytes.data()), seq, width, height,
                       jpeg ? kPictureJpeg : kPictureRaw);
      deliver_(std::move(picture));
    }

    lock.lock();
    if (!made) credit_ = true;  // nothing went out, so nothing will be reported drawn
  }
}

}  // namespace tavolen::host
