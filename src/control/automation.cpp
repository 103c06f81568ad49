#include "control/automation.h"

#include <algorithm>
#include <cstring>

#include "control/settings_file.h"
#include "control/tavolen_ctrl.h"
#include "control/utf_text.h"

namespace tavolen {

namespace {

bool isWhite(char16_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::u16string_view textOf(const TavolenVariant& v) {
  if (!v.bstr || v.bstrLength <= 0) return {};
  return {reinterpret_cast<const char16_t*>(v.bstr), static_cast<size_t>(v.bstrLength)};
}

bool parseDecimal(std::u16string_view s, int32_t& out) {
  while (!s.empty() && isWhite(s.front())) s.remove_prefix(1);
  while (!s.empty() && isWhite(s.back())) s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  int64_t value = 0;
  for (char16_t c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return false;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return false;
  out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

bool convertToI4(const TavolenVariant& v, int32_t& out) {
  switch (v.vt) {
    case TAVOLEN_VT_EMPTY:
      out = 0;
      return true;
    case TAVOLEN_VT_I4:
      out = v.i4;
      return true;
    case TAVOLEN_VT_BSTR:
      return v.bstrLength >= 0 && parseDecimal(textOf(v), out);
    default:
      return false;
  }
}

bool convertToText(const TavolenVariant& v, std::string& out) {
  switch (v.vt) {
    case TAVOLEN_VT_EMPTY:
      out.clear();
      return true;
    case TAVOLEN_VT_I4:
      out = std::to_string(v.i4);
      return true;
    case TAVOLEN_VT_BSTR: {
      if (v.bstrLength < 0) return false;
      const std::u16string_view t = textOf(v);
      out = utf16ToUtf8(t.substr(0, static_cast<size_t>(kMaxTextArgumentUnits)));
      return true;
    }
    default:
      return false;
  }
}

int32_t prepareInvoke(int32_t dispid, int32_t flags, const TavolenVariant* args, int32_t argCount,
                      PreparedInvoke& out) {
  const Member* m = findDispatchMember(dispid);
  if (!m) return TAVOLEN_DISP_E_MEMBERNOTFOUND;
  const bool method = m->kind == MemberKind::Method;
  size_t expected = 0;
  if (method && (flags == TAVOLEN_INVOKE_METHOD || flags == 3)) {
    out.op = PreparedInvoke::Op::Call;
    expected = m->params.size();
  } else if (!method && (flags == TAVOLEN_INVOKE_PROPERTYGET || flags == 3)) {
    out.op = PreparedInvoke::Op::Get;
  } else if (!method && flags == TAVOLEN_INVOKE_PROPERTYPUT) {
    out.op = PreparedInvoke::Op::Put;
    expected = 1;
  } else {
    return TAVOLEN_DISP_E_MEMBERNOTFOUND;
  }
  if (argCount < 0 || static_cast<size_t>(argCount) != expected || (argCount > 0 && !args))
    return TAVOLEN_DISP_E_BADPARAMCOUNT;

  out.member = m;
  out.args.assign(expected, Argument{});
  for (size_t i = 0; i < expected; ++i) {
    const int32_t type = out.op == PreparedInvoke::Op::Put ? m->type : m->params[i].type;
    const bool ok = type == TAVOLEN_VT_I4 ? convertToI4(args[i], out.args[i].i4)
                                          : convertToText(args[i], out.args[i].text);
    if (!ok) return TAVOLEN_DISP_E_TYPEMISMATCH;
  }
  return TAVOLEN_S_OK;
}

Value runInvoke(CTavolenCtrl& control, const PreparedInvoke& call) {
  const Member& m = *call.member;
  Value result;
  const bool ready = control.hasWindow();
  ControlProperties& props = control.properties();
  switch (call.op) {
    case PreparedInvoke::Op::Call:
      if (m.type == TAVOLEN_VT_I4) {
        result.vt = TAVOLEN_VT_I4;
        result.i4 = ready ? m.method(control, call.args) : -1;
      } else if (ready) {
        m.method(control, call.args);
      }
      break;
    case PreparedInvoke::Op::Get:
      result.vt = m.type;
      if (ready && m.i4Field) result.i4 = props.*m.i4Field;
      if (ready && m.textField) result.text = props.*m.textField;
      break;
    case PreparedInvoke::Op::Put:
      if (!ready) break;
      if (m.i4Field) props.*m.i4Field = call.args[0].i4;
      if (m.textField) props.*m.textField = std::string(cutUtf8(call.args[0].text, kSetPathMaxBytes));
      props.setModified();
      break;
  }
  return result;
}

void storeResult(const Value& value, TavolenVariant* out) {
  *out = TavolenVariant{TAVOLEN_VT_EMPTY, 0, nullptr, 0};
  if (value.vt == TAVOLEN_VT_I4) {
    out->vt = TAVOLEN_VT_I4;
    out->i4 = value.i4;
  } else if (value.vt == TAVOLEN_VT_BSTR) {
    const std::u16string text = utf8ToUtf16(value.text, SIZE_MAX);
    auto* buffer = new uint16_t[text.size() + 1];
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    out->vt = TAVOLEN_VT_BSTR;
    out->bstr = buffer;
    out->bstrLength = static_cast<int32_t>(text.size());
  }
}

}  // namespace tavolen
