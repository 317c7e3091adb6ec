// Where a control's text goes inside its text box: the alignment rules shared by the label and the gauge.
#pragma once

#include "ui/geometry.h"

namespace isetup::ui {

enum class TextAlignment { Left, Right, Center };

// The plain label keeps its text this far inside its frame on every side.
inline constexpr int kPlainLabelInset = 3;

// start + extent div 2 − textExtent div 2, div truncating toward zero.
int CentredStart(int start, int extent, int textExtent);

// Top of a text of the given height, centred in the box; one pixel higher when the font's height
// value (the number the font was declared with, not the measured height) is odd.
int CentredTextTop(const Box& box, int textHeight, int fontHeightValue);

// Origin of a text of the given size inside the text box: centred vertically, placed horizontally by
// the alignment (left edge, right edge minus the width, or centred).
Point PlaceText(const Box& textBox, Size text, TextAlignment alignment, int fontHeightValue);

// The label's text box: the whole label with a skin entry, inset by kPlainLabelInset without one.
Box LabelTextBox(const Box& label, bool skinned);

}  // namespace isetup::ui
