#pragma once
// The one control tavolen-view hosts, and the terminal it reports to: every
// call made on it and every event it fires is printed on standard output as
// one line, written the way a script would read it:
//   OpenSound() = 0
//   SetOsd("Tavolen") = 0
//   ShowMax()
//   MessageNotify(0, 0)
//   OnCameraSearched(1, "cam", "127.0.0.1", 80, 80, 80, 1)
// Calls the control refuses print "Name(...) failed: 0x80020003".
//
// Threads: the host's main thread creates, calls and destroys it; the event
// lines come from the control's UI thread. Each line is one stdio call, so the
// lines of the two threads never mix.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "tavolen/control.h"

namespace tavolen::view {

class ViewControl {
 public:
  using Arg = std::variant<int32_t, std::string>;  // I4 or UTF-8 text

  // A control activated in `window`, which must outlive it. nullptr (and the
  // reason on standard error) when it cannot be made.
  static std::unique_ptr<ViewControl> open(TavolenWindow* window);
  ~ViewControl();
  ViewControl(const ViewControl&) = delete;
  ViewControl& operator=(const ViewControl&) = delete;

  // Calls a method and prints the call with its result; the I4 result, or
  // -1 for a refused call and for VOID methods. Texts listed in `hidden`
  // (argument indexes) print as "***".
  int32_t call(const char* method, const std::vector<Arg>& args = {},
               const std::vector<size_t>& hidden = {});
  // Reads an I4 or text property without printing; 0 or "" when refused.
  int32_t readNumber(const char* property);
  std::string readText(const char* property);

 private:
  explicit ViewControl(TavolenControl* control) : control_(control) {}
  static void onEvent(void* user, int32_t dispid, const TavolenVariant* args, int32_t argCount);
  TavolenVariant read(const char* property);

  TavolenControl* control_;
};

}  // namespace tavolen::view
