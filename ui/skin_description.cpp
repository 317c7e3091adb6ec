// Reads the skin description text into sections and then into the entries the window draws from.
#include "ui/skin_description.h"

#include <array>
#include <charconv>
#include <limits>

namespace isetup::ui {
namespace {

constexpr int kMaxListedEntries = 1024;  // SKINOBJECTS / SKINCONTROLS counts beyond this are damage

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Splits on commas into exactly count numbers.
template <std::size_t N>
std::optional<std::array<int, N>> ParseInts(std::string_view text) {
  std::array<int, N> values{};
  for (std::size_t i = 0; i < N; ++i) {
    const std::size_t comma = text.find(',');
    const bool last = i + 1 == N;
    if (last != (comma == std::string_view::npos)) return std::nullopt;
    const auto value = ParseSkinInt(last ? text : text.substr(0, comma));
    if (!value) return std::nullopt;
    values[i] = *value;
    if (!last) text.remove_prefix(comma + 1);
  }
  return values;
}

// Typed reads from one section; the first failure is kept and later reads do nothing.
class SectionReader {
 public:
  SectionReader(const SkinIni& ini, std::string section, std::string& error)
      : ini_(ini), section_(std::move(section)), error_(error) {}

  int Int(std::string_view key, int fallback = 0) { return Read(key, fallback, ParseSkinInt, "a number"); }
  bool Flag(std::string_view key) {
    const int value = Int(key);
    if (value != 0 && value != 1) Fail(key, "0 or 1");
    return value == 1;
  }
  Point PointValue(std::string_view key) { return Read(key, Point{}, ParseSkinPoint, "a point x,y"); }
  Box Rect(std::string_view key) { return Read(key, Box{}, ParseSkinRect, "a rectangle"); }
  // A rectangle the entry cannot be drawn without: absent is as bad as malformed.
  Box RequiredRect(std::string_view key) {
    if (error_.empty() && !ini_.Find(section_, key)) Fail(key, "present");
    return Rect(key);
  }
  SkinColour Colour(std::string_view key) { return Read(key, SkinColour{}, ParseSkinColour, "a colour 0..16777215"); }
  std::string Text(std::string_view key) {
    const std::string* value = ini_.Find(section_, key);
    return value ? *value : std::string();
  }
  CornerPoints Corners() {
    return {PointValue("lefttoppoint"), PointValue("righttoppoint"), PointValue("leftbottompoint"),
            PointValue("rightbottompoint")};
  }
  SkinFont Font() {
    SkinFont font;
    font.name = Text("fontname");
    font.height = Int("fontheight");
    font.style = Read("fontstyle", 0u, ParseSkinFontStyle, "font style words");
    return font;
  }
  TextAlignment Alignment() {
    const std::string value = Text("alignment");
    if (value.empty() || SameName(value, "tacenter")) return TextAlignment::Center;
    if (SameName(value, "taleftjustify")) return TextAlignment::Left;
    if (SameName(value, "tarightjustify")) return TextAlignment::Right;
    Fail("alignment", "taleftjustify, tarightjustify or tacenter");
    return TextAlignment::Center;
  }

 private:
  template <typename T, typename Parser>
  T Read(std::string_view key, T fallback, Parser parse, const char* expected) {
    if (!error_.empty()) return fallback;
    const std::string* value = ini_.Find(section_, key);
    if (!value) return fallback;
    const auto parsed = parse(*value);
    if (!parsed) {
      Fail(key, expected);
      return fallback;
    }
    return *parsed;
  }
  void Fail(std::string_view key, const char* expected) {
    if (error_.empty()) error_ = "description: [" + section_ + "] " + std::string(key) + " must be " + expected;
  }

  const SkinIni& ini_;
  std::string section_;
  std::string& error_;
};

SkinFormInfo ReadFormInfo(SectionReader& r) {
  SkinFormInfo form;
  form.clientRect = r.RequiredRect("clientrect");
  form.captionRect = r.Rect("captionrect");
  form.corners = r.Corners();
  form.buttonsRect = r.Rect("buttonsrect");
  form.bgPictureIndex = r.Int("bgpictureindex", -1);
  form.stretchType = r.Text("stretchtype");
  form.stretchEffect = r.Int("stretcheffect");
  form.inactiveEffect = r.Text("inactiveeffect");
  form.autoRenderingInactiveImage = r.Flag("autorenderinginactiveimage");
  return form;
}

CaptionSkinData ReadCaption(SectionReader& r) {
  CaptionSkinData caption;
  caption.skinRect = r.RequiredRect("skinrect");
  caption.textRect = r.RequiredRect("textrect");
  caption.font = r.Font();
  caption.alignment = r.Alignment();
  caption.fontColor = r.Colour("fontcolor");
  caption.activeFontColor = r.Colour("activefontcolor");
  return caption;
}

ButtonSkinData ReadButton(SectionReader& r) {
  ButtonSkinData button;
  button.pictureIndex = r.Int("pictureindex");
  button.skinRect = r.RequiredRect("skinrect");
  button.activeSkinRect = r.RequiredRect("activeskinrect");
  button.downSkinRect = r.RequiredRect("downskinrect");
  button.corners = r.Corners();
  button.clientRect = r.Rect("clientrect");
  button.font = r.Font();
  button.fontColor = r.Colour("fontcolor");
  button.activeFontColor = r.Colour("activefontcolor");
  button.downFontColor = r.Colour("downfontcolor");
  button.disabledFontColor = r.Colour("disabledfontcolor");
  return button;
}

GaugeSkinData ReadGauge(SectionReader& r) {
  GaugeSkinData gauge;
  gauge.pictureIndex = r.Int("pictureindex");
  gauge.skinRect = r.RequiredRect("skinrect");
  gauge.corners = r.Corners();
  gauge.progressArea = r.RequiredRect("progressarea");
  gauge.progressRect = r.RequiredRect("progressrect");
  gauge.progressStretch = r.Flag("progressstretch");
  gauge.font = r.Font();
  gauge.fontColor = r.Colour("fontcolor");
  gauge.animationRect = r.Rect("progressanimationskinrect");
  gauge.animationFrames = r.Int("progressanimationcountframes");
  gauge.animationInterval = r.Int("progressanimationtimerinterval");
  return gauge;
}

LabelSkinData ReadLabel(SectionReader& r) {
  LabelSkinData label;
  label.pictureIndex = r.Int("pictureindex");
  label.skinRect = r.RequiredRect("skinrect");
  label.corners = r.Corners();
  label.leftStretch = r.Flag("leftstretch");
  label.topStretch = r.Flag("topstretch");
  label.rightStretch = r.Flag("rightstretch");
  label.bottomStretch = r.Flag("bottomstretch");
  label.font = r.Font();
  label.fontColor = r.Colour("fontcolor");
  return label;
}

// Reads a list section (count=N, then 0..N-1 = kind:name) and hands each entry to visit(kind, name);
// returns false with error set when the list is malformed.
template <typename Visit>
bool ReadList(const SkinIni& ini, std::string_view list, std::string& error, Visit visit) {
  const std::string* countText = ini.Find(list, "count");
  const auto count = countText ? ParseSkinInt(*countText) : std::optional<int>(0);
  if (!count || *count < 0 || *count > kMaxListedEntries) {
    error = "description: [" + std::string(list) + "] count is malformed";
    return false;
  }
  for (int i = 0; i < *count; ++i) {
    const std::string index = std::to_string(i);
    const std::string* entry = ini.Find(list, index);
    const std::size_t colon = entry ? entry->find(':') : std::string::npos;
    if (colon == std::string::npos) {
      error = "description: [" + std::string(list) + "] " + index + " must be kind:name";
      return false;
    }
    const std::string_view kind = Trim(std::string_view(*entry).substr(0, colon));
    const std::string_view name = Trim(std::string_view(*entry).substr(colon + 1));
    if (!ini.FindSection(name)) {
      error = "description: [" + std::string(list) + "] lists " + std::string(name) + " without its section";
      return false;
    }
    if (!visit(kind, name)) return false;
  }
  return true;
}

}  // namespace

SkinResult<SkinIni> SkinIni::Parse(std::string_view text) {
  SkinIni ini;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return SkinResult<SkinIni>::Fail("description: line " + std::to_string(lineNumber) + ": unclosed section");
      ini.sections_.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || ini.sections_.empty()) {
      return SkinResult<SkinIni>::Fail("description: line " + std::to_string(lineNumber) + ": not key=value in a section");
    }
    ini.sections_.back().entries.emplace_back(std::string(Trim(line.substr(0, equals))),
                                              std::string(Trim(line.substr(equals + 1))));
  }
  return SkinResult<SkinIni>::Ok(std::move(ini));
}

const SkinIni::Section* SkinIni::FindSection(std::string_view name) const {
  for (const Section& section : sections_) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

const std::string* SkinIni::Find(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(section);
  if (!found) return nullptr;
  for (const auto& [name, value] : found->entries) {
    if (SameName(name, key)) return &value;
  }
  return nullptr;
}

std::optional<int> ParseSkinInt(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<Point> ParseSkinPoint(std::string_view text) {
  const auto values = ParseInts<2>(text);
  if (!values) return std::nullopt;
  return Point{(*values)[0], (*values)[1]};
}

std::optional<Box> ParseSkinRect(std::string_view text) {
  const auto values = ParseInts<4>(text);
  if (!values) return std::nullopt;
  return Box{(*values)[0], (*values)[1], (*values)[2], (*values)[3]};
}

std::optional<SkinColour> ParseSkinColour(std::string_view text) {
  const auto value = ParseSkinInt(text);
  if (!value || *value < 0 || *value > 0xFFFFFF) return std::nullopt;
  return SkinColour{static_cast<std::uint32_t>(*value)};
}

std::optional<unsigned> ParseSkinFontStyle(std::string_view text) {
  struct Word {
    std::string_view name;
    unsigned bit;
  };
  static constexpr Word kWords[] = {
      {"fsbold", kFontBold}, {"fsitalic", kFontItalic}, {"fsunderline", kFontUnderline}, {"fsstrikeout", kFontStrikeOut}};
  unsigned style = kFontRegular;
  text = Trim(text);
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view word = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    bool known = false;
    for (const Word& w : kWords) {
      if (SameName(word, w.name)) {
        style |= w.bit;
        known = true;
      }
    }
    if (!known) return std::nullopt;
  }
  return style;
}

SkinResult<SkinDescription> ParseSkinDescription(std::string_view text) {
  using Result = SkinResult<SkinDescription>;
  auto parsed = SkinIni::Parse(text);
  if (!parsed) return Result::Fail(parsed.error());
  const SkinIni& ini = parsed.value();
  for (const char* section : {"VERSION", "PICTURES", "FORMINFO", "SKINOBJECTS", "SKINCONTROLS"}) {
    if (!ini.FindSection(section)) return Result::Fail(std::string("description: no [") + section + "] section");
  }

  std::string error;
  SkinDescription description;
  SectionReader version(ini, "VERSION", error);
  description.version = version.Int("ver");
  SectionReader form(ini, "FORMINFO", error);
  description.form = ReadFormInfo(form);
  if (!error.empty()) return Result::Fail(error);

  // The first entry of each kind under the name the window asks for; other objects and controls are
  // of no use to this window and are skipped.
  const bool objects = ReadList(ini, "SKINOBJECTS", error, [&](std::string_view kind, std::string_view name) {
    if (!SameName(kind, "caption") || !SameName(name, "caption") || description.caption) return true;
    SectionReader reader(ini, std::string(name), error);
    description.caption = ReadCaption(reader);
    return error.empty();
  });
  if (!objects) return Result::Fail(error);

  const bool controls = ReadList(ini, "SKINCONTROLS", error, [&](std::string_view kind, std::string_view name) {
    if (!SameName(kind, name)) return true;
    SectionReader reader(ini, std::string(name), error);
    if (SameName(name, "button") && !description.button) description.button = ReadButton(reader);
    else if (SameName(name, "gauge") && !description.gauge) description.gauge = ReadGauge(reader);
    else if (SameName(name, "label") && !description.label) description.label = ReadLabel(reader);
    return error.empty();
  });
  if (!controls) return Result::Fail(error);
  return Result::Ok(std::move(description));
}

}  // namespace isetup::ui
