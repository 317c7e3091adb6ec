// The host[:port] of the version endpoint this program asks: the build's, or the one a test copy of
// the program was given. Defined in program_endpoint.cpp, which each program compiles on its own.
#pragma once

namespace isetup {

const wchar_t* ProgramEndpointHost();

}  // namespace isetup
