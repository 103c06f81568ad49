// The automation interface through control.h: the member table against the
// published one, name lookup, argument conversion, the error codes (and that
// nothing runs on an error), the answers before the window exists, property
// writes, results and the control's lifetime.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "control_support.h"

namespace {

using namespace ctltest;

constexpr int32_t I4 = TAVOLEN_VT_I4;
constexpr int32_t BSTR = TAVOLEN_VT_BSTR;
constexpr int32_t VOID = TAVOLEN_VT_EMPTY;
constexpr int32_t M = TAVOLEN_MEMBER_METHOD;
constexpr int32_t P = TAVOLEN_MEMBER_PROPERTY;
constexpr int32_t E = TAVOLEN_MEMBER_EVENT;

struct ExpectedMember {
  const char* name;
  int32_t dispid;
  int32_t kind;
  int32_t type;
  std::vector<std::pair<const char*, int32_t>> params;
};

const std::vector<ExpectedMember>& published() {
  static const std::vector<ExpectedMember> members = {
      {"PlayVideo", 1, M, I4, {{"user", BSTR}, {"pwd", BSTR}, {"ip", BSTR}, {"port", I4}, {"streamid", I4}, {"audioid", I4}}},
      {"StopVideo", 2, M, I4, {}},
      {"SetFocus", 3, M, I4, {{"bFocus", I4}}},
      {"ShowMax", 4, M, VOID, {}},
      {"ShowNormal", 5, M, VOID, {}},
      {"SoundState", 6, P, I4, {}},
      {"TalkState", 7, P, I4, {}},
      {"RecordState", 8, P, I4, {}},
      {"CapturePic", 9, M, I4, {}},
      {"OpenSound", 10, M, I4, {}},
      {"CloseSound", 11, M, I4, {}},
      {"StartTalk", 12, M, I4, {}},
      {"StopTalk", 13, M, I4, {}},
      {"StartRecord", 14, M, I4, {}},
      {"StopRecord", 15, M, I4, {}},
      {"SetPath", 16, M, VOID, {}},
      {"VideoState", 17, P, I4, {}},
      {"RecFilePath", 18, P, BSTR, {}},
      {"OnSearchCameras", 19, M, VOID, {}},
      {"SetFlip", 20, M, I4, {{"type", I4}}},
      {"SetOsd", 21, M, I4, {{"osd", BSTR}}},
      {"RemoveOsd", 22, M, I4, {}},
      {"UpdataSize", 23, M, VOID, {}},
      {"RecFileLen", 24, P, I4, {}},
      {"RecTimeLen", 25, P, I4, {}},
      {"ReservedSpace", 26, P, I4, {}},
      {"RecCover", 27, P, I4, {}},
      {"SetRecordProperty", 28, M, VOID, {{"fileLen", I4}, {"timeLen", I4}, {"reserved", I4}, {"cover", I4}}},
      {"SdRecordFilePlay", 29, M, I4, {{"user", BSTR}, {"pwd", BSTR}, {"ServerIp", BSTR}, {"ServerPort", I4}, {"FileName", BSTR}, {"streamid", I4}}},
      {"SdRecordFileStop", 30, M, I4, {}},
      {"SdRecordFileSetPos", 31, M, I4, {{"pos", I4}}},
      {"SetAlias", 32, M, I4, {{"alias", BSTR}}},
      {"GetVersion", 33, M, I4, {}},
      {"MessageNotify", 1, E, VOID, {{"lType", I4}, {"lParame", I4}}},
      {"OnCameraSearched", 2, E, VOID, {{"iStatus", I4}, {"pszDevName", BSTR}, {"pszIpAddr", BSTR}, {"iPort", I4}, {"iCmdPort", I4}, {"iDataPort", I4}, {"iIsSameSubNet", I4}}},
  };
  return members;
}

TEST(MemberTable, IsThePublishedOne) {
  const auto& expected = published();
  ASSERT_EQ(tavolen_control_member_count(), static_cast<int32_t>(expected.size()));
  for (int32_t i = 0; i < tavolen_control_member_count(); ++i) {
    TavolenMemberInfo m{};
    ASSERT_EQ(tavolen_control_member(i, &m), 1);
    const ExpectedMember& e = expected[static_cast<size_t>(i)];
    SCOPED_TRACE(e.name);
    EXPECT_STREQ(m.name, e.name);
    EXPECT_EQ(m.dispid, e.dispid);
    EXPECT_EQ(m.kind, e.kind);
    EXPECT_EQ(m.type, e.type);
    ASSERT_EQ(m.paramCount, static_cast<int32_t>(e.params.size()));
    for (size_t p = 0; p < e.params.size(); ++p) {
      EXPECT_STREQ(m.params[p].name, e.params[p].first);
      EXPECT_EQ(m.params[p].type, e.params[p].second);
    }
    if (std::strcmp(e.name, "SetFocus") == 0)
      EXPECT_STREQ(m.helpString, "0:no focus  1:focus");
    else
      EXPECT_EQ(m.helpString, nullptr);
  }
  TavolenMemberInfo m{};
  EXPECT_EQ(tavolen_control_member(-1, &m), 0);
  EXPECT_EQ(tavolen_control_member(tavolen_control_member_count(), &m), 0);
  EXPECT_EQ(tavolen_control_member(0, nullptr), 0);
}

TEST(MemberTable, NamesLookUpWithoutCase) {
  struct Case {
    const char* name;
    int32_t dispid;
  } cases[] = {
      {"PlayVideo", 1},       {"playvideo", 1},    {"UPDATASIZE", 23},    {"OnSearchCameras", 19},
      {"recfilepath", 18},    {"GetVersion", 33},  {"MessageNotify", -1}, {"OnCameraSearched", -1},
      {"UpdateSize", -1},     {"", -1},            {"PlayVideo ", -1},    {"lParame", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(tavolen_control_get_dispid(c.name), c.dispid) << c.name;
  EXPECT_EQ(tavolen_control_get_dispid(nullptr), -1);
}

TEST(MemberTable, LibraryIdentities) {
  TavolenLibraryInfo info{};
  ASSERT_EQ(tavolen_control_library(&info), 1);
  EXPECT_STREQ(info.libraryGuid, "{6A1E43C7-58D2-4F0B-9C3A-2E7D51B08F64}");
  EXPECT_STREQ(info.dispatchGuid, "{C3B97F20-14AE-4D6C-8B51-7F0E2A9D3C18}");
  EXPECT_STREQ(info.eventsGuid, "{8E52D0A9-3B7C-46F1-A2D8-95C14E6B7F03}");
  EXPECT_STREQ(info.controlGuid, "{D41F7B86-29E3-4C5A-B0F7-13A86C52E9D4}");
  EXPECT_STREQ(info.propertyPageGuid, "{2B8C6E15-F07D-4A93-8E24-C95B3D71A06F}");
  EXPECT_STREQ(info.progId, "TAVOLEN.TavolenCtrl.1");
  EXPECT_STREQ(info.typeName, "Tavolen Control");
  EXPECT_EQ(info.versionMajor, 1);
  EXPECT_EQ(info.versionMinor, 0);
  EXPECT_EQ(tavolen_control_library(nullptr), 0);
}

// A control in an off-screen window, with its settings file in a scratch
// folder and no chooser.
class ActiveControl : public ::testing::Test {
 protected:
  void SetUp() override {
    control = tavolen_control_create(&EventLog::sink, &log);
    ASSERT_NE(control, nullptr);
    window = tavolen_window_create_offscreen(320, 240);
    ASSERT_EQ(tavolen_control_create_window(control, window), 1);
  }
  void TearDown() override {
    tavolen_control_destroy(control);
    tavolen_window_destroy(window);
  }

  ScratchFolder dir;
  EnvOverride settings{"TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini")};
  EnvOverride chooser{"TAVOLEN_FOLDER_DIALOG", "exit 1"};
  EventLog log;
  TavolenControl* control = nullptr;
  TavolenWindow* window = nullptr;
};

TEST_F(ActiveControl, I4ParametersAcceptDecimalTexts) {
  struct Case {
    const char* what;
    TavolenVariant arg;
    bool ok;
    int32_t value;
  } cases[] = {
      {"I4", i4(123), true, 123},
      {"EMPTY", empty(), true, 0},
      {"decimal text", text("456"), true, 456},
      {"spaces and sign", text(" \t-12 "), true, -12},
      {"plus sign", text("+7"), true, 7},
      {"lowest", text("-2147483648"), true, INT32_MIN},
      {"highest", text("2147483647"), true, INT32_MAX},
      {"empty text", text(""), false, 0},
      {"null text", TavolenVariant{BSTR, 0, nullptr, 0}, false, 0},
      {"spaces only", text("   "), false, 0},
      {"fraction", text("1.5"), false, 0},
      {"hex", text("0x10"), false, 0},
      {"too large", text("2147483648"), false, 0},
      {"too small", text("-2147483649"), false, 0},
      {"trailing junk", text("12abc"), false, 0},
      {"inner space", text("1 2"), false, 0},
      {"sign alone", text("-"), false, 0},
      {"negative length", TavolenVariant{BSTR, 0, nullptr, -1}, false, 0},
      {"other type", TavolenVariant{5, 0, nullptr, 0}, false, 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(put(control, "RecFileLen", i4(-99)).hr, TAVOLEN_S_OK);
    const Outcome o = put(control, "RecFileLen", c.arg);
    EXPECT_EQ(o.hr, c.ok ? TAVOLEN_S_OK : TAVOLEN_DISP_E_TYPEMISMATCH) << c.what;
    EXPECT_EQ(get(control, "RecFileLen").i4, c.ok ? c.value : -99) << c.what;
  }
}

TEST_F(ActiveControl, TextParametersAcceptNumbers) {
  struct Case {
    const char* what;
    TavolenVariant arg;
    bool ok;
    std::string value;
  } cases[] = {
      {"text", text("/srv/cam"), true, "/srv/cam"},
      {"I4", i4(-42), true, "-42"},
      {"EMPTY", empty(), true, ""},
      {"null text", TavolenVariant{BSTR, 0, nullptr, 5}, true, ""},
      {"beyond the BMP", text(u"\u00e9\u20ac\U0001F600"), true, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"negative length", TavolenVariant{BSTR, 0, reinterpret_cast<const uint16_t*>(u"x"), -1}, false, ""},
      {"other type", TavolenVariant{11, 1, nullptr, 0}, false, ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(put(control, "RecFilePath", text("before")).hr, TAVOLEN_S_OK);
    const Outcome o = put(control, "RecFilePath", c.arg);
    EXPECT_EQ(o.hr, c.ok ? TAVOLEN_S_OK : TAVOLEN_DISP_E_TYPEMISMATCH) << c.what;
    const Outcome g = get(control, "RecFilePath");
    EXPECT_EQ(g.vt, BSTR);
    EXPECT_EQ(g.text, c.ok ? c.value : "before") << c.what;
  }
}

TEST_F(ActiveControl, ErrorCodesAndNothingRuns) {
  const int32_t play = tavolen_control_get_dispid("PlayVideo");
  const int32_t setRec = tavolen_control_get_dispid("SetRecordProperty");
  const int32_t fileLen = tavolen_control_get_dispid("RecFileLen");
  const std::vector<TavolenVariant> fourGood = {i4(500), i4(50), i4(900), i4(1)};
  struct Case {
    const char* what;
    int32_t dispid;
    int32_t flags;
    std::vector<TavolenVariant> args;
    int32_t hr;
  } cases[] = {
      {"unknown dispid", 34, 1, {}, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"dispid 0", 0, 1, {}, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"negative dispid", -1, 3, {}, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"put on a method", setRec, 4, {i4(1)}, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"get on a method", setRec, 2, fourGood, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"call on a property", fileLen, 1, {}, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"no flags", setRec, 0, fourGood, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"put by reference", fileLen, 8, {i4(1)}, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"get and put", fileLen, 6, {i4(1)}, TAVOLEN_DISP_E_MEMBERNOTFOUND},
      {"too few", setRec, 1, {i4(500), i4(50), i4(900)}, TAVOLEN_DISP_E_BADPARAMCOUNT},
      {"too many", setRec, 1, {i4(500), i4(50), i4(900), i4(1), i4(1)}, TAVOLEN_DISP_E_BADPARAMCOUNT},
      {"get with an argument", fileLen, 2, {i4(1)}, TAVOLEN_DISP_E_BADPARAMCOUNT},
      {"put without one", fileLen, 4, {}, TAVOLEN_DISP_E_BADPARAMCOUNT},
      {"last argument bad", setRec, 1, {i4(500), i4(50), i4(900), text("x")}, TAVOLEN_DISP_E_TYPEMISMATCH},
      {"first argument bad", setRec, 3, {text("1.0"), i4(50), i4(900), i4(1)}, TAVOLEN_DISP_E_TYPEMISMATCH},
      {"text where I4", play, 1, {text("u"), text("p"), text("127.0.0.1"), text("port"), i4(0), i4(0)}, TAVOLEN_DISP_E_TYPEMISMATCH},
  };
  const std::string fileBefore = readText(dir.file("Tavolen.ini"));
  for (const Case& c : cases) {
    EXPECT_EQ(invoke(control, c.dispid, c.flags, c.args).hr, c.hr) << c.what;
  }
  // Nothing ran: the settings file and the limits are as loaded, no view.
  EXPECT_EQ(readText(dir.file("Tavolen.ini")), fileBefore);
  EXPECT_EQ(get(control, "RecFileLen").i4, 100);
  EXPECT_EQ(callI4(control, "StopRecord"), -1);  // no player was made
  // And the same calls done right do run.
  EXPECT_EQ(invoke(control, setRec, 3, fourGood).hr, TAVOLEN_S_OK);
  EXPECT_EQ(get(control, "RecFileLen").i4, 500);
}

TEST_F(ActiveControl, NullArgumentArrayWithACountIsABadCount) {
  EXPECT_EQ(tavolen_control_invoke(control, tavolen_control_get_dispid("SetFlip"), 1, nullptr, 1,
                                   nullptr),
            TAVOLEN_DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(tavolen_control_invoke(control, tavolen_control_get_dispid("SetFlip"), 1, nullptr, -1,
                                   nullptr),
            TAVOLEN_DISP_E_BADPARAMCOUNT);
  // A method call needs no result variant.
  const TavolenVariant arg = i4(0);
  EXPECT_EQ(tavolen_control_invoke(control, tavolen_control_get_dispid("SetFlip"), 1, &arg, 1, nullptr),
            TAVOLEN_S_OK);
}

TEST_F(ActiveControl, ResultsByKind) {
  struct Case {
    const char* name;
    int32_t flags;
    int32_t vt;
  } cases[] = {
      {"GetVersion", 1, I4}, {"GetVersion", 3, I4},   {"UpdataSize", 1, VOID}, {"ShowNormal", 3, VOID},
      {"SoundState", 2, I4}, {"SoundState", 3, I4},   {"RecFilePath", 3, BSTR},
  };
  for (const Case& c : cases) {
    const Outcome o = invoke(control, tavolen_control_get_dispid(c.name), c.flags);
    EXPECT_EQ(o.hr, TAVOLEN_S_OK) << c.name;
    EXPECT_EQ(o.vt, c.vt) << c.name;
  }
  EXPECT_EQ(callI4(control, "GetVersion"), 65536);
  EXPECT_EQ(put(control, "SoundState", i4(1)).vt, VOID);
}

TEST_F(ActiveControl, PropertiesAfterTheWindowAndScriptWrites) {
  EXPECT_EQ(get(control, "RecFilePath").text, std::getenv("HOME"));
  EXPECT_EQ(get(control, "RecFileLen").i4, 100);
  EXPECT_EQ(get(control, "RecTimeLen").i4, 5);
  EXPECT_EQ(get(control, "ReservedSpace").i4, 200);
  EXPECT_EQ(get(control, "RecCover").i4, 0);
  for (const char* state : {"SoundState", "TalkState", "RecordState", "VideoState"})
    EXPECT_EQ(get(control, state).i4, 0) << state;

  // A written state changes the number only; a written limit is not stored.
  EXPECT_EQ(put(control, "RecordState", i4(1)).hr, TAVOLEN_S_OK);
  EXPECT_EQ(get(control, "RecordState").i4, 1);
  EXPECT_EQ(put(control, "RecFileLen", i4(10)).hr, TAVOLEN_S_OK);
  EXPECT_EQ(get(control, "RecFileLen").i4, 10);
  EXPECT_EQ(put(control, "RecFilePath", text("/not/used")).hr, TAVOLEN_S_OK);
  EXPECT_EQ(readText(dir.file("Tavolen.ini")), "[PATH]\nSETPATH=" + std::string(std::getenv("HOME")) + "\n");
}

TEST_F(ActiveControl, SetRecordPropertyThroughInvoke) {
  call(control, "SetRecordProperty", {i4(50), i4(0), i4(1000), i4(7)});
  EXPECT_EQ(get(control, "RecFileLen").i4, 100);
  EXPECT_EQ(get(control, "RecTimeLen").i4, 5);
  EXPECT_EQ(get(control, "ReservedSpace").i4, 1000);
  EXPECT_EQ(get(control, "RecCover").i4, 7);
  EXPECT_EQ(readText(dir.file("Tavolen.ini")),
            "[PATH]\nSETPATH=" + std::string(std::getenv("HOME")) +
                "\nFILELEN=100\nTIMELEN=5\nRESERVEDSPACE=1000\nCOVER=7\n");
}

TEST_F(ActiveControl, SetPathWithAChooserAndCancelled) {
  const std::string home = std::getenv("HOME");
  {
    EnvOverride cancelled("TAVOLEN_FOLDER_DIALOG", "exit 1");
    EXPECT_EQ(call(control, "SetPath").hr, TAVOLEN_S_OK);
    EXPECT_EQ(get(control, "RecFilePath").text, home);
    EXPECT_EQ(readText(dir.file("Tavolen.ini")), "[PATH]\nSETPATH=" + home + "\n");
  }
  {
    EnvOverride chosen("TAVOLEN_FOLDER_DIALOG", "echo '" + dir.file("shots") + "'");
    EXPECT_EQ(call(control, "SetPath").hr, TAVOLEN_S_OK);
    EXPECT_EQ(get(control, "RecFilePath").text, dir.file("shots"));
    EXPECT_EQ(readText(dir.file("Tavolen.ini")), "[PATH]\nSETPATH=" + dir.file("shots") + "\n");
  }
  {
    EnvOverride tooLong("TAVOLEN_FOLDER_DIALOG", "echo /" + std::string(300, 'x'));
    call(control, "SetPath");
    EXPECT_EQ(get(control, "RecFilePath").text, dir.file("shots"));
  }
}

TEST(ControlBeforeWindow, MethodsRefuseAndPropertiesReadEmpty) {
  ScratchFolder dir;
  EnvOverride settings("TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini"));
  EnvOverride chooser("TAVOLEN_FOLDER_DIALOG", "echo /chosen");
  EventLog log;
  TavolenControl* control = tavolen_control_create(&EventLog::sink, &log);
  ASSERT_NE(control, nullptr);
  for (int32_t i = 0; i < tavolen_control_member_count(); ++i) {
    TavolenMemberInfo m{};
    tavolen_control_member(i, &m);
    if (m.kind == TAVOLEN_MEMBER_EVENT) continue;
    std::vector<TavolenVariant> args(static_cast<size_t>(m.paramCount), empty());
    SCOPED_TRACE(m.name);
    if (m.kind == TAVOLEN_MEMBER_METHOD) {
      const Outcome o = invoke(control, m.dispid, 1, args);
      EXPECT_EQ(o.hr, TAVOLEN_S_OK);
      EXPECT_EQ(o.vt, m.type);
      if (m.type == I4) {
        EXPECT_EQ(o.i4, -1);
      }
    } else {
      EXPECT_EQ(put(control, m.name, m.type == I4 ? i4(9) : text("x")).hr, TAVOLEN_S_OK);
      const Outcome o = invoke(control, m.dispid, 2);
      EXPECT_EQ(o.hr, TAVOLEN_S_OK);
      EXPECT_EQ(o.vt, m.type);
      EXPECT_EQ(o.i4, 0);
      EXPECT_EQ(o.text, "");
    }
  }
  // Errors are still errors before the window.
  EXPECT_EQ(invoke(control, 99, 1).hr, TAVOLEN_DISP_E_MEMBERNOTFOUND);
  // Nothing was read or written, and no event came.
  EXPECT_FALSE(std::filesystem::exists(dir.file("Tavolen.ini")));
  flush(control);
  EXPECT_TRUE(log.all().empty());
  tavolen_control_destroy(control);
}

TEST(ControlLifetime, WindowOnceAndOnlyAWindow) {
  ScratchFolder dir;
  EnvOverride settings("TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini"));
  TavolenControl* control = tavolen_control_create(nullptr, nullptr);
  ASSERT_NE(control, nullptr);
  TavolenWindow* window = tavolen_window_create_offscreen(64, 48);
  int32_t notAWindow = 0;
  EXPECT_EQ(tavolen_control_create_window(control, reinterpret_cast<TavolenWindow*>(&notAWindow)), 0);
  EXPECT_EQ(tavolen_control_create_window(control, nullptr), 0);
  EXPECT_EQ(tavolen_control_create_window(control, window), 1);
  EXPECT_EQ(tavolen_control_create_window(control, window), 0);
  EXPECT_EQ(callI4(control, "GetVersion"), 65536);
  tavolen_control_destroy(control);
  // A destroyed (or never made) handle is refused everywhere.
  EXPECT_EQ(tavolen_control_create_window(control, window), 0);
  EXPECT_NE(invoke(control, 33, 1).hr, TAVOLEN_S_OK);
  tavolen_control_destroy(control);  // twice: nothing happens
  tavolen_window_destroy(window);
}

TEST_F(ActiveControl, TextResultsAreReleasedByVariantClear) {
  TavolenVariant v{TAVOLEN_VT_I4, 1, nullptr, 0};
  ASSERT_EQ(tavolen_control_invoke(control, tavolen_control_get_dispid("RecFilePath"), 2, nullptr, 0, &v),
            TAVOLEN_S_OK);
  ASSERT_EQ(v.vt, TAVOLEN_VT_BSTR);
  ASSERT_NE(v.bstr, nullptr);
  EXPECT_EQ(v.bstr[v.bstrLength], 0);  // terminated for hosts that want it
  tavolen_variant_clear(&v);  // the sanitizer build would report a leak without it
  EXPECT_EQ(v.vt, TAVOLEN_VT_EMPTY);
  EXPECT_EQ(v.bstr, nullptr);
  TavolenVariant n = i4(5);
  tavolen_variant_clear(&n);
  EXPECT_EQ(n.vt, TAVOLEN_VT_EMPTY);
  tavolen_variant_clear(nullptr);
}

}  // namespace
