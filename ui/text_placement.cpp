// Text placement inside a text box; integer division truncates toward zero, as C++ does.
#include "ui/text_placement.h"

namespace isetup::ui {

int CentredStart(int start, int extent, int textExtent) { return start + extent / 2 - textExtent / 2; }

int CentredTextTop(const Box& box, int textHeight, int fontHeightValue) {
  const int top = CentredStart(box.top, box.height(), textHeight);
  return fontHeightValue % 2 != 0 ? top - 1 : top;
}

Point PlaceText(const Box& textBox, Size text, TextAlignment alignment, int fontHeightValue) {
  int x = textBox.left;
  switch (alignment) {
    case TextAlignment::Left:
      break;
    case TextAlignment::Right:
      x = textBox.right - text.width;
      break;
    case TextAlignment::Center:
      x = CentredStart(textBox.left, textBox.width(), text.width);
      break;
  }
  return {x, CentredTextTop(textBox, text.height, fontHeightValue)};
}

Box LabelTextBox(const Box& label, bool skinned) {
  if (skinned) return label;
  return {label.left + kPlainLabelInset, label.top + kPlainLabelInset, label.right - kPlainLabelInset,
          label.bottom - kPlainLabelInset};
}

}  // namespace isetup::ui
