// Separable resampling in exact integer arithmetic: every output pixel is a weighted sum of source pixels
// with integer weights over one common denominator per axis, so results are the same on every build and
// round exactly.
#include "ui/picture_scale.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace isetup::ui {
namespace {

struct Tap {
  int index;
  std::int64_t weight;
};

// The taps of every output index along one axis; the weights of each index sum to denominator.
struct AxisFilter {
  std::int64_t denominator = 1;
  std::vector<std::vector<Tap>> taps;
};

AxisFilter MakeAxisFilter(int from, int to) {
  AxisFilter filter;
  filter.taps.resize(static_cast<std::size_t>(to));
  if (from == to) {
    for (int i = 0; i < to; ++i) filter.taps[static_cast<std::size_t>(i)] = {{i, 1}};
  } else if (to < from) {
    // Area averaging. In units of 1/to of a source pixel (source pixel j spans [j·to, (j+1)·to)),
    // output pixel i spans [i·from, (i+1)·from): the overlaps are whole numbers summing to from.
    filter.denominator = from;
    for (int i = 0; i < to; ++i) {
      const std::int64_t begin = static_cast<std::int64_t>(i) * from;
      const std::int64_t end = begin + from;
      for (int j = static_cast<int>(begin / to); j < from && static_cast<std::int64_t>(j) * to < end; ++j) {
        const std::int64_t left = std::max<std::int64_t>(begin, static_cast<std::int64_t>(j) * to);
        const std::int64_t right = std::min<std::int64_t>(end, static_cast<std::int64_t>(j + 1) * to);
        if (right > left) filter.taps[static_cast<std::size_t>(i)].push_back({j, right - left});
      }
    }
  } else {
    // Bilinear. The centre of output pixel i lies at source position ((2i+1)·from − to) / (2·to),
    // counted from the centre of source pixel 0; outside the first and last centres the edge pixel holds.
    const std::int64_t twice = 2LL * to;
    filter.denominator = twice;
    for (int i = 0; i < to; ++i) {
      const std::int64_t position = (2LL * i + 1) * from - to;
      std::vector<Tap>& taps = filter.taps[static_cast<std::size_t>(i)];
      if (position <= 0) {
        taps = {{0, twice}};
        continue;
      }
      const int j = static_cast<int>(position / twice);
      const std::int64_t fraction = position % twice;
      if (j >= from - 1) {
        taps = {{from - 1, twice}};
      } else if (fraction == 0) {
        taps = {{j, twice}};
      } else {
        taps = {{j, twice - fraction}, {j + 1, fraction}};
      }
    }
  }
  return filter;
}

// Alpha, then red, green and blue each multiplied by alpha.
using Sums = std::array<std::int64_t, 4>;

std::int64_t RoundedQuotient(std::int64_t numerator, std::int64_t denominator) {
  return (2 * numerator + denominator) / (2 * denominator);
}

}  // namespace

SkinPicture ResamplePicture(const SkinPicture& source, Size size) {
  const bool sourceValid = source.width > 0 && source.height > 0 && source.width <= kMaxSkinPictureSide &&
                           source.height <= kMaxSkinPictureSide &&
                           source.pixels.size() == static_cast<std::size_t>(source.width) * source.height;
  if (!sourceValid || size.width <= 0 || size.height <= 0 || size.width > kMaxSkinPictureSide ||
      size.height > kMaxSkinPictureSide) {
    return {};
  }
  if (size == source.size()) return source;

  bool alphaUsed = false;
  for (const std::uint32_t pixel : source.pixels) alphaUsed = alphaUsed || (pixel >> 24) != 0;

  const AxisFilter across = MakeAxisFilter(source.width, size.width);
  const AxisFilter down = MakeAxisFilter(source.height, size.height);

  // Horizontal pass into premultiplied sums, one row of the source at a time.
  std::vector<Sums> rows(static_cast<std::size_t>(size.width) * source.height);
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      Sums sums{};
      for (const Tap& tap : across.taps[static_cast<std::size_t>(x)]) {
        const std::uint32_t pixel = source.at(tap.index, y);
        const std::int64_t alpha = alphaUsed ? (pixel >> 24) : 0xFF;
        const std::int64_t weight = tap.weight * alpha;
        sums[0] += weight;
        sums[1] += weight * ((pixel >> 16) & 0xFF);
        sums[2] += weight * ((pixel >> 8) & 0xFF);
        sums[3] += weight * (pixel & 0xFF);
      }
      rows[static_cast<std::size_t>(y) * size.width + x] = sums;
    }
  }

  SkinPicture out;
  out.width = size.width;
  out.height = size.height;
  out.pixels.resize(static_cast<std::size_t>(size.width) * size.height);
  const std::int64_t denominator = across.denominator * down.denominator;
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      Sums sums{};
      for (const Tap& tap : down.taps[static_cast<std::size_t>(y)]) {
        const Sums& row = rows[static_cast<std::size_t>(tap.index) * size.width + x];
        for (std::size_t c = 0; c < sums.size(); ++c) sums[c] += tap.weight * row[c];
      }
      std::uint32_t pixel = 0;
      if (sums[0] > 0) {
        const std::int64_t alpha = alphaUsed ? RoundedQuotient(sums[0], denominator) : 0;
        pixel = static_cast<std::uint32_t>(alpha) << 24 |
                static_cast<std::uint32_t>(RoundedQuotient(sums[1], sums[0])) << 16 |
                static_cast<std::uint32_t>(RoundedQuotient(sums[2], sums[0])) << 8 |
                static_cast<std::uint32_t>(RoundedQuotient(sums[3], sums[0]));
      }
      out.pixels[static_cast<std::size_t>(y) * size.width + x] = pixel;
    }
  }
  return out;
}

SkinPicture CropPicture(const SkinPicture& source, const Box& area) {
  if (area.width() <= 0 || area.height() <= 0 || !source.Contains(area) ||
      source.pixels.size() != static_cast<std::size_t>(source.width) * source.height) {
    return {};
  }
  SkinPicture out;
  out.width = area.width();
  out.height = area.height();
  out.pixels.reserve(static_cast<std::size_t>(out.width) * out.height);
  for (int y = area.top; y < area.bottom; ++y) {
    const auto row = source.pixels.begin() + static_cast<std::ptrdiff_t>(y) * source.width;
    out.pixels.insert(out.pixels.end(), row + area.left, row + area.right);
  }
  return out;
}

}  // namespace isetup::ui
