// The declared components and the align-with-margins layout of the window's client area.
#include "ui/setup_form_layout.h"

#include <gtest/gtest.h>

#include <set>

namespace isetup::ui {
namespace {

TEST(LayOutSetupForm, BoxesWithTheDesignedAndTheSkinnedGaugeHeight) {
  struct Case {
    int gaugeHeight;
    Box gauge;
  } const cases[] = {{25, {15, 26, 425, 51}}, {17, {15, 26, 425, 43}}};
  for (const Case& c : cases) {
    const SetupFormBoxes boxes = LayOutSetupForm({440, 97}, c.gaugeHeight);
    EXPECT_EQ(boxes.label, (Box{15, 0, 425, 20}));
    EXPECT_EQ(boxes.gauge, c.gauge) << c.gaugeHeight;
    EXPECT_EQ(boxes.cancelButton, (Box{160, 62, 280, 87}));
  }
}

TEST(LayOutSetupForm, BoxesFollowTheClientSize) {
  const SetupFormBoxes boxes = LayOutSetupForm({500, 120}, 25);
  EXPECT_EQ(boxes.label, (Box{15, 0, 485, 20}));
  EXPECT_EQ(boxes.gauge, (Box{15, 26, 485, 51}));
  EXPECT_EQ(boxes.cancelButton, (Box{160, 85, 340, 110}));
  // Too narrow for the button's margins: it shrinks to nothing rather than turning inside out.
  const SetupFormBoxes narrow = LayOutSetupForm({300, 97}, 25);
  EXPECT_EQ(narrow.cancelButton.width(), 0);
}

TEST(LayOutAligned, StacksTopsByDesignTopAndBottomsByDesignBottom) {
  const AlignItem items[] = {
      {Align::Top, {0, 50, 10, 10}, {1, 2, 3, 4}},    // second from the top
      {Align::Bottom, {0, 80, 10, 5}, {0, 1, 0, 2}},  // lowest design bottom: second from the bottom
      {Align::Top, {0, 0, 10, 20}, {0, 0, 0, 0}},     // first from the top
      {Align::Bottom, {0, 90, 10, 6}, {0, 0, 0, 0}},  // first from the bottom
      {Align::None, {7, 8, 9, 10}, {}},
      {Align::Top, {0, 50, 10, 3}, {0, 0, 0, 0}},     // same top as the first item: after it
  };
  const std::vector<Box> boxes = LayOutAligned(items, Box{0, 0, 100, 100});
  ASSERT_EQ(boxes.size(), std::size(items));
  EXPECT_EQ(boxes[2], (Box{0, 0, 100, 20}));
  EXPECT_EQ(boxes[0], (Box{1, 22, 97, 32}));
  EXPECT_EQ(boxes[5], (Box{0, 36, 100, 39}));
  EXPECT_EQ(boxes[3], (Box{0, 94, 100, 100}));
  EXPECT_EQ(boxes[1], (Box{0, 87, 100, 92}));
  EXPECT_EQ(boxes[4], (Box{7, 8, 16, 18}));
}

TEST(LayOutAligned, UsesTheClientOrigin) {
  const AlignItem items[] = {{Align::Top, {0, 0, 10, 10}, {}}, {Align::Bottom, {0, 0, 10, 10}, {}}};
  const std::vector<Box> boxes = LayOutAligned(items, Box{100, 200, 150, 300});
  EXPECT_EQ(boxes[0], (Box{103, 203, 147, 213}));
  EXPECT_EQ(boxes[1], (Box{103, 287, 147, 297}));
}

TEST(SetupFormComponents, EachRoleIsDeclaredOnceAndFoundByIt) {
  const auto components = SetupFormComponents();
  ASSERT_EQ(components.size(), 5u);
  std::set<ComponentRole> roles;
  for (const DeclaredComponent& declared : components) {
    roles.insert(declared.role);
    EXPECT_EQ(&SetupFormComponent(declared.role), &declared);
  }
  EXPECT_EQ(roles.size(), components.size());
}

}  // namespace
}  // namespace isetup::ui
