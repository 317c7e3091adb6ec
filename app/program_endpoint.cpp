// The endpoint of one program: compiled once per program, so that the copies of the program share
// every other object file.
#include "app/program_endpoint.h"

#include "build_config.h"

// A build may be given an endpoint of its own (the end-to-end tests' copies, one per loopback address).
#ifndef INTERNETSETUP_PROGRAM_ENDPOINT_HOST_W
#define INTERNETSETUP_PROGRAM_ENDPOINT_HOST_W INTERNETSETUP_ENDPOINT_HOST_W
#endif

namespace isetup {

const wchar_t* ProgramEndpointHost() { return INTERNETSETUP_PROGRAM_ENDPOINT_HOST_W; }

}  // namespace isetup
