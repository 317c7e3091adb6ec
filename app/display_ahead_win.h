// Connecting to the display ahead of the first window, beside the connectivity check.
#pragma once

namespace isetup {

// Starts connecting the process to the display on a thread of its own (nothing when no thread can be
// had): under Wine the first window otherwise pays for loading the display driver and opening its
// connection after the connectivity answer. Once, first thing.
void StartConnectingToTheDisplay();

// Waits, at most a few seconds, until that thread is done, so that the process never ends while it is
// inside the display driver. Before the exit.
void FinishConnectingToTheDisplay();

}  // namespace isetup
