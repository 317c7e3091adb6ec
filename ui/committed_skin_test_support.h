// The committed stored skin, loaded once for the frame tests of both sides.
#pragma once

#include <gtest/gtest.h>

#include "ui/skin_loader.h"
#include "ui/skin_test_support.h"

namespace isetup::ui::testing {

inline const Skin& CommittedSkin() {
  static const Skin skin = [] {
    const auto bytes = ReadCommittedSkin();
    auto loaded = LoadStoredSkinChecked(bytes);
    EXPECT_TRUE(loaded.ok()) << loaded.error();
    return loaded.ok() ? std::move(loaded).value() : Skin{};
  }();
  return skin;
}

}  // namespace isetup::ui::testing
