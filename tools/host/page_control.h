#pragma once
// The control side of one page connection: the control, the thread that calls
// it, and the thread that sends its pictures.
//
// Ordering: everything the host tells the page about one call (properties that
// changed, a window change, then the result) leaves in that order, and events
// leave in the order the control raised them, all through one Deliver.
//
// Picture flow: at most one picture is in flight. While it is out, the
// picture thread packs the window's next state ahead; when the page reports
// the last picture drawn, that packed one is sent at once from the network
// thread if the window still shows it, else the window is read afresh. So a
// slow page gets fewer, fresh pictures and never a backlog of stale ones, and
// the page's report does not wait for a window read and a thread hop.
//
// Threads: the public functions are called on the connection's network
// thread; the destructor on the host's reaper thread (it joins both threads
// and destroys the control, which can take a while).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control_bridge.h"
#include "page_protocol.h"
#include "worker.h"

namespace tavolen::platform {
class JpegCodec;
}

namespace tavolen::host {

// How pictures travel. Auto sends raw pixels for windows of up to
// kRawPicturePixels (the page draws them at once, and they are small enough to
// cross quickly) and JPEG above (a 1280 x 720 raw picture is 3.7 MB).
enum class PictureFormat { Auto, Jpeg, Raw };
inline constexpr int64_t kRawPicturePixels = 512 * 1024;

struct Outgoing {
  std::string bytes;
  bool binary = false;
  bool close = false;  // close the connection after this message
};
using Deliver = std::function<void(Outgoing)>;

class PageControl : private ControlBridge::Listener {
 public:
  // Starts making the control for an "open" message; the page hears "ready"
  // or an error followed by the connection's close. liveControls counts the
  // controls of the host; this object holds one count until destroyed.
  PageControl(const PageMessage& open, PictureFormat format, Deliver deliver,
              std::atomic<int>& liveControls);
  ~PageControl() override;
  PageControl(const PageControl&) = delete;
  PageControl& operator=(const PageControl&) = delete;

  // invoke, mouse, resize and screen run in order on the call thread; drawn
  // returns the credit and sends a packed picture at once.
  void handle(const PageMessage& message);

 private:
  // A picture ready to go but for its sequence number, set when it is sent.
  struct PackedPicture {
    Outgoing message;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t format = 0;
  };

  bool packPicture(PackedPicture& out, std::vector<uint8_t>& pixels, platform::JpegCodec& codec);
  // Takes the credit and the packed picture; the caller delivers what it
  // returns after dropping pictureMutex_. Needs pictureMutex_ held.
  std::optional<Outgoing> takePackedLocked();
  void open(PageMessage message);
  void invoke(const PageMessage& message);
  void sendChanges();
  void sendWindowIfChanged();
  void pictureLoop();
  void controlEvent(int32_t dispid, std::vector<WireValue> args) override;
  void windowChanged() override;

  const PictureFormat format_;
  Deliver deliver_;
  std::atomic<int>& liveControls_;
  std::unique_ptr<ControlBridge> bridge_;  // set and used on the call thread; read by the picture thread once ready_
  std::atomic<bool> closing_{false};
  std::vector<std::pair<int32_t, WireValue>> lastProperties_;  // call thread only

  std::mutex windowMutex_;  // guards lastWindow_
  WindowView lastWindow_;

  std::mutex pictureMutex_;  // guards the six below
  std::condition_variable pictureWake_;
  bool ready_ = false;
  bool dirty_ = true;
  bool credit_ = true;
  bool stopPictures_ = false;
  uint32_t pictureSeq_ = 0;  // the last sent picture's
  std::optional<PackedPicture> packed_;  // written by the picture thread, sent by whoever holds the credit

  std::unique_ptr<Worker> calls_;
  std::thread pictures_;
};

}  // namespace tavolen::host
