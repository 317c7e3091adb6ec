// The skin entries of the label, the gauge and the button: pictures cut from the control picture and scaled
// once for the DPI, laid out for each control size on first use, and drawn with GDI into the control's
// paint buffer.
#include "ui/skinned_control_look_win.h"

#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "base/ansi_text.h"
#include "ui/dpi_scale.h"
#include "ui/font_choice_win.h"
#include "ui/skinned_control_layout.h"

namespace isetup::ui {
namespace {

Size SizeOf(const RECT& rect) { return {rect.right - rect.left, rect.bottom - rect.top}; }

Box Offset(const Box& box, int dx, int dy) { return {box.left + dx, box.top + dy, box.right + dx, box.bottom + dy}; }

// A picture copied into a top-down 32-bit DIB section, for BitBlt.
class DibPicture {
 public:
  DibPicture() = default;
  explicit DibPicture(const SkinPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() != static_cast<std::size_t>(picture.width) * picture.height) {
      return;
    }
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), picture.width, -picture.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap_ || !bits) {
      bitmap_.reset();
      return;
    }
    // 0xAARRGGBB in memory is B, G, R, A: the DIB's own layout.
    std::memcpy(bits, picture.pixels.data(), picture.pixels.size() * sizeof(std::uint32_t));
    size_ = picture.size();
  }

  bool valid() const { return static_cast<bool>(bitmap_); }
  Size size() const { return size_; }

  // Copies the part source of the picture to (x, y) of target.
  void Draw(HDC target, int x, int y, const Box& source) const {
    if (!bitmap_ || source.width() <= 0 || source.height() <= 0) return;
    MemoryDC dc(target);
    if (!dc) return;
    SelectGuard select(dc.get(), bitmap_.get());
    BitBlt(target, x, y, source.width(), source.height(), dc.get(), source.left, source.top, SRCCOPY);
  }
  void Draw(HDC target, int x, int y) const { Draw(target, x, y, {0, 0, size_.width, size_.height}); }

 private:
  GdiObject<HBITMAP> bitmap_;
  Size size_;
};

// A picture laid out for one wanted size, remade when another size is asked for.
class Rendering {
 public:
  const DibPicture& For(const SkinPicture& picture, const CornerPoints& corners, Size wanted) {
    if (!made_ || wanted_ != wanted) {
      const SliceLayout layout = StretchedLayout(picture.size(), corners, wanted);
      dib_ = DibPicture(RenderSlices(picture, {0, 0, picture.width, picture.height}, layout));
      wanted_ = wanted;
      made_ = true;
    }
    return dib_;
  }

 private:
  bool made_ = false;
  Size wanted_;
  DibPicture dib_;
};

// The DC's text settings and selected objects, put back when the entry has drawn.
class SavedDC {
 public:
  explicit SavedDC(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~SavedDC() {
    if (saved_) RestoreDC(dc_, saved_);
  }
  SavedDC(const SavedDC&) = delete;
  SavedDC& operator=(const SavedDC&) = delete;

 private:
  HDC dc_;
  int saved_;
};

// A skin font at its scaled height, with the height value whose parity moves the text by a pixel.
struct TextLook {
  GdiObject<HFONT> font;
  COLORREF colour = 0;
  int heightValue = 0;
};

GdiObject<HFONT> CreateSkinFont(const SkinFont& scaled) {
  const std::wstring face = DecodeAnsi(scaled.name);
  return CreateSubstitutedFont({.face = face,
                                .height = -scaled.height,
                                .bold = (scaled.style & kFontBold) != 0,
                                .italic = (scaled.style & kFontItalic) != 0,
                                .underline = (scaled.style & kFontUnderline) != 0,
                                .strikeOut = (scaled.style & kFontStrikeOut) != 0});
}

COLORREF ToColorRef(SkinColour colour) { return static_cast<COLORREF>(colour.bgr & 0xFFFFFFu); }

// Draws text in the selected font with its origin at `at`, transparently, clipped to clip.
void DrawTextAt(HDC dc, COLORREF colour, Point at, const RECT& clip, const std::wstring& text) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour);
  SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
  ExtTextOutW(dc, at.x, at.y, ETO_CLIPPED, &clip, text.c_str(), static_cast<UINT>(text.size()), nullptr);
}

Size TextExtent(HDC dc, const std::wstring& text) {
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  return {extent.cx, extent.cy};
}

// Where a rendering does not cover the whole control (a picture that cannot grow that way), the rest
// shows this system colour.
void FillUncovered(HDC dc, const RECT& client, Size covered, int systemColour) {
  if (covered == SizeOf(client)) return;
  FillRect(dc, &client, GetSysColorBrush(systemColour));
}

class SkinnedLabel final : public LabelSkinEntry {
 public:
  SkinnedLabel(SkinPicture background, const CornerPoints& corners, TextLook text)
      : background_(std::move(background)), corners_(corners), text_(std::move(text)) {}

  void DrawLabel(HDC dc, const RECT& client, const std::wstring& caption, TextAlignment alignment) const override {
    SavedDC saved(dc);
    const DibPicture& back = rendering_.For(background_, corners_, SizeOf(client));
    FillUncovered(dc, client, back.size(), COLOR_BTNFACE);
    back.Draw(dc, client.left, client.top);
    if (caption.empty()) return;
    SelectGuard font(dc, text_.font.get());
    const Box box = LabelTextBox(Box{client.left, client.top, client.right, client.bottom}, true);
    const Point at = PlaceText(box, TextExtent(dc, caption), alignment, text_.heightValue);
    // Clipped at the label's edges, no ellipsis.
    DrawTextAt(dc, text_.colour, at, client, caption);
  }

 private:
  SkinPicture background_;
  CornerPoints corners_;
  TextLook text_;
  mutable Rendering rendering_;
};

class SkinnedGauge final : public GaugeSkinEntry {
 public:
  SkinnedGauge(SkinPicture background, const CornerPoints& corners, const Box& progressArea, SkinPicture fill,
               bool stretchFill, TextLook text)
      : background_(std::move(background)),
        corners_(corners),
        progressArea_(progressArea),
        fill_(std::move(fill)),
        stretchFill_(stretchFill),
        text_(std::move(text)) {}

  int FixedHeight() const override { return GrowthOf(corners_).vertical ? 0 : background_.height; }

  void DrawGauge(HDC dc, const RECT& client, const GaugeModel& model) const override {
    SavedDC saved(dc);
    const Size size = SizeOf(client);
    const DibPicture& back = rendering_.For(background_, corners_, size);
    FillUncovered(dc, client, back.size(), COLOR_WINDOW);
    back.Draw(dc, client.left, client.top);

    const Box area = GaugeFillArea(background_.size(), progressArea_, back.size());
    const Box filled = Offset(GaugeFilledBox(area, model), client.left, client.top);
    if (filled.width() > 0 && filled.height() > 0 && !fill_.pixels.empty()) {
      if (stretchFill_) {
        const DibPicture& piece = stretched_.For(fill_, CornerPoints{}, {filled.width(), filled.height()});
        piece.Draw(dc, filled.left, filled.top);
      } else {
        // The fill picture repeated, not stretched, along the filled length; fitted to the area's height.
        const DibPicture& tile = Tile(filled.height());
        for (const Box& piece : TileRun(filled, tile.size().width)) {
          tile.Draw(dc, piece.left, piece.top, {0, 0, piece.width(), piece.height()});
        }
      }
    }

    const std::wstring text = model.Text();
    if (text.empty()) return;
    SelectGuard font(dc, text_.font.get());
    const Point at = GaugeTextOrigin(size, TextExtent(dc, text), text_.heightValue);
    DrawTextAt(dc, text_.colour, {client.left + at.x, client.top + at.y}, client, text);
  }

 private:
  const DibPicture& Tile(int height) const {
    if (!tile_ || tileHeight_ != height) {
      tile_.emplace(StretchPicture(fill_, {fill_.width, height}));
      tileHeight_ = height;
    }
    return *tile_;
  }

  SkinPicture background_;
  CornerPoints corners_;
  Box progressArea_;  // relative to the background picture
  SkinPicture fill_;
  bool stretchFill_;
  TextLook text_;
  mutable Rendering rendering_;
  mutable Rendering stretched_;
  mutable std::optional<DibPicture> tile_;
  mutable int tileHeight_ = 0;
};

class SkinnedButton final : public ButtonSkinEntry {
 public:
  struct Face {
    SkinPicture picture;
    COLORREF colour = 0;
  };

  SkinnedButton(std::array<Face, 3> faces, const CornerPoints& corners, const Box& clientRect, TextLook text)
      : faces_(std::move(faces)), corners_(corners), clientRect_(clientRect), text_(std::move(text)) {}

  void DrawButton(HDC dc, const RECT& client, ButtonState state, const std::wstring& caption) const override {
    SavedDC saved(dc);
    const std::size_t index = state == ButtonState::Pressed ? 2 : state == ButtonState::Hot ? 1 : 0;
    const Face& face = faces_[index];
    const DibPicture& image = renderings_[index].For(face.picture, corners_, SizeOf(client));
    FillUncovered(dc, client, image.size(), COLOR_BTNFACE);
    image.Draw(dc, client.left, client.top);
    if (caption.empty()) return;

    Box box = MapClientRect(face.picture.size(), clientRect_, image.size());
    if (clientRect_.width() <= 0 || clientRect_.height() <= 0) box = {0, 0, image.size().width, image.size().height};
    SelectGuard font(dc, text_.font.get());
    const Point at = CentredTextOrigin(Offset(box, client.left, client.top), TextExtent(dc, caption));
    DrawTextAt(dc, face.colour, at, client, caption);
  }

 private:
  std::array<Face, 3> faces_;  // normal, mouse over, pressed
  CornerPoints corners_;
  Box clientRect_;  // relative to each image: where the caption is centred
  TextLook text_;
  mutable std::array<Rendering, 3> renderings_;
};

const SkinPicture* ControlPicture(const Skin& skin, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= skin.controlPictures.size()) return nullptr;
  return &skin.controlPictures[static_cast<std::size_t>(index)];
}

TextLook MakeTextLook(const SkinFont& scaledFont, SkinColour colour) {
  return {CreateSkinFont(scaledFont), ToColorRef(colour), scaledFont.height};
}

std::unique_ptr<LabelSkinEntry> MakeLabel(const Skin& skin, const LabelSkinData& entry, int dpi) {
  const SkinPicture* picture = ControlPicture(skin, entry.pictureIndex);
  if (!picture) return nullptr;
  SkinPicture background = ScaledPicturePart(*picture, entry.skinRect, dpi);
  if (background.pixels.empty()) return nullptr;
  const LabelSkinData scaled = ScaleForDpi(entry, dpi);
  return std::make_unique<SkinnedLabel>(std::move(background), scaled.corners,
                                        MakeTextLook(scaled.font, scaled.fontColor));
}

std::unique_ptr<GaugeSkinEntry> MakeGauge(const Skin& skin, const GaugeSkinData& entry, int dpi) {
  const SkinPicture* picture = ControlPicture(skin, entry.pictureIndex);
  if (!picture) return nullptr;
  SkinPicture background = ScaledPicturePart(*picture, entry.skinRect, dpi);
  if (background.pixels.empty()) return nullptr;
  // No fill picture: the gauge shows its background and text only.
  SkinPicture fill = ScaledPicturePart(*picture, entry.progressRect, dpi);
  const GaugeSkinData scaled = ScaleForDpi(entry, dpi);
  return std::make_unique<SkinnedGauge>(std::move(background), scaled.corners, scaled.progressArea, std::move(fill),
                                        entry.progressStretch, MakeTextLook(scaled.font, scaled.fontColor));
}

std::unique_ptr<ButtonSkinEntry> MakeButton(const Skin& skin, const ButtonSkinData& entry, int dpi) {
  const SkinPicture* picture = ControlPicture(skin, entry.pictureIndex);
  if (!picture) return nullptr;
  const ButtonSkinData scaled = ScaleForDpi(entry, dpi);
  std::array<SkinnedButton::Face, 3> faces{
      SkinnedButton::Face{ScaledPicturePart(*picture, entry.skinRect, dpi), ToColorRef(entry.fontColor)},
      SkinnedButton::Face{ScaledPicturePart(*picture, entry.activeSkinRect, dpi), ToColorRef(entry.activeFontColor)},
      SkinnedButton::Face{ScaledPicturePart(*picture, entry.downSkinRect, dpi), ToColorRef(entry.downFontColor)}};
  if (faces[0].picture.pixels.empty()) return nullptr;
  // A state without an image of its own looks normal.
  for (SkinnedButton::Face& face : faces) {
    if (face.picture.pixels.empty()) face.picture = faces[0].picture;
  }
  return std::make_unique<SkinnedButton>(std::move(faces), scaled.corners, scaled.clientRect,
                                         TextLook{CreateSkinFont(scaled.font), 0, scaled.font.height});
}

class StoredSkinLook final : public SkinnedControlLook {
 public:
  const LabelSkinEntry* Label() const override { return label.get(); }
  const GaugeSkinEntry* Gauge() const override { return gauge.get(); }
  const ButtonSkinEntry* Button() const override { return button.get(); }

  std::unique_ptr<LabelSkinEntry> label;
  std::unique_ptr<GaugeSkinEntry> gauge;
  std::unique_ptr<ButtonSkinEntry> button;
};

}  // namespace

std::unique_ptr<SkinnedControlLook> SkinnedControlLook::Create(const Skin& skin, int dpi) {
  if (dpi <= 0) dpi = kDesignDpi;
  auto look = std::make_unique<StoredSkinLook>();
  const SkinDescription& description = skin.description;
  if (description.label) look->label = MakeLabel(skin, *description.label, dpi);
  if (description.gauge) look->gauge = MakeGauge(skin, *description.gauge, dpi);
  if (description.button) look->button = MakeButton(skin, *description.button, dpi);
  if (!look->label && !look->gauge && !look->button) return nullptr;
  return look;
}

}  // namespace isetup::ui
