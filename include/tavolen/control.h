/** @file
 * The control: one scriptable object that joins a camera link and a player
 * into a live view, with sound, talk, recording, snapshots, captions, SD-card
 * playback and LAN search. Hosts (the browser host, the desktop viewer, any
 * program) drive it by member name or DISPID through one entry point, and get
 * its two events back through one sink.
 *
 * Threading rules (they hold for every function below):
 * - Each control owns one UI thread. Every method, property access, posted
 *   report, timer and event of that control runs on it. Hosts never pump
 *   anything for the control.
 * - Any thread may call tavolen_control_invoke. A call from another thread is
 *   carried to the UI thread and waits there for its result; a call made on
 *   the UI thread itself (for example from inside the event sink) runs at once.
 * - The event sink is called on the control's UI thread, from the top of its
 *   loop, in the order the events were raised, never nested inside an invoke.
 * - Inside the sink a host may invoke its control, but must not destroy it, and
 *   must not wait for another thread that is itself calling into the control
 *   (that thread waits for the UI thread, which waits in the sink).
 * - Once tavolen_control_destroy has returned, the sink is not called again.
 *
 * Texts are UTF-16 code units with a length. A text result is allocated by the
 * library and released with tavolen_variant_clear. */
#ifndef TAVOLEN_CONTROL_H
#define TAVOLEN_CONTROL_H

#include "tavolen/types.h"
#include "tavolen/window.h"

TAVOLEN_BEGIN_DECLS

#define TAVOLEN_VT_EMPTY 0 /**< no value */
#define TAVOLEN_VT_I4 3    /**< a signed 32-bit integer */
#define TAVOLEN_VT_BSTR 8  /**< a UTF-16 text */

/** One argument or result. vt says which field holds the value: i4 for
 * TAVOLEN_VT_I4; bstr and bstrLength (code units, no terminator counted) for
 * TAVOLEN_VT_BSTR, where a null bstr is the empty text. */
typedef struct TavolenVariant {
  int32_t vt;           /**< TAVOLEN_VT_EMPTY, TAVOLEN_VT_I4 or TAVOLEN_VT_BSTR */
  int32_t i4;           /**< the integer of an I4 */
  const uint16_t* bstr; /**< the text's code units of a BSTR */
  int32_t bstrLength;   /**< the text's length in code units */
} TavolenVariant;

TAVOLEN_STATIC_ASSERT(offsetof(TavolenVariant, vt) == 0, "TavolenVariant.vt");
TAVOLEN_STATIC_ASSERT(offsetof(TavolenVariant, i4) == 4, "TavolenVariant.i4");
TAVOLEN_STATIC_ASSERT(offsetof(TavolenVariant, bstr) == 8, "TavolenVariant.bstr");
TAVOLEN_STATIC_ASSERT(offsetof(TavolenVariant, bstrLength) == 8 + sizeof(void*),
                      "TavolenVariant.bstrLength");
TAVOLEN_STATIC_ASSERT(sizeof(TavolenVariant) == (sizeof(void*) == 8 ? 24 : 16),
                      "TavolenVariant size");

/** Releases a text result and leaves the variant EMPTY. Safe on any variant the
 * library filled, and on an EMPTY or I4 one. */
TAVOLEN_API void tavolen_variant_clear(TavolenVariant* variant);

/** Invoke flags. 3 (method or property get) is what script engines send for a
 * call and is accepted for both. */
#define TAVOLEN_INVOKE_METHOD 1       /**< a method call */
#define TAVOLEN_INVOKE_PROPERTYGET 2  /**< a property read */
#define TAVOLEN_INVOKE_PROPERTYPUT 4  /**< a property write */

/** Invoke results. */
#define TAVOLEN_S_OK 0 /**< the operation ran */
/** No such member, or not for that flag. */
#define TAVOLEN_DISP_E_MEMBERNOTFOUND ((int32_t)0x80020003u)
/** An argument cannot be read as its parameter's type. */
#define TAVOLEN_DISP_E_TYPEMISMATCH ((int32_t)0x80020005u)
/** Too many or too few arguments. */
#define TAVOLEN_DISP_E_BADPARAMCOUNT ((int32_t)0x8002000Eu)

/** Event DISPIDs. */
#define TAVOLEN_DISPID_MESSAGENOTIFY 1 /**< the event MessageNotify */
/** The event OnCameraSearched. */
#define TAVOLEN_DISPID_ONCAMERASEARCHED 2

/** A control, as tavolen_control_create returns it. */
typedef struct TavolenControl TavolenControl;

/** Called on the control's UI thread for MessageNotify (dispid 1: lType,
 * lParame) and OnCameraSearched (dispid 2: iStatus, pszDevName, pszIpAddr,
 * iPort, iCmdPort, iDataPort, iIsSameSubNet), arguments in declared order.
 * The texts of args live for the duration of the call. */
typedef void (*TavolenEventSink)(void* user, int32_t dispid, const TavolenVariant* args,
                                 int32_t argCount);

/** A new control with its UI thread and its share of the process's LAN search.
 * sink may be NULL (events are then dropped). NULL when it cannot be made. */
TAVOLEN_API TavolenControl* tavolen_control_create(TavolenEventSink sink, void* user);

/** Activates the control in a window the host owns (off-screen or SDL): the
 * video window covers its client area, the settings file is loaded and the
 * four state properties are 0. The window must outlive the control. Returns
 * 1 done, 0 refused (unknown control or window, window already created).
 * Before this call, I4 methods return -1, VOID methods do nothing and
 * properties read 0 or the empty text. */
TAVOLEN_API int32_t tavolen_control_create_window(TavolenControl* control, TavolenWindow* window);

/** The DISPID of a method or property (name compared without regard to case),
 * or -1 for any other name, event names included. */
TAVOLEN_API int32_t tavolen_control_get_dispid(const char* name);

/** Calls a method, reads or writes a property. args in declared order (a put
 * passes the one new value). result may be NULL; otherwise it receives the
 * operation's result (EMPTY for a VOID method or a put) and must be released
 * with tavolen_variant_clear. An I4 parameter accepts a text holding a decimal
 * integer (optional sign, surrounding spaces), a text parameter accepts an I4,
 * EMPTY reads as 0 or the empty text. Returns TAVOLEN_S_OK, or one of the
 * TAVOLEN_DISP_E_* codes, in which case nothing ran. */
TAVOLEN_API int32_t tavolen_control_invoke(TavolenControl* control, int32_t dispid, int32_t flags,
                                           const TavolenVariant* args, int32_t argCount,
                                           TavolenVariant* result);

/** Tears the control down (window first if created: links, players and talk
 * stopped) and ends its UI thread. Must not be called from its own sink. */
TAVOLEN_API void tavolen_control_destroy(TavolenControl* control);

/* --- the member table, for hosts that build bindings at run time --- */

#define TAVOLEN_MEMBER_METHOD 1   /**< a method */
#define TAVOLEN_MEMBER_PROPERTY 2 /**< a property, read and written */
#define TAVOLEN_MEMBER_EVENT 3    /**< an event, raised through the sink */

/** One parameter of a member. */
typedef struct TavolenParamInfo {
  const char* name; /**< the parameter's name */
  int32_t type; /**< TAVOLEN_VT_I4 or TAVOLEN_VT_BSTR */
} TavolenParamInfo;

/** One method, property or event of the control. */
typedef struct TavolenMemberInfo {
  const char* name;   /**< the member's name */
  int32_t dispid;     /**< its DISPID */
  int32_t kind;       /**< TAVOLEN_MEMBER_* */
  int32_t type;       /**< result or property type; TAVOLEN_VT_EMPTY for VOID and events */
  int32_t paramCount; /**< number of parameters */
  const TavolenParamInfo* params; /**< paramCount parameters in declared order */
  const char* helpString; /**< NULL or the type library's help string */
} TavolenMemberInfo;

/** Number of members (methods, properties and events). */
TAVOLEN_API int32_t tavolen_control_member_count(void);
/** Fills out with member `index` (0 .. count-1). 1 done, 0 out of range or a
 * NULL out. The strings are static. */
TAVOLEN_API int32_t tavolen_control_member(int32_t index, TavolenMemberInfo* out);

/** The type library's identities; GUIDs as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". */
typedef struct TavolenLibraryInfo {
  const char* libraryGuid;      /**< the type library */
  const char* dispatchGuid;     /**< the methods' and properties' interface */
  const char* eventsGuid;       /**< the events' interface */
  const char* controlGuid;      /**< the control's class */
  const char* propertyPageGuid; /**< the property page's class */
  const char* progId;           /**< the control's programmatic name */
  const char* typeName;         /**< the control's type name */
  int32_t versionMajor;         /**< the type library's major version */
  int32_t versionMinor;         /**< the type library's minor version */
} TavolenLibraryInfo;

/** 1 done, 0 for a NULL out. The strings are static. */
TAVOLEN_API int32_t tavolen_control_library(TavolenLibraryInfo* out);

TAVOLEN_END_DECLS

#endif
