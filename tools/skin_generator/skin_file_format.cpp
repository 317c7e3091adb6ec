// Serialises the generated pictures and description into the stored skin.
#include "tools/skin_generator/skin_file_format.h"

#include <zlib.h>

#include <stdexcept>

namespace isetup::skingen {
namespace {

void PutU16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(Bytes& out, std::uint32_t value) {
  PutU16(out, value & 0xFFFFu);
  PutU16(out, value >> 16);
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Colours are written as the decimal value of 0x00BBGGRR.
std::string Colour(std::uint32_t rgb) {
  const std::uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return std::to_string(r | (g << 8) | (b << 16));
}

class IniWriter {
 public:
  IniWriter& Section(const std::string& name) {
    text_ += "[" + name + "]\r\n";
    return *this;
  }
  IniWriter& Key(const std::string& key, const std::string& value) {
    text_ += key + "=" + value + "\r\n";
    return *this;
  }
  IniWriter& Blank() {
    text_ += "\r\n";
    return *this;
  }
  IniWriter& Font(const std::string& name, int height, const std::string& style) {
    return Key("fontname", name).Key("fontheight", std::to_string(height)).Key("fontstyle", style);
  }
  IniWriter& Corners(const std::string& lt, const std::string& rt, const std::string& lb, const std::string& rb) {
    return Key("lefttoppoint", lt).Key("righttoppoint", rt).Key("leftbottompoint", lb).Key("rightbottompoint", rb);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

Bytes EncodeBmp(const Canvas& canvas) {
  constexpr std::uint32_t kHeaders = 14 + 40;
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(canvas.width) * canvas.height * 4;
  Bytes out;
  out.reserve(kHeaders + pixelBytes);
  out.push_back('B');
  out.push_back('M');
  PutU32(out, kHeaders + pixelBytes);
  PutU32(out, 0);  // two reserved words
  PutU32(out, kHeaders);
  PutU32(out, 40);
  PutU32(out, static_cast<std::uint32_t>(canvas.width));
  PutU32(out, static_cast<std::uint32_t>(canvas.height));  // positive: bottom-up
  PutU16(out, 1);                                          // planes
  PutU16(out, 32);                                         // bits per pixel
  PutU32(out, 0);                                          // BI_RGB
  PutU32(out, pixelBytes);
  PutU32(out, 3780);  // 96 dpi in pixels per metre, both ways
  PutU32(out, 3780);
  PutU32(out, 0);  // colours used
  PutU32(out, 0);  // colours important
  for (int y = canvas.height - 1; y >= 0; --y) {
    for (int x = 0; x < canvas.width; ++x) PutU32(out, canvas.at(x, y));
  }
  return out;
}

std::string SkinDescriptionText() {
  IniWriter ini;
  ini.Section("VERSION").Key("ver", "1").Key("skinname", "").Key("skinauthor", "").Key("authoremail", "");
  ini.Key("authorurl", "").Key("skincomments", "").Blank();

  ini.Section("PICTURES").Key("picture", "form.bmp").Key("inactivepicture", "").Key("mask", "mask.bmp");
  ini.Key("activepicturescount", "1").Key("0", "install.bmp").Blank();

  ini.Section("FORMINFO").Key("clientrect", "12,80,616,393").Key("captionrect", "10,6,620,80");
  ini.Corners("259,48", "614,53", "12,392", "616,391").Key("buttonsrect", "0,0,0,0");
  ini.Key("bgpictureindex", "-1").Key("stretchtype", "stfull").Key("stretcheffect", "0");
  ini.Key("inactiveeffect", "iebrightness").Key("autorenderinginactiveimage", "0").Blank();

  ini.Section("POPUPWINDOW").Key("windowpictureindex", "-1").Key("maskpictureindex", "-1");
  ini.Key("itempictureindex", "-1").Blank();
  ini.Section("LAYERFRAME").Key("pictureindex", "-1").Key("maskpictureindex", "-1");
  ini.Key("inactivepictureindex", "-1").Blank();
  ini.Section("HINTWINDOW").Key("windowpictureindex", "-1").Key("maskpictureindex", "-1").Blank();

  ini.Section("SKINCOLORS");
  for (const char* name : {"cbtnface", "cbtntext", "cwindow", "cwindowtext", "chighlight", "chighlighttext",
                           "cbtnhighlight", "cbtnshadow"}) {
    ini.Key(name, "0");
  }
  ini.Blank();

  ini.Section("SKINOBJECTS").Key("count", "1").Key("0", "caption:caption").Blank();
  ini.Section("caption").Key("skinrect", "6,1,623,79").Key("textrect", "5,55,611,77");
  ini.Font("Tahoma", 14, "").Key("alignment", "tacenter");
  ini.Key("fontcolor", Colour(0x50749B)).Key("activefontcolor", Colour(0x4F739A)).Blank();

  ini.Section("SKINCONTROLS").Key("count", "3").Key("0", "button:button").Key("1", "gauge:gauge");
  ini.Key("2", "label:label").Blank();

  ini.Section("button").Key("pictureindex", "0").Key("skinrect", "0,0,92,25").Key("activeskinrect", "92,0,184,25");
  ini.Key("downskinrect", "184,0,276,25").Corners("4,4", "87,4", "4,20", "87,20").Key("clientrect", "7,6,87,18");
  ini.Font("Arial", 14, "fsbold");
  for (const char* key : {"fontcolor", "activefontcolor", "downfontcolor", "disabledfontcolor"}) {
    ini.Key(key, Colour(0xFFFFFF));
  }
  ini.Blank();

  ini.Section("gauge").Key("pictureindex", "0").Key("skinrect", "191,34,221,51");
  ini.Corners("0,0", "29,1", "0,0", "0,0").Key("progressarea", "0,0,30,16");
  ini.Key("progressrect", "15,31,156,51").Key("progressstretch", "0").Font("Tahoma", 13, "fsbold");
  ini.Key("fontcolor", Colour(0x698CB1)).Key("progressanimationskinrect", "0,0,0,0");
  ini.Key("progressanimationcountframes", "0").Key("progressanimationtimerinterval", "0").Blank();

  ini.Section("label").Key("pictureindex", "0").Key("skinrect", "207,28,273,47");
  ini.Corners("0,0", "0,0", "0,0", "0,0");
  for (const char* key : {"leftstretch", "topstretch", "rightstretch", "bottomstretch"}) ini.Key(key, "1");
  ini.Font("Tahoma", 13, "").Key("fontcolor", Colour(0x6185AA));
  return ini.Take();
}

Bytes BuildContainer(const Canvas& frame, const Canvas& mask, const std::vector<Canvas>& controls,
                     const std::string& description) {
  Bytes out;
  PutU32(out, kContainerVersion);
  out.push_back(0);  // a frame picture follows
  Append(out, EncodeBmp(frame));
  out.push_back(1);  // no inactive frame picture
  out.push_back(0);  // a mask picture follows
  Append(out, EncodeBmp(mask));
  PutU32(out, static_cast<std::uint32_t>(controls.size()));
  for (const Canvas& control : controls) Append(out, EncodeBmp(control));
  out.insert(out.end(), description.begin(), description.end());
  return out;
}

bool Deflate(const Bytes& data, Bytes& out) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  out.resize(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK) {
    out.clear();
    return false;
  }
  out.resize(size);
  return true;
}

Bytes BuildStoredSkin() {
  const Bytes container =
      BuildContainer(DrawFramePicture(), DrawMaskPicture(), {DrawControlPicture()}, SkinDescriptionText());
  Bytes out;
  if (!Deflate(container, out)) throw std::runtime_error("zlib could not compress the skin");
  return out;
}

}  // namespace isetup::skingen
