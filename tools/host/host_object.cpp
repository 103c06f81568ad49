#include "host_object.h"

#include <optional>
#include <string>

#include "control/utf_text.h"
#include "record_file_listing.h"
#include "tavolen/tavolen.h"

namespace tavolen::host {
namespace {

constexpr int32_t kListRecordFiles = 1;
constexpr int32_t kGetPlayVolume = 2;
constexpr int32_t kSetPlayVolume = 3;
constexpr int32_t kGetMute = 4;
constexpr int32_t kSetMute = 5;
constexpr int32_t kGetMicPlayVolume = 6;
constexpr int32_t kSetMicPlayVolume = 7;
constexpr int32_t kGetMicMute = 8;
constexpr int32_t kSetMicMute = 9;
constexpr int32_t kOnRecordFile = 1;

constexpr int32_t kMemberNotFound = static_cast<int32_t>(0x80020003u);
constexpr int32_t kBadParamCount = static_cast<int32_t>(0x8002000Eu);

const std::vector<MemberRow>& table() {
  static const std::vector<MemberRow> rows = [] {
    auto i4 = [](const char* name) { return MemberParam{name, "I4"}; };
    auto bstr = [](const char* name) { return MemberParam{name, "BSTR"}; };
    return std::vector<MemberRow>{
        {"listRecordFiles", kListRecordFiles, "method", "I4",
         {bstr("user"), bstr("pwd"), bstr("ip"), i4("port"), i4("year"), i4("month"), i4("day")}, ""},
        {"getPlayVolume", kGetPlayVolume, "method", "I4", {}, ""},
        {"setPlayVolume", kSetPlayVolume, "method", "I4", {i4("volume")}, ""},
        {"getMute", kGetMute, "method", "I4", {}, ""},
        {"setMute", kSetMute, "method", "I4", {i4("mute")}, ""},
        {"getMicPlayVolume", kGetMicPlayVolume, "method", "I4", {}, ""},
        {"setMicPlayVolume", kSetMicPlayVolume, "method", "I4", {i4("volume")}, ""},
        {"getMicMute", kGetMicMute, "method", "I4", {}, ""},
        {"setMicMute", kSetMicMute, "method", "I4", {i4("mute")}, ""},
        {"onRecordFile", kOnRecordFile, "event", "VOID", {bstr("fileName"), i4("size")}, ""},
    };
  }();
  return rows;
}

const MemberRow* findMethod(int32_t dispid) {
  for (const MemberRow& row : table())
    if (row.kind == "method" && row.dispid == dispid) return &row;
  return nullptr;
}

// An argument in its parameter's type: EMPTY reads as 0 or the empty text.
struct Arguments {
  std::vector<std::string> texts;
  std::vector<int32_t> numbers;
};

std::optional<Arguments> convert(const MemberRow& member, const std::vector<WireValue>& args) {
  Arguments out;
  for (size_t i = 0; i < args.size(); ++i) {
    const WireValue& value = args[i];
    if (member.params[i].type == "BSTR") {
      if (value.kind == WireValue::I4) return std::nullopt;
      out.texts.push_back(tavolen::utf16ToUtf8(value.text));
    } else {
      if (value.kind == WireValue::Text) return std::nullopt;
      out.numbers.push_back(value.i4);
    }
  }
  return out;
}

WireValue number(int32_t value) { return WireValue{WireValue::I4, value, {}}; }

}  // namespace

HostObject::HostObject(Deliver deliver, std::atomic<int>& liveObjects)
    : deliver_(std::move(deliver)), liveObjects_(liveObjects) {
  ++liveObjects_;
  calls_ = std::make_unique<Worker>();
  deliver_({readyMessage(members(), std::nullopt, {})});
}

HostObject::~HostObject() {
  closing_ = true;
  calls_.reset();  // a call in progress ends; queued ones see closing_ and skip
  --liveObjects_;
}

std::vector<MemberRow> HostObject::members() { return table(); }

void HostObject::handle(const PageMessage& message) {
  if (message.op != PageOp::Invoke) {
    deliver_({errorMessage({std::nullopt, kErrorInvalidMessage, "the host object takes calls only"})});
    return;
  }
  calls_->post([this, message] { invoke(message); });
}

void HostObject::invoke(const PageMessage& message) {
  if (closing_) return;
  const MemberRow* member = findMethod(message.dispid);
  if (!member || !(message.flags & 1)) {
    deliver_({errorMessage({message.id, kMemberNotFound, "unknown member"})});
    return;
  }
  if (message.args.size() != member->params.size()) {
    deliver_({errorMessage({message.id, kBadParamCount, "wrong number of arguments"})});
    return;
  }
  const std::optional<Arguments> args = convert(*member, message.args);
  if (!args) {
    deliver_({errorMessage({message.id, kErrorTypeMismatch, "type mismatch"})});
    return;
  }
  const std::vector<int32_t>& n = args->numbers;
  int32_t result = 0;
  switch (message.dispid) {
    case kListRecordFiles: {
      const CameraAccount camera{args->texts[0], args->texts[1], args->texts[2], n[0]};
      const auto files = listRecordFiles(camera, n[1], n[2], n[3]);
      if (!files) {
        result = -1;
        break;
      }
      for (const RecordFileRow& file : *files) {
        if (closing_) return;
        deliver_({eventMessage(kOnRecordFile, {WireValue{WireValue::Text, 0, tavolen::utf8ToUtf16(file.name)},
                                               number(file.size)})});
      }
      result = static_cast<int32_t>(files->size());
      break;
    }
    case kGetPlayVolume: result = x_player_getPlayVolume(); break;
    case kSetPlayVolume: result = x_player_setPlayVolume(n[0]); break;
    case kGetMute: result = x_player_getMute(); break;
    case kSetMute: result = x_player_setMute(n[0]); break;
    case kGetMicPlayVolume: result = x_player_getMicPlayVolume(); break;
    case kSetMicPlayVolume: result = x_player_setMicPlayVolume(n[0]); break;
    case kGetMicMute: result = x_player_getMicMute(); break;
    case kSetMicMute: result = x_player_setMicMute(n[0]); break;
  }
  deliver_({resultMessage(message.id, number(result))});
}

}  // namespace tavolen::host
