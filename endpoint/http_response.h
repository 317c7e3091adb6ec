// The status line and header block of a response.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace isetup::endpoint {

// "Not Found" for 404; "Unknown" for a status without a phrase of its own.
std::string_view ReasonPhrase(int status);

// "Tue, 08 Dec 2026 21:00:00 GMT".
std::string FormatHttpDate(std::chrono::system_clock::time_point time);

struct ResponseHead {
  int status = 200;
  std::string contentType;
  std::uint64_t contentLength = 0;  // sent for HEAD too: the length a GET would get
  bool close = false;               // "Connection: close"
  std::vector<std::pair<std::string, std::string>> extra;  // further headers, in order
};

// A body: shared bytes, with a few stretches replaced on the way out (the stamped affiliate tags), so
// that every download shares the one copy of the installer in memory.
struct BodyPatch {
  std::size_t offset = 0;
  std::string value;
};
struct ResponseBody {
  std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  std::vector<BodyPatch> patches;
};

// Bytes [offset, offset + piece.size()) of the body as sent: `piece` holds the plain bytes and gets the
// patches that overlap it.
void ApplyPatches(const std::vector<BodyPatch>& patches, std::size_t offset, std::string& piece);

// "HTTP/1.1 200 OK\r\n" and the headers, Date and Content-Length always, ending with the empty line.
std::string FormatResponseHead(const ResponseHead& head, std::chrono::system_clock::time_point now);

}  // namespace isetup::endpoint
