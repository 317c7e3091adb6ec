// Starting the download worker and the status monitor with their Win32 bindings.
#pragma once

namespace isetup {

struct SetupRun;
class SyncCallQueue;
class TInternetSetupForm;

// Each returns false when its thread could not be created. The threads live until the process ends.
bool StartDownloadThread(SetupRun& run, SyncCallQueue& sync, TInternetSetupForm& form);
bool StartStatusThread(SetupRun& run, SyncCallQueue& sync, TInternetSetupForm& form);

}  // namespace isetup
