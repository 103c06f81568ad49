#include "control/member_table.h"

#include "control/tavolen_ctrl.h"
#include "control/utf_text.h"

namespace tavolen {

namespace {

constexpr int32_t I4 = TAVOLEN_VT_I4;
constexpr int32_t BSTR = TAVOLEN_VT_BSTR;
constexpr int32_t VOID = TAVOLEN_VT_EMPTY;

constexpr MemberParam kPlayVideo[] = {{"user", BSTR}, {"pwd", BSTR},      {"ip", BSTR},
                                      {"port", I4},   {"streamid", I4},   {"audioid", I4}};
constexpr MemberParam kSetFocus[] = {{"bFocus", I4}};
constexpr MemberParam kSetFlip[] = {{"type", I4}};
constexpr MemberParam kSetOsd[] = {{"osd", BSTR}};
constexpr MemberParam kSetRecordProperty[] = {
    {"fileLen", I4}, {"timeLen", I4}, {"reserved", I4}, {"cover", I4}};
constexpr MemberParam kSdRecordFilePlay[] = {{"user", BSTR},      {"pwd", BSTR},
                                             {"ServerIp", BSTR},  {"ServerPort", I4},
                                             {"FileName", BSTR},  {"streamid", I4}};
constexpr MemberParam kSdRecordFileSetPos[] = {{"pos", I4}};
constexpr MemberParam kSetAlias[] = {{"alias", BSTR}};
constexpr MemberParam kMessageNotify[] = {{"lType", I4}, {"lParame", I4}};
constexpr MemberParam kOnCameraSearched[] = {
    {"iStatus", I4}, {"pszDevName", BSTR}, {"pszIpAddr", BSTR},  {"iPort", I4},
    {"iCmdPort", I4}, {"iDataPort", I4},   {"iIsSameSubNet", I4}};

using C = CTavolenCtrl;
using A = Arguments;
using P = ControlProperties;

Member method(const char* name, int32_t dispid, int32_t type, std::span<const MemberParam> params,
              int32_t (*call)(C&, const A&), const char* help = nullptr) {
  return Member{name, dispid, MemberKind::Method, type, params, help, call, nullptr, nullptr};
}
Member property(const char* name, int32_t dispid, int32_t P::*field) {
  return Member{name, dispid, MemberKind::Property, I4, {}, nullptr, nullptr, field, nullptr};
}
Member property(const char* name, int32_t dispid, std::string P::*field) {
  return Member{name, dispid, MemberKind::Property, BSTR, {}, nullptr, nullptr, nullptr, field};
}
Member event(const char* name, int32_t dispid, std::span<const MemberParam> params) {
  return Member{name, dispid, MemberKind::Event, VOID, params, nullptr, nullptr, nullptr, nullptr};
}

const std::vector<Member>& table() {
  static const std::vector<Member> members = {
      method("PlayVideo", 1, I4, kPlayVideo,
             [](C& c, const A& a) {
               return c.PlayVideo(a[0].text, a[1].text, a[2].text, a[3].i4, a[4].i4, a[5].i4);
             }),
      method("StopVideo", 2, I4, {}, [](C& c, const A&) { return c.StopVideo(); }),
      method("SetFocus", 3, I4, kSetFocus, [](C& c, const A& a) { return c.SetFocus(a[0].i4); },
             "0:no focus  1:focus"),
      method("ShowMax", 4, VOID, {}, [](C& c, const A&) { return c.ShowMax(), 0; }),
      method("ShowNormal", 5, VOID, {}, [](C& c, const A&) { return c.ShowNormal(), 0; }),
      property("SoundState", 6, &P::SoundState),
      property("TalkState", 7, &P::TalkState),
      property("RecordState", 8, &P::RecordState),
      method("CapturePic", 9, I4, {}, [](C& c, const A&) { return c.CapturePic(); }),
      method("OpenSound", 10, I4, {}, [](C& c, const A&) { return c.OpenSound(); }),
      method("CloseSound", 11, I4, {}, [](C& c, const A&) { return c.CloseSound(); }),
      method("StartTalk", 12, I4, {}, [](C& c, const A&) { return c.StartTalk(); }),
      method("StopTalk", 13, I4, {}, [](C& c, const A&) { return c.StopTalk(); }),
      method("StartRecord", 14, I4, {}, [](C& c, const A&) { return c.StartRecord(); }),
      method("StopRecord", 15, I4, {}, [](C& c, const A&) { return c.StopRecord(); }),
      method("SetPath", 16, VOID, {}, [](C& c, const A&) { return c.SetPath(), 0; }),
      property("VideoState", 17, &P::VideoState),
      property("RecFilePath", 18, &P::RecFilePath),
      method("OnSearchCameras", 19, VOID, {}, [](C& c, const A&) { return c.OnSearchCameras(), 0; }),
      method("SetFlip", 20, I4, kSetFlip, [](C& c, const A& a) { return c.SetFlip(a[0].i4); }),
      method("SetOsd", 21, I4, kSetOsd, [](C& c, const A& a) { return c.SetOsd(a[0].text); }),
      method("RemoveOsd", 22, I4, {}, [](C& c, const A&) { return c.RemoveOsd(); }),
      method("UpdataSize", 23, VOID, {}, [](C& c, const A&) { return c.UpdataSize(), 0; }),
      property("RecFileLen", 24, &P::RecFileLen),
      property("RecTimeLen", 25, &P::RecTimeLen),
      property("ReservedSpace", 26, &P::ReservedSpace),
      property("RecCover", 27, &P::RecCover),
      method("SetRecordProperty", 28, VOID, kSetRecordProperty,
             [](C& c, const A& a) { return c.SetRecordProperty(a[0].i4, a[1].i4, a[2].i4, a[3].i4), 0; }),
      method("SdRecordFilePlay", 29, I4, kSdRecordFilePlay,
             [](C& c, const A& a) {
               return c.SdRecordFilePlay(a[0].text, a[1].text, a[2].text, a[3].i4, a[4].text,
                                         a[5].i4);
             }),
      method("SdRecordFileStop", 30, I4, {}, [](C& c, const A&) { return c.SdRecordFileStop(); }),
      method("SdRecordFileSetPos", 31, I4, kSdRecordFileSetPos,
             [](C& c, const A& a) { return c.SdRecordFileSetPos(a[0].i4); }),
      method("SetAlias", 32, I4, kSetAlias, [](C& c, const A& a) { return c.SetAlias(a[0].text); }),
      method("GetVersion", 33, I4, {}, [](C&, const A&) { return kControlVersion; }),
      event("MessageNotify", TAVOLEN_DISPID_MESSAGENOTIFY, kMessageNotify),
      event("OnCameraSearched", TAVOLEN_DISPID_ONCAMERASEARCHED, kOnCameraSearched),
  };
  return members;
}

}  // namespace

std::span<const Member> memberTable() { return table(); }

const Member* findDispatchMember(int32_t dispid) {
  for (const Member& m : table())
    if (m.kind != MemberKind::Event && m.dispid == dispid) return &m;
  return nullptr;
}

int32_t dispidOfName(std::string_view name) {
  for (const Member& m : table())
    if (m.kind != MemberKind::Event && sameNameIgnoringCase(m.name, name)) return m.dispid;
  return -1;
}

const TavolenLibraryInfo& libraryInfo() {
  static const TavolenLibraryInfo info = {
      "{6A1E43C7-58D2-4F0B-9C3A-2E7D51B08F64}",  // TavolenLib
      "{C3B97F20-14AE-4D6C-8B51-7F0E2A9D3C18}",  // _DTavolen
      "{8E52D0A9-3B7C-46F1-A2D8-95C14E6B7F03}",  // _DTavolenEvents
      "{D41F7B86-29E3-4C5A-B0F7-13A86C52E9D4}",  // Tavolen
      "{2B8C6E15-F07D-4A93-8E24-C95B3D71A06F}",  // CTavolenPropPage
      "TAVOLEN.TavolenCtrl.1",
      "Tavolen Control",
      1,
      0,
  };
  return info;
}

}  // namespace tavolen
