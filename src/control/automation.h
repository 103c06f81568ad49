#pragma once
// Invoke by DISPID: the checks and argument conversions automation performs
// before an operation runs, and the result handed back.
//
// Checks, in this order, each with its error (and then nothing runs):
// - the DISPID names a method or property       else DISP_E_MEMBERNOTFOUND
// - flags fit the member: 1 or 3 call a method, 2 or 3 read a property, 4
//   writes one; a put on a method, a get on a method without flag 1, a call
//   on a property, any other flags               else DISP_E_MEMBERNOTFOUND
// - the argument count: the method's parameters, 0 for a get, 1 for a put
//                                                 else DISP_E_BADPARAMCOUNT
// - each argument converts to its parameter's type else DISP_E_TYPEMISMATCH
//     to I4:   an I4; a text holding a decimal integer in range (optional
//              sign, surrounding white space); EMPTY reads 0
//     to text: a text; an I4 as its decimal text; EMPTY reads as empty
//   A fraction, hex, an out-of-range number, an empty text for an I4, or any
//   other variant type is a mismatch.
//
// prepareInvoke runs on the caller's thread (it reads the caller's texts);
// runInvoke on the control's UI thread. Before the control's window exists a
// method returns -1 (I4) or nothing (VOID), a property reads 0 or the empty
// text and a property write is accepted and ignored.

#include <cstdint>

#include "control/member_table.h"
#include "tavolen/control.h"

namespace tavolen {

// Longest part of a text argument converted: past it no field could use more.
inline constexpr int32_t kMaxTextArgumentUnits = 2048;

struct PreparedInvoke {
  enum class Op { Call, Get, Put };
  const Member* member = nullptr;
  Op op = Op::Call;
  Arguments args;
};

// TAVOLEN_S_OK with out filled, or one of the DISP_E codes.
int32_t prepareInvoke(int32_t dispid, int32_t flags, const TavolenVariant* args, int32_t argCount,
                      PreparedInvoke& out);

Value runInvoke(CTavolenCtrl& control, const PreparedInvoke& call);

// Writes value into out (a text as a new UTF-16 buffer that
// tavolen_variant_clear releases).
void storeResult(const Value& value, TavolenVariant* out);

// The conversions alone, for tests: false on a type mismatch.
bool convertToI4(const TavolenVariant& v, int32_t& out);
bool convertToText(const TavolenVariant& v, std::string& out);

}  // namespace tavolen
