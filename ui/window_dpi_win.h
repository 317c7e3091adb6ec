// Per-monitor DPI awareness and a window's DPI, through whichever of the system's calls exist (each looked
// up at run time: older systems lack the newer ones).
#pragma once

#include <windows.h>

namespace isetup::ui {

// Makes the process per-monitor DPI aware (version 2, else version 1), else system DPI aware; call before
// the first window. When the awareness is set already (the manifest declares it), nothing more is tried
// and the answer is whether the process is aware. False when none could be set.
bool DeclareDpiAwareness();

// GetDpiForWindow where the system has it, else the LOGPIXELSY of the window's DC; 96 when neither answers.
int WindowDpi(HWND window);

}  // namespace isetup::ui
