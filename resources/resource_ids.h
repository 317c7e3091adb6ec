// Ids of the program's own resources, shared by internetsetup.rc and the code that reads them.
#pragma once

// The stored skin of the setup window (raw data, a zlib stream): resources/tlvm.skn.
#define INTERNETSETUP_STORED_SKIN_ID 3
