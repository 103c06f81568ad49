// The control's C functions: check the handle, carry the call to the
// control's UI thread, hand the result back. Every body runs in the C
// boundary's guard.
#include <memory>

#include "control/automation.h"
#include "control/control_list.h"
#include "control/member_table.h"
#include "control/tavolen_ctrl.h"
#include "platform/c_boundary.h"
#include "tavolen/control.h"
#include "tavolen/player.h"

using tavolen::controlList;
using tavolen::CTavolenCtrl;
using tavolen::platform::guardedCall;
using tavolen::platform::pinnedCall;

extern "C" {

TAVOLEN_API void tavolen_variant_clear(TavolenVariant* variant) {
  if (!variant) return;
  if (variant->vt == TAVOLEN_VT_BSTR) delete[] variant->bstr;
  *variant = TavolenVariant{TAVOLEN_VT_EMPTY, 0, nullptr, 0};
}

TAVOLEN_API TavolenControl* tavolen_control_create(TavolenEventSink sink, void* user) {
  return guardedCall<TavolenControl*>(nullptr, [&] {
    return static_cast<TavolenControl*>(controlList().add(std::make_shared<CTavolenCtrl>(sink, user)));
  });
}

TAVOLEN_API int32_t tavolen_control_create_window(TavolenControl* control, TavolenWindow* window) {
  return pinnedCall(controlList(), control, int32_t{0}, [&](CTavolenCtrl& c) {
    bool done = false;
    c.ui().call([&] { done = c.createWindow(window); });
    return done ? 1 : 0;
  });
}

TAVOLEN_API int32_t tavolen_control_get_dispid(const char* name) {
  return guardedCall(int32_t{-1}, [&] { return name ? tavolen::dispidOfName(name) : -1; });
}

TAVOLEN_API int32_t tavolen_control_invoke(TavolenControl* control, int32_t dispid, int32_t flags,
                                           const TavolenVariant* args, int32_t argCount,
                                           TavolenVariant* result) {
  if (result) *result = TavolenVariant{TAVOLEN_VT_EMPTY, 0, nullptr, 0};
  return pinnedCall(controlList(), control, TAVOLEN_E_FAIL, [&](CTavolenCtrl& c) {
    tavolen::PreparedInvoke call;
    const int32_t checked = tavolen::prepareInvoke(dispid, flags, args, argCount, call);
    if (checked != TAVOLEN_S_OK) return checked;
    tavolen::Value value;
    if (!c.ui().call([&] { value = tavolen::runInvoke(c, call); })) return TAVOLEN_E_FAIL;
    if (result) tavolen::storeResult(value, result);
    return TAVOLEN_S_OK;
  });
}

TAVOLEN_API void tavolen_control_destroy(TavolenControl* control) {
  guardedCall(0, [&] {
    // From inside its own sink a control cannot be torn down: its UI thread
    // would have to wait for itself.
    const bool fromItsSink =
        pinnedCall(controlList(), control, false, [](CTavolenCtrl& c) { return c.ui().onThread(); });
    if (!fromItsSink) controlList().remove(control).reset();
    return 0;
  });
}

TAVOLEN_API int32_t tavolen_control_member_count(void) {
  return static_cast<int32_t>(tavolen::memberTable().size());
}

TAVOLEN_API int32_t tavolen_control_member(int32_t index, TavolenMemberInfo* out) {
  const auto table = tavolen::memberTable();
  if (!out || index < 0 || static_cast<size_t>(index) >= table.size()) return 0;
  const tavolen::Member& m = table[static_cast<size_t>(index)];
  *out = TavolenMemberInfo{m.name,         m.dispid,        static_cast<int32_t>(m.kind),
                           m.type,         static_cast<int32_t>(m.params.size()),
                           m.params.data(), m.helpString};
  return 1;
}

TAVOLEN_API int32_t tavolen_control_library(TavolenLibraryInfo* out) {
  if (!out) return 0;
  *out = tavolen::libraryInfo();
  return 1;
}

}  // extern "C"
