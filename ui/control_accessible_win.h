// What assistive technology learns of the window's controls: each answers WM_GETOBJECT(OBJID_CLIENT) with
// the system's standard client object, its role, name and value replaced, and announces its changes.
#pragma once

#include <windows.h>
// After windows.h: ROLE_SYSTEM_* and the IAccessible declarations.
#include <oleacc.h>

namespace isetup::ui {

// Sent by a control's accessible object to the control: write the accessible value, NUL-terminated, into the
// buffer of wParam characters at lParam and return its length (0: no value).
inline constexpr UINT kGetAccessibleValue = WM_USER + 0x100;

// The answer to WM_GETOBJECT. For OBJID_CLIENT: the standard client object of hwnd with role (a
// ROLE_SYSTEM_* value), the window text as its name and, when hasValue, the control's answer to
// kGetAccessibleValue as its value. 0 for other objects or when the object cannot be made; the caller then
// leaves the message to DefWindowProcW.
LRESULT AnswerAccessibleObject(HWND hwnd, WPARAM wParam, LPARAM lParam, LONG role, bool hasValue);

// NotifyWinEvent(event, hwnd, OBJID_CLIENT, CHILDID_SELF), for EVENT_OBJECT_NAMECHANGE and
// EVENT_OBJECT_VALUECHANGE.
void NotifyClientChange(HWND hwnd, DWORD event);

}  // namespace isetup::ui
