// zlib inflation of the stored skin, grown chunk by chunk so the ceiling holds before memory is taken.
#include "ui/skin_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string>

namespace isetup::ui {

SkinResult<std::vector<std::uint8_t>> InflateSkin(std::span<const std::uint8_t> compressed, std::size_t limit) {
  using Result = SkinResult<std::vector<std::uint8_t>>;
  if (compressed.size() > UINT_MAX) return Result::Fail("inflate: input too large");

  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return Result::Fail("inflate: zlib could not start");
  // zlib's input pointer is not const, but inflate only reads through it.
  stream.next_in = const_cast<Bytef*>(compressed.data());
  stream.avail_in = static_cast<uInt>(compressed.size());

  std::vector<std::uint8_t> out;
  constexpr std::size_t kChunk = 256 * 1024;
  int status = Z_OK;
  while (status == Z_OK) {
    if (out.size() >= limit) {
      inflateEnd(&stream);
      return Result::Fail("inflate: skin larger than the limit");
    }
    const std::size_t used = out.size();
    // One byte past the limit is room enough to notice a stream that does not stop there.
    const std::size_t grow = std::min(kChunk, limit - used + 1);
    out.resize(used + grow);
    stream.next_out = out.data() + used;
    stream.avail_out = static_cast<uInt>(grow);
    status = inflate(&stream, Z_NO_FLUSH);
    out.resize(used + (grow - stream.avail_out));
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;  // input ended before the stream did
    if (status == Z_BUF_ERROR) status = Z_OK;                  // no progress possible yet: more room
  }
  const bool complete = status == Z_STREAM_END;
  const bool trailing = stream.avail_in != 0;
  inflateEnd(&stream);
  if (!complete) return Result::Fail("inflate: damaged or incomplete zlib stream");
  if (trailing) return Result::Fail("inflate: bytes after the end of the zlib stream");
  if (out.size() > limit) return Result::Fail("inflate: skin larger than the limit");
  return Result::Ok(std::move(out));
}

}  // namespace isetup::ui
