// The control's C functions: check the handle, carry the call to the
// control's UI thread, hand the result back. No exception leaves here.
#include <new>

#include "control/automation.h"
#include "control/control_registry.h"
#include "control/member_table.h"
#include "control/tavolen_ctrl.h"
#include "tavolen/control.h"
#include "tavolen/player.h"

using tavolen::ControlRegistry;
using tavolen::CTavolenCtrl;

extern "C" {

TAVOLEN_API void tavolen_variant_clear(TavolenVariant* variant) {
  if (!variant) return;
  if (variant->vt == TAVOLEN_VT_BSTR) delete[] variant->bstr;
  *variant = TavolenVariant{TAVOLEN_VT_EMPTY, 0, nullptr, 0};
}

TAVOLEN_API TavolenControl* tavolen_control_create(TavolenEventSink sink, void* user) {
  try {
    return static_cast<TavolenControl*>(
        ControlRegistry::instance().add(std::make_unique<CTavolenCtrl>(sink, user)));
  } catch (...) {
    return nullptr;
  }
}

TAVOLEN_API int32_t tavolen_control_create_window(TavolenControl* control, TavolenWindow* window) {
  try {
    ControlRegistry::Pin c = ControlRegistry::instance().find(control);
    if (!c) return 0;
    bool done = false;
    c->ui().call([&] { done = c->createWindow(window); });
    return done ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

TAVOLEN_API int32_t tavolen_control_get_dispid(const char* name) {
  return name ? tavolen::dispidOfName(name) : -1;
}

TAVOLEN_API int32_t tavolen_control_invoke(TavolenControl* control, int32_t dispid, int32_t flags,
                                           const TavolenVariant* args, int32_t argCount,
                                           TavolenVariant* result) {
  try {
    if (result) *result = TavolenVariant{TAVOLEN_VT_EMPTY, 0, nullptr, 0};
    ControlRegistry::Pin c = ControlRegistry::instance().find(control);
    if (!c) return TAVOLEN_E_FAIL;
    tavolen::PreparedInvoke call;
    const int32_t checked = tavolen::prepareInvoke(dispid, flags, args, argCount, call);
    if (checked != TAVOLEN_S_OK) return checked;
    tavolen::Value value;
    if (!c->ui().call([&] { value = tavolen::runInvoke(*c, call); })) return TAVOLEN_E_FAIL;
    if (result) tavolen::storeResult(value, result);
    return TAVOLEN_S_OK;
  } catch (...) {
    return TAVOLEN_E_FAIL;
  }
}

TAVOLEN_API void tavolen_control_destroy(TavolenControl* control) {
  try {
    {
      // From inside its own sink a control cannot be torn down: the UI
      // thread would have to wait for itself.
      ControlRegistry::Pin c = ControlRegistry::instance().find(control);
      if (!c || c->ui().onThread()) return;
    }
    ControlRegistry::instance().remove(control).reset();
  } catch (...) {
  }
}

TAVOLEN_API int32_t tavolen_control_member_count(void) {
  return static_cast<int32_t>(tavolen::memberTable().size());
}

TAVOLEN_API int32_t tavolen_control_member(int32_t index, TavolenMemberInfo* out) {
  const auto table = tavolen::memberTable();
  if (!out || index < 0 || static_cast<size_t>(index) >= table.size()) return 0;
  const tavolen::Member& m = table[static_cast<size_t>(index)];
  *out = TavolenMemberInfo{m.name,
                           m.dispid,
                           static_cast<int32_t>(m.kind),
                           m.type,
                           static_cast<int32_t>(m.params.size()),
                           m.params.data(),
                           m.helpString};
  return 1;
}

TAVOLEN_API int32_t tavolen_control_library(TavolenLibraryInfo* out) {
  if (!out) return 0;
  *out = tavolen::libraryInfo();
  return 1;
}

}  // extern "C"
