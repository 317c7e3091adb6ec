// The setup window's declared components and the align-with-margins computation over them.
#include "ui/setup_form_layout.h"

#include <algorithm>
#include <array>

namespace isetup::ui {
namespace {

constexpr Colour kWindowText = Colour::System(SystemColour::WindowText);

// In the order of the window description.
constexpr std::array kComponents{
    DeclaredComponent{
        .role = ComponentRole::CancelButton,
        .align = Align::Bottom,
        .design = {.left = 160, .top = 62, .width = 120, .height = 25},
        .margins = {.left = 160, .top = 10, .right = 160, .bottom = 10},
        .caption = L"Отменить",
        .defaultFont = {.face = L"Tahoma", .height = 14, .bold = true, .colour = kWindowText},
    },
    DeclaredComponent{
        .role = ComponentRole::ProgressGauge,
        .align = Align::Top,
        .design = {.left = 15, .top = 26, .width = 410, .height = 25},
        .margins = {.left = 15, .top = 3, .right = 15, .bottom = 3},
        .defaultFont = {.face = L"Arial", .height = 14, .bold = false, .colour = kWindowText},
        .gauge = {.minValue = 0,
                  .maxValue = 100,
                  .value = 0,
                  .progressText = L"Загружено ",
                  .showProgressText = true,
                  .showPercent = true,
                  .progressAnimationPause = 3000,
                  .vertical = false},
    },
    DeclaredComponent{
        .role = ComponentRole::StatusLine,
        .align = Align::Top,
        .design = {.left = 15, .top = 0, .width = 410, .height = 20},
        .margins = {.left = 15, .top = 0, .right = 15, .bottom = 3},
        .caption = L"",
        .defaultFont = {.face = L"Arial", .height = 16, .bold = false, .colour = Colour::Rgb(0x000000)},
        .alignment = TextAlignment::Center,
        .border = LabelBorder::Frame,
    },
    DeclaredComponent{
        .role = ComponentRole::FrameSkin,
        .clientInactiveBlur = true,
    },
    DeclaredComponent{
        .role = ComponentRole::CloseTimer,
        .timerInterval = 100,
    },
};

constexpr AlignItem ItemOf(const DeclaredComponent& declared) { return {declared.align, declared.design, declared.margins}; }

}  // namespace

std::span<const DeclaredComponent> SetupFormComponents() { return kComponents; }

const DeclaredComponent& SetupFormComponent(ComponentRole role) {
  // Every role is declared exactly once (checked by the tests), so the search always succeeds.
  return *std::find_if(kComponents.begin(), kComponents.end(),
                       [role](const DeclaredComponent& declared) { return declared.role == role; });
}

std::vector<Box> LayOutAligned(std::span<const AlignItem> items, const Box& client) {
  std::vector<Box> boxes(items.size());
  Box free = client;

  // The horizontal span an item gets from the free part, never narrower than nothing.
  const auto across = [&free](const AlignItem& item, Box& box) {
    box.left = free.left + item.margins.left;
    box.right = std::max(box.left, free.right - item.margins.right);
  };

  std::vector<std::size_t> tops;
  std::vector<std::size_t> bottoms;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const AlignItem& item = items[i];
    if (item.align == Align::Top) tops.push_back(i);
    if (item.align == Align::Bottom) bottoms.push_back(i);
    if (item.align == Align::None) {
      boxes[i] = {item.design.left, item.design.top, item.design.left + item.design.width,
                  item.design.top + item.design.height};
    }
  }
  std::stable_sort(tops.begin(), tops.end(),
                   [&items](std::size_t a, std::size_t b) { return items[a].design.top < items[b].design.top; });
  std::stable_sort(bottoms.begin(), bottoms.end(), [&items](std::size_t a, std::size_t b) {
    return items[a].design.top + items[a].design.height > items[b].design.top + items[b].design.height;
  });

  for (std::size_t i : tops) {
    const AlignItem& item = items[i];
    Box& box = boxes[i];
    across(item, box);
    box.top = free.top + item.margins.top;
    box.bottom = box.top + std::max(0, item.design.height);
    free.top = box.bottom + item.margins.bottom;
  }
  for (std::size_t i : bottoms) {
    const AlignItem& item = items[i];
    Box& box = boxes[i];
    across(item, box);
    box.bottom = free.bottom - item.margins.bottom;
    box.top = box.bottom - std::max(0, item.design.height);
    free.bottom = box.top - item.margins.top;
  }
  return boxes;
}

SetupFormBoxes LayOutSetupForm(Size client, int gaugeHeight) {
  const DeclaredComponent* visual[] = {&SetupFormComponent(ComponentRole::CancelButton),
                                   &SetupFormComponent(ComponentRole::ProgressGauge),
                                   &SetupFormComponent(ComponentRole::StatusLine)};
  std::array<AlignItem, 3> items{};
  for (std::size_t i = 0; i < items.size(); ++i) items[i] = ItemOf(*visual[i]);
  items[1].design.height = gaugeHeight;
  const std::vector<Box> boxes = LayOutAligned(items, Box{0, 0, client.width, client.height});
  return {boxes[0], boxes[1], boxes[2]};
}

}  // namespace isetup::ui
