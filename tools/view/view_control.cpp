#include "view_control.h"

#include <cstdio>

#include "control/utf_text.h"

namespace tavolen::view {
namespace {

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string textOf(const TavolenVariant& v) {
  if (v.vt != TAVOLEN_VT_BSTR || v.bstr == nullptr || v.bstrLength <= 0) return {};
  return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(v.bstr),
                                         static_cast<size_t>(v.bstrLength)));
}

std::string printed(const TavolenVariant& v) {
  if (v.vt == TAVOLEN_VT_I4) return std::to_string(v.i4);
  if (v.vt == TAVOLEN_VT_BSTR) return quoted(textOf(v));
  return "EMPTY";
}

void printLine(const std::string& line) {
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

const char* eventName(int32_t dispid) {
  switch (dispid) {
    case TAVOLEN_DISPID_MESSAGENOTIFY: return "MessageNotify";
    case TAVOLEN_DISPID_ONCAMERASEARCHED: return "OnCameraSearched";
    default: return "Event";
  }
}

}  // namespace

std::unique_ptr<ViewControl> ViewControl::open(TavolenWindow* window) {
  // The sink only prints, so it needs no state of its own.
  TavolenControl* control = tavolen_control_create(&ViewControl::onEvent, nullptr);
  if (control == nullptr) {
    std::fprintf(stderr, "tavolen-view: the control could not be created\n");
    return nullptr;
  }
  std::unique_ptr<ViewControl> view(new ViewControl(control));
  if (tavolen_control_create_window(control, window) != 1) {
    std::fprintf(stderr, "tavolen-view: the control could not be activated in its window\n");
    return nullptr;
  }
  return view;
}

ViewControl::~ViewControl() { tavolen_control_destroy(control_); }

void ViewControl::onEvent(void*, int32_t dispid, const TavolenVariant* args, int32_t argCount) {
  std::string line = eventName(dispid);
  line += '(';
  for (int32_t i = 0; i < argCount; ++i) {
    if (i > 0) line += ", ";
    line += printed(args[i]);
  }
  printLine(line + ')');
}

int32_t ViewControl::call(const char* method, const std::vector<Arg>& args,
                          const std::vector<size_t>& hidden) {
  std::vector<std::u16string> texts(args.size());
  std::vector<TavolenVariant> variants(args.size());
  std::string line = std::string(method) + '(';
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += ", ";
    TavolenVariant& v = variants[i];
    if (const int32_t* n = std::get_if<int32_t>(&args[i])) {
      v.vt = TAVOLEN_VT_I4;
      v.i4 = *n;
      line += std::to_string(*n);
      continue;
    }
    const std::string& text = std::get<std::string>(args[i]);
    texts[i] = utf8ToUtf16(text);
    v.vt = TAVOLEN_VT_BSTR;
    v.bstr = reinterpret_cast<const uint16_t*>(texts[i].data());
    v.bstrLength = static_cast<int32_t>(texts[i].size());
    bool hide = false;
    for (const size_t h : hidden) hide = hide || h == i;
    line += hide ? "\"***\"" : quoted(text);
  }
  line += ')';

  TavolenVariant result{};
  const int32_t code =
      tavolen_control_invoke(control_, tavolen_control_get_dispid(method), TAVOLEN_INVOKE_METHOD,
                             variants.data(), static_cast<int32_t>(variants.size()), &result);
  int32_t value = -1;
  if (code != TAVOLEN_S_OK) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(code));
    line += std::string(" failed: ") + hex;
  } else if (result.vt != TAVOLEN_VT_EMPTY) {
    line += " = " + printed(result);
    if (result.vt == TAVOLEN_VT_I4) value = result.i4;
  }
  tavolen_variant_clear(&result);
  printLine(line);
  return value;
}

TavolenVariant ViewControl::read(const char* property) {
  TavolenVariant result{};
  if (tavolen_control_invoke(control_, tavolen_control_get_dispid(property),
                             TAVOLEN_INVOKE_PROPERTYGET, nullptr, 0, &result) != TAVOLEN_S_OK)
    tavolen_variant_clear(&result);
  return result;
}

int32_t ViewControl::readNumber(const char* property) {
  TavolenVariant v = read(property);
  const int32_t n = v.vt == TAVOLEN_VT_I4 ? v.i4 : 0;
  tavolen_variant_clear(&v);
  return n;
}

std::string ViewControl::readText(const char* property) {
  TavolenVariant v = read(property);
  std::string text = textOf(v);
  tavolen_variant_clear(&v);
  return text;
}

}  // namespace tavolen::view
