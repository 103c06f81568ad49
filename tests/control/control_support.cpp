#include "control_support.h"

#include <fstream>
#include <sstream>

#include "control/control_list.h"
#include "control/tavolen_ctrl.h"
#include "control/utf_text.h"

namespace ctltest {

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void EventLog::sink(void* user, int32_t dispid, const TavolenVariant* args, int32_t count) {
  auto* log = static_cast<EventLog*>(user);
  Event e;
  e.dispid = dispid;
  for (int32_t i = 0; i < count; ++i) {
    if (args[i].vt == TAVOLEN_VT_BSTR)
      e.texts.emplace_back(reinterpret_cast<const char16_t*>(args[i].bstr),
                           static_cast<size_t>(args[i].bstrLength));
    else
      e.i4.push_back(args[i].i4);
  }
  {
    std::lock_guard g(log->m_);
    e.onSinkThreadNested = log->depth_ > 0;
    ++log->depth_;
    log->events_.push_back(e);
  }
  log->cv_.notify_all();
  if (log->onEvent) log->onEvent(e);
  std::lock_guard g(log->m_);
  --log->depth_;
}

std::vector<Event> EventLog::all() {
  std::lock_guard g(m_);
  return events_;
}

std::vector<std::pair<int32_t, int32_t>> EventLog::notifies() {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (const Event& e : all())
    if (e.dispid == TAVOLEN_DISPID_MESSAGENOTIFY && e.i4.size() == 2) out.emplace_back(e.i4[0], e.i4[1]);
  return out;
}

std::vector<Event> EventLog::searched() {
  std::vector<Event> out;
  for (const Event& e : all())
    if (e.dispid == TAVOLEN_DISPID_ONCAMERASEARCHED) out.push_back(e);
  return out;
}

bool EventLog::waitFor(const std::function<bool(const std::vector<Event>&)>& pred, int timeoutMs) {
  std::unique_lock g(m_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return pred(events_); });
}

bool EventLog::waitForNotify(int32_t type, int count, int timeoutMs) {
  return waitFor(
      [&](const std::vector<Event>& events) {
        int n = 0;
        for (const Event& e : events)
          if (e.dispid == TAVOLEN_DISPID_MESSAGENOTIFY && !e.i4.empty() && e.i4[0] == type) ++n;
        return n >= count;
      },
      timeoutMs);
}

void EventLog::clear() {
  std::lock_guard g(m_);
  events_.clear();
}

TavolenVariant i4(int32_t v) { return TavolenVariant{TAVOLEN_VT_I4, v, nullptr, 0}; }
TavolenVariant empty() { return TavolenVariant{TAVOLEN_VT_EMPTY, 0, nullptr, 0}; }

TavolenVariant text(const std::u16string& s) {
  // Kept for the process's life: a handful of short texts per test.
  static std::mutex m;
  static std::vector<std::unique_ptr<std::u16string>> keep;
  std::lock_guard g(m);
  keep.push_back(std::make_unique<std::u16string>(s));
  return TavolenVariant{TAVOLEN_VT_BSTR, 0, reinterpret_cast<const uint16_t*>(keep.back()->data()),
                        static_cast<int32_t>(s.size())};
}

TavolenVariant text(const std::string& utf8) { return text(u16(utf8)); }

std::u16string u16(const std::string& utf8) { return tavolen::utf8ToUtf16(utf8, SIZE_MAX); }
std::string u8(const std::u16string& s) { return tavolen::utf16ToUtf8(s); }

Outcome invoke(TavolenControl* c, int32_t dispid, int32_t flags, std::vector<TavolenVariant> args) {
  TavolenVariant result{TAVOLEN_VT_I4, 77, nullptr, 0};
  Outcome o;
  o.hr = tavolen_control_invoke(c, dispid, flags, args.data(), static_cast<int32_t>(args.size()),
                                &result);
  o.vt = result.vt;
  o.i4 = result.i4;
  if (result.vt == TAVOLEN_VT_BSTR)
    o.text = u8(std::u16string(reinterpret_cast<const char16_t*>(result.bstr),
                               static_cast<size_t>(result.bstrLength)));
  tavolen_variant_clear(&result);
  return o;
}

Outcome call(TavolenControl* c, const char* name, std::vector<TavolenVariant> args) {
  return invoke(c, tavolen_control_get_dispid(name), TAVOLEN_INVOKE_METHOD, std::move(args));
}

Outcome get(TavolenControl* c, const char* name) {
  return invoke(c, tavolen_control_get_dispid(name), TAVOLEN_INVOKE_PROPERTYGET);
}

Outcome put(TavolenControl* c, const char* name, TavolenVariant value) {
  return invoke(c, tavolen_control_get_dispid(name), TAVOLEN_INVOKE_PROPERTYPUT, {value});
}

int32_t callI4(TavolenControl* c, const char* name, std::vector<TavolenVariant> args) {
  const Outcome o = call(c, name, std::move(args));
  EXPECT_EQ(o.hr, TAVOLEN_S_OK) << name;
  EXPECT_EQ(o.vt, TAVOLEN_VT_I4) << name;
  return o.i4;
}

void flush(TavolenControl* c) {
  call(c, "GetVersion");
  call(c, "GetVersion");
}

TavolenControl* createControl(EventLog& log, tavolen::ControlClock& clock) {
  return static_cast<TavolenControl*>(tavolen::controlList().add(
      std::make_shared<tavolen::CTavolenCtrl>(&EventLog::sink, &log, clock)));
}

}  // namespace ctltest
