// Label text placement: the three alignments, the odd-height lift and the plain inset.
#include "ui/text_placement.h"

#include <gtest/gtest.h>

namespace isetup::ui {
namespace {

TEST(PlaceText, AlignmentsInsideAnOffsetBox) {
  const Box box{18, 3, 422, 17};  // the plain status line's text box
  struct Case {
    TextAlignment alignment;
    Size text;
    int fontHeight;
    Point origin;
  } const cases[] = {
      {TextAlignment::Center, {100, 18}, 16, {170, 1}},  {TextAlignment::Center, {101, 19}, 16, {170, 1}},
      {TextAlignment::Left, {100, 18}, 16, {18, 1}},     {TextAlignment::Right, {100, 18}, 16, {322, 1}},
      {TextAlignment::Center, {100, 16}, 13, {170, 1}},  {TextAlignment::Center, {100, 15}, 13, {170, 2}},
      // Wider than the box: centred text overhangs both edges, right-aligned text the left one.
      {TextAlignment::Center, {500, 18}, 16, {-30, 1}},  {TextAlignment::Right, {500, 18}, 16, {-78, 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlaceText(box, c.text, c.alignment, c.fontHeight), c.origin)
        << static_cast<int>(c.alignment) << " " << c.text.width << "x" << c.text.height << " font " << c.fontHeight;
  }
}

TEST(CentredStart, TruncatesEachHalfTowardZero) {
  EXPECT_EQ(CentredStart(0, 7, 3), 2);     // 3 − 1
  EXPECT_EQ(CentredStart(0, 3, 7), -2);    // 1 − 3
  EXPECT_EQ(CentredStart(10, -7, 0), 7);   // 10 + (−3)
  EXPECT_EQ(CentredStart(0, 0, -5), 2);    // 0 − (−2)
}

TEST(LabelTextBox, PlainInsetsThreeSkinnedKeepsTheBox) {
  const Box label{15, 0, 425, 20};
  EXPECT_EQ(LabelTextBox(label, false), (Box{18, 3, 422, 17}));
  EXPECT_EQ(LabelTextBox(label, true), label);
}

}  // namespace
}  // namespace isetup::ui
