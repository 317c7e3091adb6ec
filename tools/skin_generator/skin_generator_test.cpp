// Checks the generator's pictures, BMP encoding, container layout and compression.
#include <gtest/gtest.h>

#include <string>

#include "tools/skin_generator/skin_artwork.h"
#include "tools/skin_generator/skin_file_format.h"

namespace isetup::skingen {
namespace {

std::uint32_t U32(const Bytes& data, std::size_t at) {
  return data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) | (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

int Brightness(std::uint32_t c) { return ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF); }

TEST(EncodeBmp, WritesHeadersAndBottomUpRows) {
  Canvas canvas(3, 2, Rgb(0x000000));
  canvas.at(0, 0) = Rgb(0x112233);  // top-left
  canvas.at(0, 1) = Rgb(0x445566);  // bottom-left
  const Bytes bmp = EncodeBmp(canvas);
  ASSERT_EQ(bmp.size(), 54u + 3 * 2 * 4);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(U32(bmp, 2), bmp.size());
  EXPECT_EQ(U32(bmp, 10), 54u);
  EXPECT_EQ(U32(bmp, 14), 40u);
  EXPECT_EQ(U32(bmp, 18), 3u);
  EXPECT_EQ(U32(bmp, 22), 2u);
  EXPECT_EQ(bmp[28], 32);
  EXPECT_EQ(U32(bmp, 54), 0xFF445566u);       // first stored row is the bottom one
  EXPECT_EQ(U32(bmp, 54 + 12), 0xFF112233u);  // then the top row
}

TEST(Container, FieldsSitAtTheDocumentedOffsets) {
  const std::string description = SkinDescriptionText();
  const Bytes c = BuildContainer(DrawFramePicture(), DrawMaskPicture(), {DrawControlPicture()}, description);
  EXPECT_EQ(U32(c, 0), 3u);
  EXPECT_EQ(c[4], 0);  // frame follows
  EXPECT_EQ(c[5], 'B');
  EXPECT_EQ(U32(c, 7), 1014002u);
  EXPECT_EQ(c[1014007], 1);  // no inactive frame
  EXPECT_EQ(c[1014008], 0);  // mask follows
  EXPECT_EQ(U32(c, 1014011), 1014002u);
  EXPECT_EQ(U32(c, 2028011), 1u);  // one control picture
  EXPECT_EQ(U32(c, 2028017), 56358u);
  ASSERT_EQ(c.size(), 2084373u + description.size());
  EXPECT_EQ(std::string(c.begin() + 2084373, c.end()), description);
}

TEST(Description, UsesCrLfLineEndsOnly) {
  const std::string text = SkinDescriptionText();
  ASSERT_FALSE(text.empty());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
    if (text[i] == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
    }
  }
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(Artwork, FrameHasHeaderGradientAndEdgeLines) {
  const Canvas frame = DrawFramePicture();
  struct Case {
    int x, y;
    std::uint32_t rgb;
  };
  const Case cases[] = {
      {300, 0, 0x4A6A91},  {300, 1, 0x6F91BB}, {300, 39, 0x3E5D81},
      {0, 100, 0xD9E0E7},  {628, 100, 0xD9E0E7}, {300, 402, 0xD9E0E7}, {0, 40, 0xD9E0E7},
      {300, 200, 0xFFFFFF}, {1, 401, 0xFFFFFF},  {627, 60, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(frame.at(c.x, c.y), Rgb(c.rgb)) << c.x << "," << c.y;
  }
  // The gradient darkens downwards, and the mark on the left makes its area brighter than the band.
  EXPECT_GT(Brightness(frame.at(300, 10)), Brightness(frame.at(300, 30)));
  EXPECT_EQ(frame.at(628, 20), frame.at(300, 20));  // header band has no side lines
  int brighter = 0;
  for (int y = 1; y < 40; ++y) {
    for (int x = 0; x < 80; ++x) brighter += Brightness(frame.at(x, y)) > Brightness(frame.at(300, y)) ? 1 : 0;
  }
  EXPECT_GT(brighter, 100);
}

TEST(Artwork, MaskCutsOnlyTheTwoTopCornersSymmetrically) {
  const Canvas mask = DrawMaskPicture();
  EXPECT_EQ(mask.at(0, 0), Rgb(0xFFFFFF));
  EXPECT_EQ(mask.at(628, 0), Rgb(0xFFFFFF));
  EXPECT_EQ(mask.at(0, 3), Rgb(0xFFFFFF));
  EXPECT_EQ(mask.at(0, 4), Rgb(0x000000));
  EXPECT_EQ(mask.at(5, 5), Rgb(0x000000));
  EXPECT_EQ(mask.at(6, 0), Rgb(0x000000));
  EXPECT_EQ(mask.at(0, 402), Rgb(0x000000));  // bottom corners stay square
  int cut = 0;
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      if (mask.at(x, y) != Rgb(0x000000)) {
        ++cut;
        EXPECT_TRUE(y < 6 && (x < 6 || x >= 623)) << x << "," << y;
        EXPECT_EQ(mask.at(x, y), mask.at(mask.width - 1 - x, y));
      }
    }
  }
  EXPECT_EQ(cut % 2, 0);
  EXPECT_GT(cut, 6);
}

TEST(Artwork, ControlPictureHasThreeDistinctButtonsAndTheStrips) {
  const Canvas controls = DrawControlPicture();
  EXPECT_EQ(controls.at(0, 10), Rgb(0x45688E));  // border of the normal image
  EXPECT_EQ(controls.at(46, 1), Rgb(0x698CB1));  // gradient top
  EXPECT_EQ(controls.at(46, 23), Rgb(0x5379A0));  // gradient bottom
  EXPECT_GT(Brightness(controls.at(0, 0)), Brightness(controls.at(0, 10)));  // lighter corner
  for (int y : {1, 12, 23}) {
    const int normal = Brightness(controls.at(46, y));
    EXPECT_GT(Brightness(controls.at(92 + 46, y)), normal) << y;   // mouse over is lighter
    EXPECT_LT(Brightness(controls.at(184 + 46, y)), normal) << y;  // pressed is darker
  }
  EXPECT_EQ(controls.at(15, 50), Rgb(0x5F7D9D));
  EXPECT_EQ(controls.at(155, 50), Rgb(0x5F7D9D));
  EXPECT_EQ(controls.at(15, 49), Rgb(0xFFFFFF));
  EXPECT_EQ(controls.at(191, 50), Rgb(0xD9E0E7));
  EXPECT_EQ(controls.at(220, 50), Rgb(0xD9E0E7));
  EXPECT_EQ(controls.at(240, 40), Rgb(0xFFFFFF));  // label background
}

}  // namespace
}  // namespace isetup::skingen
