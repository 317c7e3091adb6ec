// Stack blur with running sums: each pixel costs a constant amount of work whatever the radius.
#include "ui/stack_blur.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace isetup::ui {
namespace {

int Channel(std::uint32_t pixel, int channel) { return static_cast<int>((pixel >> (8 * channel)) & 0xFFu); }

// Blurs one line of count pixels, step apart, through a copy of it in scratch.
void BlurLine(std::uint32_t* line, std::ptrdiff_t step, int count, int radius, std::vector<std::uint32_t>& scratch) {
  scratch.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) scratch[static_cast<std::size_t>(i)] = line[i * step];
  const auto at = [&](int i) { return scratch[static_cast<std::size_t>(std::clamp(i, 0, count - 1))]; };
  const int divisor = (radius + 1) * (radius + 1);

  // sum: the weighted total for the current pixel x; trailing: pixels x − radius .. x, which each lose
  // one unit of weight when x moves on; leading: pixels x + 1 .. x + radius + 1, which each gain one.
  int sum[4] = {}, trailing[4] = {}, leading[4] = {};
  for (int i = -radius; i <= radius + 1; ++i) {
    const std::uint32_t pixel = at(i);
    const int weight = radius + 1 - (i < 0 ? -i : i);
    for (int c = 0; c < 4; ++c) {
      const int value = Channel(pixel, c);
      if (weight > 0) sum[c] += weight * value;
      if (i <= 0) trailing[c] += value;
      else leading[c] += value;
    }
  }
  for (int x = 0; x < count; ++x) {
    std::uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
      out |= static_cast<std::uint32_t>((sum[c] + divisor / 2) / divisor) << (8 * c);
    }
    line[x * step] = out;
    const std::uint32_t leaving = at(x - radius);
    const std::uint32_t middle = at(x + 1);
    const std::uint32_t entering = at(x + radius + 2);
    for (int c = 0; c < 4; ++c) {
      sum[c] += leading[c] - trailing[c];
      trailing[c] += Channel(middle, c) - Channel(leaving, c);
      leading[c] += Channel(entering, c) - Channel(middle, c);
    }
  }
}

}  // namespace

bool StackBlur(std::span<std::uint32_t> pixels, int width, int height, int radius) {
  if (width <= 0 || height <= 0 || radius < 0 || radius > kMaxStackBlurRadius) return false;
  if (pixels.size() / static_cast<std::size_t>(width) != static_cast<std::size_t>(height) ||
      pixels.size() % static_cast<std::size_t>(width) != 0) {
    return false;
  }
  if (radius == 0) return true;
  std::vector<std::uint32_t> scratch;
  for (int y = 0; y < height; ++y) {
    BlurLine(pixels.data() + static_cast<std::size_t>(y) * width, 1, width, radius, scratch);
  }
  for (int x = 0; x < width; ++x) BlurLine(pixels.data() + x, width, height, radius, scratch);
  return true;
}

SkinPicture StackBlurred(const SkinPicture& picture, int radius) {
  SkinPicture copy = picture;
  if (!StackBlur(copy.pixels, copy.width, copy.height, radius)) return picture;
  return copy;
}

}  // namespace isetup::ui
