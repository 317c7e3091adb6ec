// Screenshots of the real InternetSetup.exe under Wine on a private Xvfb display, while it downloads from the
// reference endpoint: the skinned frame and its shape, the caption, the gauge fill, the button's images, the
// inactive blur, dragging by the caption, and the window at 144 dpi.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/test_files.h"
#include "endpoint/endpoint_server.h"
#include "tests/screenshot/screen_session.h"
#include "tests/support/scratch_folder.h"
#include "ui/committed_skin_test_support.h"
#include "ui/skin_loader.h"
#include "ui/stack_blur.h"

namespace isetup::screenshot {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr Rgb kBlack{0, 0, 0};  // Xvfb's root (-br) wherever no window is
constexpr Rgb kWhite{255, 255, 255};
const Rgb kHeaderTopLine = FromHex(0x4A6A91);
const Rgb kHeaderFrom = FromHex(0x6F91BB);
const Rgb kHeaderTo = FromHex(0x3E5D81);
const Rgb kEdgeLine = FromHex(0xD9E0E7);
const Rgb kFillLine = FromHex(0x5F7D9D);
const Rgb kActiveCaption = FromHex(0x4F739A);

using isetup::testing::CurrentTestName;
using ui::testing::CommittedSkin;

Rgb PictureRgb(const ui::SkinPicture& picture, int x, int y) { return FromHex(picture.at(x, y) & 0xFFFFFFu); }

// 96-dpi design values scaled as the program scales them (half away from zero).
int Scaled(int value, int dpi) { return (value * dpi + 48) / 96; }

bool Downloading(const FormState& s) { return s.visible && s.GaugePercent() > 0 && s.GaugePercent() < 100; }

// Leftmost column and length of the gauge fill: the longest run of the fill line's colour that starts at the
// gauge's left edge, over all rows of the gauge.
int FillLength(const Screenshot& shot, const ScreenRect& gauge) {
  int longest = 0;
  for (int y = gauge.top; y < gauge.bottom; ++y) {
    if (!Near(shot.at(gauge.left, y), kFillLine, 4)) continue;
    int rightmost = gauge.left;
    for (int x = gauge.left; x < gauge.right; ++x) {
      if (Near(shot.at(x, y), kFillLine, 4)) rightmost = x;
    }
    longest = std::max(longest, rightmost - gauge.left + 1);
  }
  return longest;
}

// The smallest box of pixels inside area that are not the given colour; empty when there are none.
ScreenRect InkBox(const Screenshot& shot, const ScreenRect& area, Rgb background) {
  ScreenRect box{area.right, area.bottom, area.left, area.top};
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      if (Near(shot.at(x, y), background, 2)) continue;
      box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
    }
  }
  return box.right > box.left ? box : ScreenRect{};
}

int MaxDifference(const Screenshot& a, const Screenshot& b, const ScreenRect& area) {
  int worst = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const Rgb p = a.at(x, y), q = b.at(x, y);
      worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
    }
  }
  return worst;
}

// The area of a screenshot as a skin picture (0xFFRRGGBB), for the blur the window applies.
ui::SkinPicture Cut(const Screenshot& shot, const ScreenRect& area) {
  ui::SkinPicture picture;
  picture.width = area.width();
  picture.height = area.height();
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const Rgb p = shot.at(x, y);
      picture.pixels.push_back(0xFF000000u | (static_cast<std::uint32_t>(p.r) << 16) |
                               (static_cast<std::uint32_t>(p.g) << 8) | static_cast<std::uint32_t>(p.b));
    }
  }
  return picture;
}

// Four 64 KiB pieces, then nothing more: the gauge stops between a quarter and two fifths and stays there
// for the rest of the test. (Wine reports progress as pieces arrive, not for one big write that then hangs.)
constexpr auto kHeldPieceTime = 300ms;
endpoint::StageFault HeldDownload() {
  endpoint::StageFault held;
  held.throttleChunk = 65536;
  held.throttleDelayMs = static_cast<int>(kHeldPieceTime.count());
  held.hangAfter = 4 * 65536;
  return held;
}

class WindowScreenshot : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display_.ok()) << "Xvfb did not start";
    server_.emplace(endpoint::Release{"2.53.0.0", isetup::testing::ReadBytes(Artifacts::NextInstaller()), ""}, "");
    server_->SetLogSink([](const std::string&) {});
  }
  void TearDown() override {
    wine_.reset();
    if (server_) server_->Stop();
  }

  // Starts the program against the endpoint with the installer's fault; the probe watches it.
  void Start(const endpoint::StageFault& installerFault, int dpi = 96) {
    server_->SetFault(endpoint::Stage::Installer, installerFault);
    const int port = Artifacts::EndpointPort();
    ASSERT_EQ(server_->Start("127.0.0.1", port), port) << "the endpoint port is taken";
    wine_.emplace(CurrentTestName(), display_);
    if (dpi != 96) {
      ASSERT_TRUE(wine_->SetLogPixels(dpi));
    }
    wine_->StartWatching();
    wine_->StartProgram();
  }

  // The screen once `area` has stopped changing and shows what `wanted` looks for (see StillShot).
  Screenshot Shot(const std::string& name, const ScreenRect& area,
                  const std::function<bool(const Screenshot&)>& wanted = nullptr) {
    const fs::path png = Artifacts::Output() / "shots" / (CurrentTestName() + "-" + name + ".png");
    Screenshot shot = wine_->StillShot(png, area, 10s, wanted);
    EXPECT_FALSE(shot.empty()) << "the screen did not settle for " << name;
    return shot;
  }

  // The window while the download is held at a value: it stays put long enough for a screenshot.
  std::optional<FormState> WaitUntilDownloading() {
    const std::optional<FormState> state = wine_->WaitFor(Downloading, 60s);
    if (!state) {
      const std::optional<FormState> last = wine_->Latest();
      ADD_FAILURE() << "the download never showed; last seen: "
                    << (last ? last->label + " / " + last->gaugeText : std::string("no window"));
    }
    return state;
  }

  // The window once the held download shows all it will: Wine reports a piece only when more has come
  // (four pieces showed 10, 19 and 28 %), so the held value is not known beforehand; the download counts
  // as held when the window has not changed for the time of three more pieces.
  std::optional<FormState> WaitUntilHeld() {
    const std::optional<FormState> state = wine_->WaitForQuiet(Downloading, 3 * kHeldPieceTime, 60s);
    std::string shown;
    for (const FormState& s : wine_->History()) shown += " " + s.gaugeText;
    EXPECT_TRUE(state) << "the download was never held; the gauge showed" << shown;
    return state;
  }

  bool MoveMouse(int x, int y) { return display_.Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y)); }

  VirtualDisplay display_;
  std::optional<endpoint::Server> server_;
  std::optional<ScreenSession> wine_;
};

// The header band, the corners cut by the mask, the frame around the client area and the caption.
void ExpectFrame(const Screenshot& shot, const FormState& form) {
  const ScreenRect& w = form.window;
  // The header band: its top line, the gradient from its first to its last row, right of the logo.
  for (int x : {w.left + 100, w.left + 300, w.right - 20}) {
    EXPECT_TRUE(Near(shot.at(x, w.top), kHeaderTopLine, 1)) << ToString(shot.at(x, w.top));
    EXPECT_TRUE(Near(shot.at(x, w.top + 1), kHeaderFrom, 1)) << ToString(shot.at(x, w.top + 1));
    EXPECT_TRUE(Near(shot.at(x, w.top + 39), kHeaderTo, 1)) << ToString(shot.at(x, w.top + 39));
    EXPECT_EQ(shot.at(x, w.top + 40), kWhite);
  }
  // The rounded top corners are cut away: the root shows through; the bottom corners are square.
  EXPECT_EQ(shot.at(w.left, w.top), kBlack);
  EXPECT_EQ(shot.at(w.left + 1, w.top + 1), kBlack);
  EXPECT_EQ(shot.at(w.right - 1, w.top), kBlack);
  EXPECT_EQ(shot.at(w.right - 2, w.top + 1), kBlack);
  EXPECT_TRUE(Near(shot.at(w.left + 4, w.top), kHeaderTopLine, 1));
  EXPECT_TRUE(Near(shot.at(w.left, w.top + 6), kHeaderFrom, 12));
  EXPECT_EQ(shot.at(w.left, w.bottom - 1), kEdgeLine);
  EXPECT_EQ(shot.at(w.right - 1, w.bottom - 1), kEdgeLine);
  EXPECT_EQ(shot.at(w.left - 1, w.top + 50), kBlack) << "nothing outside the window";
  // The grey edge lines beside and below the white client area.
  EXPECT_EQ(shot.at(w.left, w.top + 120), kEdgeLine);
  EXPECT_EQ(shot.at(w.right - 1, w.top + 120), kEdgeLine);
  EXPECT_EQ(shot.at(form.client.left + 2, form.client.top + 90), kWhite);

  // The caption: centred in its band 11..453 × 56..78, in the active colour.
  const ScreenRect band{w.left + 11, w.top + 56, w.left + 453, w.top + 78};
  const ScreenRect ink = InkBox(shot, band, kWhite);
  ASSERT_GT(ink.width(), 100) << "no caption in the band";
  EXPECT_LE(std::abs((ink.left - band.left) - (band.right - ink.right)), 3) << "not centred";
  bool activeColour = false;
  for (int y = ink.top; y < ink.bottom; ++y) {
    for (int x = ink.left; x < ink.right; ++x) activeColour = activeColour || Near(shot.at(x, y), kActiveCaption, 2);
  }
  EXPECT_TRUE(activeColour) << "no pixel in the active caption colour";
}

TEST_F(WindowScreenshot, FrameShapeCaptionAndTheGaugeFillAtThreeValues) {
  // 64 KiB every 2 s: the gauge stands at about 9, 18, 27 and 36 % for two seconds each.
  endpoint::StageFault slow;
  slow.throttleChunk = 65536;
  slow.throttleDelayMs = 2000;
  ASSERT_NO_FATAL_FAILURE(Start(slow));
  const std::optional<FormState> first = WaitUntilDownloading();
  ASSERT_TRUE(first) << "the download never showed";
  EXPECT_EQ(first->window.width(), 465);
  EXPECT_EQ(first->window.height(), 187);
  EXPECT_EQ(first->client.left - first->window.left, 12);
  EXPECT_EQ(first->client.top - first->window.top, 80);
  EXPECT_EQ(first->client.width(), 440);
  EXPECT_EQ(first->client.height(), 97);
  EXPECT_EQ(first->gauge.width(), 410);
  ASSERT_TRUE(MoveMouse(2, 2));

  std::vector<int> measured;
  int lastValue = -1;
  for (int attempt = 0; attempt < 12 && measured.size() < 3; ++attempt) {
    const std::optional<FormState> before =
        wine_->WaitFor([lastValue](const FormState& s) { return Downloading(s) && s.GaugePercent() != lastValue; }, 10s);
    ASSERT_TRUE(before) << "the gauge stopped moving";
    lastValue = before->GaugePercent();
    // Settled: the monitor's refresh and the paint are done.
    const Screenshot shot = Shot("gauge-" + std::to_string(lastValue), before->window);
    const std::optional<FormState> after = wine_->Latest();
    if (!after || after->GaugePercent() != lastValue) continue;  // moved on while the screenshot was taken
    if (measured.empty()) ExpectFrame(shot, *after);
    const int expected = after->gauge.width() * lastValue / 100;
    EXPECT_EQ(FillLength(shot, after->gauge), expected) << "at " << lastValue << "%";
    measured.push_back(lastValue);
  }
  EXPECT_GE(measured.size(), 3u);
}

TEST_F(WindowScreenshot, ButtonImagesBlurWhileInactiveAndDraggingByTheCaption) {
  ASSERT_NO_FATAL_FAILURE(Start(HeldDownload()));
  ASSERT_TRUE(WaitUntilHeld());
  ASSERT_TRUE(MoveMouse(2, 2));
  const std::optional<FormState> form = wine_->WaitFor([](const FormState& s) { return s.active && !s.blurred; }, 10s);
  ASSERT_TRUE(form) << "the window is not the active one";
  const ScreenRect& button = form->button;
  EXPECT_EQ(button.width(), 120);
  EXPECT_EQ(button.height(), 25);
  const ui::SkinPicture& controls = CommittedSkin().controlPictures.at(0);
  // Button pixels clear of the caption, and their places in the normal (x 0), mouse-over (92) and pressed
  // (184) images: one in the fixed left edge, one in the stretched top rows.
  const auto expectButton = [&](const Screenshot& shot, int imageLeft, const char* state) {
    EXPECT_EQ(shot.at(button.left + 2, button.top + 12), PictureRgb(controls, imageLeft + 2, 12)) << state;
    EXPECT_EQ(shot.at(button.left + 60, button.top + 2), PictureRgb(controls, imageLeft + 46, 2)) << state;
  };
  const ScreenRect& w = form->window;
  const Screenshot sharp = Shot("sharp", w);
  expectButton(sharp, 0, "normal");
  // Each image once it is painted: the button looking other than before, or as at the start.
  const auto buttonChanged = [&](const Screenshot& s) { return MaxDifference(sharp, s, button) > 0; };
  const auto buttonAsAtTheStart = [&](const Screenshot& s) { return MaxDifference(sharp, s, button) == 0; };

  const int bx = (button.left + button.right) / 2, by = (button.top + button.bottom) / 2;
  ASSERT_TRUE(MoveMouse(bx, by));
  expectButton(Shot("hot", w, buttonChanged), 92, "mouse over");
  ASSERT_TRUE(MoveMouse(2, 2));
  Shot("left", w, buttonAsAtTheStart);

  // Another window becomes active: the client area shows the blurred snapshot of itself.
  ASSERT_TRUE(wine_->ShowOtherWindow(10, 10));
  ASSERT_TRUE(wine_->WaitFor([](const FormState& s) { return !s.active && s.blurred; }, 10s)) << "no blur";
  const ScreenRect& client = form->client;
  const Screenshot blurred = Shot("blurred", w, [&](const Screenshot& s) { return MaxDifference(sharp, s, client) > 0; });
  const ui::SkinPicture expected = ui::StackBlurred(Cut(sharp, client), ui::kInactiveBlurRadius);
  int worst = 0;
  for (int y = 0; y < client.height(); ++y) {
    for (int x = 0; x < client.width(); ++x) {
      const Rgb seen = blurred.at(client.left + x, client.top + y);
      const Rgb blur = PictureRgb(expected, x, y);
      worst = std::max({worst, std::abs(seen.r - blur.r), std::abs(seen.g - blur.g), std::abs(seen.b - blur.b)});
    }
  }
  EXPECT_LE(worst, 2) << "the client area is not the blurred snapshot";
  EXPECT_EQ(sharp.at(button.left - 2, by), kWhite);
  EXPECT_NE(blurred.at(button.left - 2, by), kWhite) << "the button's edge is not soft";
  // The frame is not blurred; only the caption turns to the inactive colour, one step from the active one.
  EXPECT_EQ(MaxDifference(sharp, blurred, {w.left, w.top, w.right, w.top + 56}), 0);
  EXPECT_EQ(MaxDifference(sharp, blurred, {w.left + 11, w.top + 56, w.left + 453, w.top + 78}), 1);
  EXPECT_EQ(MaxDifference(sharp, blurred, {w.left, w.top + 78, w.right, client.top}), 0);

  // The first click on the inactive window's button reaches the button: pressed, and the window sharp again.
  ASSERT_TRUE(MoveMouse(bx, by));
  ASSERT_TRUE(display_.Xdotool("mousedown 1"));
  ASSERT_TRUE(wine_->WaitFor([](const FormState& s) { return s.active && !s.blurred; }, 10s)) << "not activated";
  const Screenshot pressed = Shot("pressed", w, buttonChanged);
  expectButton(pressed, 184, "pressed");
  EXPECT_EQ(pressed.at(button.left - 2, by), kWhite);
  // Released away from the button: no click, the normal image and the same client area as at the start.
  ASSERT_TRUE(MoveMouse(2, 2));
  ASSERT_TRUE(display_.Xdotool("mouseup 1"));
  const Screenshot released = Shot("released", w, buttonAsAtTheStart);
  expectButton(released, 0, "released");
  EXPECT_EQ(MaxDifference(sharp, released, client), 0);
  for (const FormState& state : wine_->History()) {
    EXPECT_EQ(state.label.find("отменена"), std::string::npos) << "a release off the button cancelled";
  }

  // Dragging the right edge does not size the window; dragging the caption moves it.
  const ScreenRect before = wine_->Latest()->window;
  const auto drag = [&](int x, int y, int dx, int dy) {
    return MoveMouse(x, y) && display_.Xdotool("mousedown 1") &&
           display_.Xdotool("mousemove --sync " + std::to_string(x + dx / 2) + " " + std::to_string(y + dy / 2)) &&
           display_.Xdotool("mousemove --sync " + std::to_string(x + dx) + " " + std::to_string(y + dy)) &&
           display_.Xdotool("mouseup 1");
  };
  ASSERT_TRUE(drag(before.right - 3, before.top + 120, 40, 0));
  // Whatever the drag did has been painted and reported.
  Shot("edge-dragged", {before.left, before.top, before.right + 40, before.bottom});
  const ScreenRect unsized = wine_->Latest()->window;
  EXPECT_EQ(unsized.width(), before.width());
  EXPECT_EQ(unsized.left, before.left);
  ASSERT_TRUE(drag(before.left + 200, before.top + 20, 60, 40));
  const auto moved = wine_->WaitFor(
      [&](const FormState& s) { return s.window.left == before.left + 60 && s.window.top == before.top + 40; }, 5s);
  ASSERT_TRUE(moved) << "dragging the caption did not move the window";
  EXPECT_EQ(moved->window.width(), before.width());
  const ScreenRect& there = moved->window;
  ExpectFrame(Shot("moved", there, [&](const Screenshot& s) { return s.at(there.left + 100, there.top) != kBlack; }),
              *moved);
}

TEST_F(WindowScreenshot, At144DpiTheWindowIsScaledByOneAndAHalf) {
  ASSERT_NO_FATAL_FAILURE(Start(HeldDownload(), 144));
  ASSERT_TRUE(MoveMouse(2, 2));
  const std::optional<FormState> form = WaitUntilHeld();
  ASSERT_TRUE(form);
  const ScreenRect& w = form->window;
  EXPECT_EQ(w.width(), 698);
  EXPECT_EQ(w.height(), 281);
  EXPECT_EQ(form->client.left - w.left, 18);
  EXPECT_EQ(form->client.top - w.top, 120);
  EXPECT_EQ(form->client.width(), 660);
  EXPECT_EQ(form->client.height(), 146);
  EXPECT_EQ(form->button.width(), Scaled(280, 144) - Scaled(160, 144));
  EXPECT_EQ(form->button.height(), Scaled(87, 144) - Scaled(62, 144));
  EXPECT_EQ(form->gauge.width(), Scaled(425, 144) - Scaled(15, 144));
  EXPECT_EQ(form->gauge.height(), Scaled(51, 144) - Scaled(34, 144)) << "the gauge skin's 17 pixels, scaled";

  const Screenshot shot = Shot("144dpi", w);
  const ui::SkinPicture& frame = *CommittedSkin().frame;
  // The 60-row header: row 0 the top line, row 30 the colour of the 96-dpi row 20 (smoothly resampled, so
  // within a step of the gradient), row 57 close to its last colour, white below it.
  const int x = w.left + 400;
  EXPECT_TRUE(Near(shot.at(x, w.top), kHeaderTopLine, 2)) << ToString(shot.at(x, w.top));
  EXPECT_TRUE(Near(shot.at(x, w.top + 30), PictureRgb(frame, 300, 20), 3)) << ToString(shot.at(x, w.top + 30));
  EXPECT_TRUE(Near(shot.at(x, w.top + 57), kHeaderTo, 4)) << ToString(shot.at(x, w.top + 57));
  EXPECT_EQ(shot.at(x, w.top + 62), kWhite);
  // Larger rounded corners, still cut away.
  EXPECT_EQ(shot.at(w.left, w.top), kBlack);
  EXPECT_EQ(shot.at(w.left + 2, w.top + 1), kBlack);
  EXPECT_EQ(shot.at(w.right - 3, w.top + 1), kBlack);
  EXPECT_TRUE(Near(shot.at(w.left + 9, w.top), kHeaderTopLine, 2));
  // The caption in its scaled band, the fill scaled with the gauge.
  const ScreenRect band{w.left + 17, w.top + 84, w.left + 680, w.top + 117};
  EXPECT_GT(InkBox(shot, band, kWhite).width(), 150);
  EXPECT_EQ(FillLength(shot, form->gauge), form->gauge.width() * form->GaugePercent() / 100);
}

}  // namespace
}  // namespace isetup::screenshot
