#pragma once
// The control's members, written once: every method, property and event of
// the automation interface with its DISPID, name, parameters and types, and
// what invoke calls for it. Name lookup, the C member listing, and every
// host's bindings (the browser's script object included) come from this one
// const table.
//
// Pure data; any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/control_properties.h"
#include "tavolen/control.h"

namespace tavolen {

class CTavolenCtrl;

enum class MemberKind : int32_t {
  Method = TAVOLEN_MEMBER_METHOD,
  Property = TAVOLEN_MEMBER_PROPERTY,
  Event = TAVOLEN_MEMBER_EVENT,
};

// Name and type (TAVOLEN_VT_I4 or TAVOLEN_VT_BSTR) of a parameter.
using MemberParam = TavolenParamInfo;

// An argument after conversion to its parameter's type.
struct Argument {
  int32_t i4 = 0;
  std::string text;  // UTF-8
};
using Arguments = std::vector<Argument>;

// A result: I4, a UTF-8 text, or nothing.
struct Value {
  int32_t vt = TAVOLEN_VT_EMPTY;
  int32_t i4 = 0;
  std::string text;
};

struct Member {
  const char* name;
  int32_t dispid;
  MemberKind kind;
  int32_t type;  // result or property type; EMPTY for VOID and events
  std::span<const MemberParam> params;
  const char* helpString;
  // Methods: runs the operation on the UI thread (window created).
  int32_t (*method)(CTavolenCtrl& control, const Arguments& args);
  // Properties: the member behind it (one of the two is set).
  int32_t ControlProperties::*i4Field;
  std::string ControlProperties::*textField;
};

std::span<const Member> memberTable();

// The method or property of that DISPID, or null (events are not found).
const Member* findDispatchMember(int32_t dispid);
// The DISPID of a method or property, name compared without regard to ASCII
// case; -1 for any other name.
int32_t dispidOfName(std::string_view name);

// GetVersion: the project's major.minor, major in the high word (1.0: 0x10000).
inline constexpr int32_t kControlVersion = (TAVOLEN_VERSION_MAJOR << 16) | TAVOLEN_VERSION_MINOR;

// The type library's identities.
const TavolenLibraryInfo& libraryInfo();

}  // namespace tavolen
