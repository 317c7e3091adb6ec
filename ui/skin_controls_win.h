// The setup window's three controls, window classes "TSkinLabel", "TSkinGauge" and "TSkinButton".
// Each draws its plain look unless a skin entry is plugged in, which then draws the control instead.
// Each answers accessibility clients with its role, its window text as name and (the gauge) its value, and
// announces text and value changes; none offers keyboard operation.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/gdi_win.h"
#include "ui/control_window_win.h"
#include "ui/gauge_model.h"
#include "ui/setup_form_layout.h"
#include "ui/text_placement.h"

namespace isetup::ui {

inline constexpr wchar_t kSkinLabelClass[] = L"TSkinLabel";
inline constexpr wchar_t kSkinGaugeClass[] = L"TSkinGauge";
inline constexpr wchar_t kSkinButtonClass[] = L"TSkinButton";

// The plain gauge's fill colour, #B6BDD2.
inline constexpr COLORREF kPlainGaugeFill = RGB(0xB6, 0xBD, 0xD2);

enum class ButtonState { Normal, Hot, Pressed };

// A loaded skin's entry for a control draws the whole client area of it. The entry must outlive the
// controls that use it; null means the plain look.
class LabelSkinEntry {
 public:
  virtual ~LabelSkinEntry() = default;
  virtual void DrawLabel(HDC dc, const RECT& client, const std::wstring& caption, TextAlignment alignment) const = 0;
};

class GaugeSkinEntry {
 public:
  virtual ~GaugeSkinEntry() = default;
  virtual void DrawGauge(HDC dc, const RECT& client, const GaugeModel& model) const = 0;
  // The height the entry's picture keeps (the gauge is laid out that high), or 0 when it stretches.
  virtual int FixedHeight() const { return 0; }
};

class ButtonSkinEntry {
 public:
  virtual ~ButtonSkinEntry() = default;
  virtual void DrawButton(HDC dc, const RECT& client, ButtonState state, const std::wstring& caption) const = 0;
};

// What the three controls share: text drawn in the plain look's DefaultFont declared for the control,
// scaled from 96 dpi for the DPI set.
class FontedControl : public ControlWindow {
 public:
  // Scales the plain look's DefaultFont from 96 dpi to dpi and redraws.
  void SetDpi(int dpi);

 protected:
  // The declared font at 96 dpi, taken before the window is created.
  void DeclareFont(const DeclaredFont& declared);
  const DeclaredFont& FontAtDpi() const { return fontAtDpi_; }
  HFONT Font() const { return font_.get(); }
  void OnDestroy() override { font_.reset(); }

 private:
  DeclaredFont declaredFont_;  // at 96 dpi
  DeclaredFont fontAtDpi_;      // at the DPI set
  GdiObject<HFONT> font_;
};

// The status line. Its window text is its caption.
class SkinLabel final : public FontedControl {
 public:
  SkinLabel() = default;
  ~SkinLabel() override = default;

  // Takes caption, alignment, border and DefaultFont from declared.
  [[nodiscard]] bool Create(HWND parent, const Box& box, const DeclaredComponent& declared);
  // Redraws at once when the text changes.
  void SetCaption(const std::wstring& caption);
  const std::wstring& Caption() const { return caption_; }
  void SetSkinEntry(const LabelSkinEntry* entry);

 private:
  void Paint(HDC dc, const RECT& client) override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void PaintPlain(HDC dc, const RECT& client);

  std::wstring caption_;
  TextAlignment alignment_ = TextAlignment::Center;
  LabelBorder border_ = LabelBorder::None;
  const LabelSkinEntry* skin_ = nullptr;
};

// The progress gauge. Its window text is the composed gauge text, e.g. "Загружено 42%".
class SkinGauge final : public FontedControl {
 public:
  SkinGauge() = default;
  ~SkinGauge() override = default;

  // Takes the gauge settings and DefaultFont from declared.
  [[nodiscard]] bool Create(HWND parent, const Box& box, const DeclaredComponent& declared);
  // Clamped; marks for redraw (at the next paint) only when the stored value changed.
  void SetValue(int value);
  int Value() const { return model_.Value(); }
  // These redraw at once.
  void SetMinValue(int value);
  void SetMaxValue(int value);
  void SetProgressText(const std::wstring& text);
  void SetShowProgressText(bool show);
  void SetShowPercent(bool show);
  // A negative pause is ignored.
  void SetProgressAnimationPause(int milliseconds);
  int MinValue() const { return model_.MinValue(); }
  int MaxValue() const { return model_.MaxValue(); }
  int ProgressAnimationPause() const { return model_.ProgressAnimationPause(); }
  std::wstring Text() const { return model_.Text(); }
  const GaugeModel& Model() const { return model_; }
  // The accessible value: the percentage followed by "%", e.g. "42%".
  std::wstring AccessibleValue() const;
  void SetSkinEntry(const GaugeSkinEntry* entry);

 private:
  void Paint(HDC dc, const RECT& client) override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void PaintPlain(HDC dc, const RECT& client);
  void Changed(bool now);

  GaugeModel model_;
  std::wstring shownText_;   // the window text last set
  std::wstring shownValue_;  // the accessible value last announced
  const GaugeSkinEntry* skin_ = nullptr;
};

// The cancel button: pressed by the mouse only, never by keys, never holding the focus.
// OnClick fires on a left-button release over the button that follows a press on it.
class SkinButton final : public FontedControl {
 public:
  SkinButton() = default;
  ~SkinButton() override = default;

  // Takes caption and DefaultFont from declared.
  [[nodiscard]] bool Create(HWND parent, const Box& box, const DeclaredComponent& declared, std::function<void()> onClick);
  const std::wstring& Caption() const { return caption_; }
  ButtonState State() const { return state_; }
  void SetSkinEntry(const ButtonSkinEntry* entry);

 private:
  void Paint(HDC dc, const RECT& client) override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;
  void PaintPlain(HDC dc, const RECT& client);
  void SetState(ButtonState state);
  bool Contains(LPARAM point) const;

  std::wstring caption_;
  std::function<void()> onClick_;
  ButtonState state_ = ButtonState::Normal;
  bool tracking_ = false;  // a TME_LEAVE request is pending
  const ButtonSkinEntry* skin_ = nullptr;
};

}  // namespace isetup::ui
