#include "control_bridge.h"

#include "tavolen/control.h"
#include "tavolen/window.h"

namespace tavolen::host {
namespace {

const char* typeName(int32_t vt) {
  return vt == TAVOLEN_VT_I4 ? "I4" : vt == TAVOLEN_VT_BSTR ? "BSTR" : "VOID";
}

WireValue fromVariant(const TavolenVariant& v) {
  if (v.vt == TAVOLEN_VT_I4) return WireValue{WireValue::I4, v.i4, {}};
  if (v.vt == TAVOLEN_VT_BSTR)
    return WireValue{WireValue::Text, 0,
                     v.bstr ? std::u16string(reinterpret_cast<const char16_t*>(v.bstr),
                                             static_cast<size_t>(v.bstrLength > 0 ? v.bstrLength : 0))
                            : std::u16string()};
  return WireValue{};
}

TavolenVariant toVariant(const WireValue& v) {
  TavolenVariant out{};
  if (v.kind == WireValue::I4) {
    out.vt = TAVOLEN_VT_I4;
    out.i4 = v.i4;
  } else if (v.kind == WireValue::Text) {
    out.vt = TAVOLEN_VT_BSTR;
    out.bstr = reinterpret_cast<const uint16_t*>(v.text.data());
    out.bstrLength = static_cast<int32_t>(v.text.size());
  }
  return out;
}

class LiveControl final : public ControlBridge {
 public:
  LiveControl(TavolenWindow* window, Listener& listener) : window_(window), listener_(listener) {}

  ~LiveControl() override {
    // The control first: it stops its links and players, which draw into the
    // window until then.
    if (control_) tavolen_control_destroy(control_);
    tavolen_window_set_listener(window_, nullptr, nullptr);
    tavolen_window_destroy(window_);
  }

  bool start(std::string& error) {
    tavolen_window_set_listener(window_, &LiveControl::onWindow, this);
    control_ = tavolen_control_create(&LiveControl::onEvent, this);
    if (!control_) {
      error = "the control could not be created";
      return false;
    }
    if (tavolen_control_create_window(control_, window_) != 1) {
      error = "the control could not be activated in its window";
      return false;
    }
    return true;
  }

  int32_t invoke(int32_t dispid, int32_t flags, const std::vector<WireValue>& args,
                 WireValue& result) override {
    std::vector<TavolenVariant> variants;
    variants.reserve(args.size());
    for (const WireValue& a : args) variants.push_back(toVariant(a));
    TavolenVariant out{};
    const int32_t code = tavolen_control_invoke(control_, dispid, flags, variants.data(),
                                                static_cast<int32_t>(variants.size()), &out);
    result = fromVariant(out);
    tavolen_variant_clear(&out);
    return code;
  }

  std::vector<std::pair<int32_t, WireValue>> readProperties() override {
    std::vector<std::pair<int32_t, WireValue>> values;
    const int32_t count = tavolen_control_member_count();
    for (int32_t i = 0; i < count; ++i) {
      TavolenMemberInfo info{};
      if (!tavolen_control_member(i, &info) || info.kind != TAVOLEN_MEMBER_PROPERTY) continue;
      WireValue value;
      invoke(info.dispid, TAVOLEN_INVOKE_PROPERTYGET, {}, value);
      values.emplace_back(info.dispid, std::move(value));
    }
    return values;
  }

  void sendMouse(int32_t event, int32_t x, int32_t y) override {
    tavolen_window_send_mouse(window_, event, x, y);
  }
  void resize(int32_t width, int32_t height) override {
    tavolen_window_set_size(window_, width, height);
  }
  void setScreen(int32_t width, int32_t height) override {
    tavolen_window_set_screen_size(window_, width, height);
  }

  WindowView windowView() override {
    TavolenWindowState s{};
    if (!tavolen_window_get_state(window_, &s)) return {};
    return WindowView{s.x, s.y, s.width, s.height, s.visible, s.fullScreen};
  }

  bool readPicture(std::vector<uint8_t>& pixels, int32_t& width, int32_t& height) override {
    // The size can change between the two calls; read again until it holds.
    for (int attempt = 0; attempt < 3; ++attempt) {
      TavolenWindowState s{};
      if (!tavolen_window_get_state(window_, &s) || s.width <= 0 || s.height <= 0) return false;
      pixels.resize(static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * 4);
      const int32_t n = tavolen_window_read_pixels(window_, pixels.data(),
                                                   static_cast<int32_t>(pixels.size()));
      if (n == static_cast<int32_t>(pixels.size())) {
        width = s.width;
        height = s.height;
        return true;
      }
    }
    return false;
  }

 private:
  static void onEvent(void* user, int32_t dispid, const TavolenVariant* args, int32_t argCount) {
    std::vector<WireValue> values;
    for (int32_t i = 0; i < argCount; ++i) values.push_back(fromVariant(args[i]));
    static_cast<LiveControl*>(user)->listener_.controlEvent(dispid, std::move(values));
  }
  static void onWindow(void* user) { static_cast<LiveControl*>(user)->listener_.windowChanged(); }

  TavolenWindow* window_;
  Listener& listener_;
  TavolenControl* control_ = nullptr;
};

}  // namespace

std::unique_ptr<ControlBridge> ControlBridge::open(int32_t width, int32_t height,
                                                   int32_t screenWidth, int32_t screenHeight,
                                                   Listener& listener, std::string& error) {
  TavolenWindow* window = tavolen_window_create_offscreen(width, height);
  if (!window) {
    error = "the control's window could not be made";
    return nullptr;
  }
  tavolen_window_set_screen_size(window, screenWidth, screenHeight);
  auto control = std::make_unique<LiveControl>(window, listener);
  if (!control->start(error)) return nullptr;
  return control;
}

std::vector<MemberRow> ControlBridge::members() {
  std::vector<MemberRow> rows;
  const int32_t count = tavolen_control_member_count();
  for (int32_t i = 0; i < count; ++i) {
    TavolenMemberInfo info{};
    if (!tavolen_control_member(i, &info)) continue;
    MemberRow row;
    row.name = info.name;
    row.dispid = info.dispid;
    row.kind = info.kind == TAVOLEN_MEMBER_METHOD     ? "method"
               : info.kind == TAVOLEN_MEMBER_PROPERTY ? "property"
                                                      : "event";
    row.type = typeName(info.type);
    for (int32_t p = 0; p < info.paramCount; ++p)
      row.params.push_back({info.params[p].name, typeName(info.params[p].type)});
    if (info.helpString) row.help = info.helpString;
    rows.push_back(std::move(row));
  }
  return rows;
}

LibraryRow ControlBridge::library() {
  TavolenLibraryInfo info{};
  LibraryRow row;
  if (!tavolen_control_library(&info)) return row;
  row.libraryGuid = info.libraryGuid;
  row.dispatchGuid = info.dispatchGuid;
  row.eventsGuid = info.eventsGuid;
  row.controlGuid = info.controlGuid;
  row.propertyPageGuid = info.propertyPageGuid;
  row.progId = info.progId;
  row.typeName = info.typeName;
  row.versionMajor = info.versionMajor;
  row.versionMinor = info.versionMinor;
  return row;
}

}  // namespace tavolen::host
