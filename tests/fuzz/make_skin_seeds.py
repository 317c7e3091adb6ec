#!/usr/bin/env python3
"""Writes the seed inputs of the skin fuzz targets into corpus/: the description of resources/tlvm.skn,
a scaled-down description that fits small pictures, and small containers and stored skins made from them.
Run it again after the skin format changes; the committed seeds are its output."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def bmp(width, height, bits=32, top_down=False, bitfields=False):
    """A BMP file whose pixels are a simple gradient, black in the top-left corner (a mask's window)."""
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            value = 0 if x + y < 3 else (x * 7 + y * 13) & 0xFF
            pixel = bytes([value, 255 - value, (x * y) & 0xFF])
            row += pixel + (b"\xff" if bits == 32 else b"")
        rows.append(bytes(row) + b"\0" * (stride - len(row)))
    if not top_down:
        rows.reverse()
    masks = struct.pack("<III", 0x00FF0000, 0x0000FF00, 0x000000FF) if bitfields else b""
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits,
                       3 if bitfields else 0, stride * height, 2835, 2835, 0, 0)
    offset = 14 + len(info) + len(masks)
    pixels = b"".join(rows)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + masks + pixels


def flagged(picture):
    return b"\x01" if picture is None else b"\x00" + picture


def container(frame, inactive, mask, controls, description, version=3, extras=(None, None)):
    out = struct.pack("<i", version) + flagged(frame) + flagged(inactive) + flagged(mask)
    if version == 2:
        out += b"".join(flagged(p) for p in extras)
    out += struct.pack("<i", len(controls)) + b"".join(controls)
    return out + description


# Fits a 32 x 24 frame and a 24 x 12 control picture, with every kind of entry the window reads.
SMALL_DESCRIPTION = b"""[VERSION]\r
ver=1\r
[PICTURES]\r
picture=form.bmp\r
mask=mask.bmp\r
activepicturescount=1\r
0=install.bmp\r
[FORMINFO]\r
clientrect=2,6,30,22\r
captionrect=1,1,31,6\r
lefttoppoint=5,4\r
righttoppoint=27,4\r
leftbottompoint=2,21\r
rightbottompoint=30,21\r
buttonsrect=0,0,0,0\r
bgpictureindex=-1\r
stretchtype=stfull\r
inactiveeffect=iebrightness\r
autorenderinginactiveimage=0\r
; the caption band and the three controls\r
[SKINOBJECTS]\r
count=1\r
0=caption:caption\r
[caption]\r
skinrect=1,0,31,6\r
textrect=1,3,29,5\r
fontname=Tahoma\r
fontheight=14\r
fontstyle=fsbold,fsitalic\r
alignment=tacenter\r
fontcolor=10187856\r
activefontcolor=10122063\r
[SKINCONTROLS]\r
count=3\r
0=button:button\r
1=gauge:gauge\r
2=label:label\r
[button]\r
pictureindex=0\r
skinrect=0,0,8,4\r
activeskinrect=8,0,16,4\r
downskinrect=16,0,24,4\r
lefttoppoint=1,1\r
righttoppoint=7,1\r
leftbottompoint=1,3\r
rightbottompoint=7,3\r
clientrect=2,1,6,3\r
fontname=Arial\r
fontstyle=fsbold\r
fontcolor=16777215\r
[gauge]\r
pictureindex=0\r
skinrect=0,5,6,8\r
righttoppoint=5,1\r
progressarea=0,0,6,2\r
progressrect=6,5,20,8\r
progressstretch=0\r
progressanimationskinrect=0,8,12,10\r
progressanimationcountframes=2\r
progressanimationtimerinterval=50\r
[label]\r
pictureindex=0\r
skinrect=12,8,24,12\r
leftstretch=1\r
topstretch=1\r
rightstretch=1\r
bottomstretch=1\r
fontname=Tahoma\r
fontcolor=11175265\r
"""


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    stored = open(os.path.join(ROOT, "resources", "tlvm.skn"), "rb").read()
    inflated = zlib.decompress(stored)
    # The description follows the last control picture; find it by its first section.
    real_description = inflated[inflated.index(b"[VERSION]"):]

    # skin_description_fuzz: four bytes of picture sizes (frame w, h, control w, h; each 1 + byte % 128),
    # then the text.
    write("skin_description_fuzz", "small-fits", bytes([31, 23, 23, 11]) + SMALL_DESCRIPTION)
    write("skin_description_fuzz", "real-description", bytes([127, 127, 127, 50]) + real_description)
    write("skin_description_fuzz", "lf-only", bytes([31, 23, 23, 11]) + SMALL_DESCRIPTION.replace(b"\r\n", b"\n"))
    write("skin_description_fuzz", "missing-section", bytes([31, 23, 23, 11]) +
          SMALL_DESCRIPTION.replace(b"[SKINOBJECTS]", b"[SKINOBJECTZ]"))

    frame, control = bmp(32, 24), bmp(24, 12)
    small = container(frame, None, bmp(32, 24, top_down=True), [control], SMALL_DESCRIPTION)
    write("skin_container_fuzz", "small-v3", small)
    write("skin_container_fuzz", "small-v2-extras",
          container(bmp(32, 24, bits=24), bmp(32, 24, bitfields=True), None, [control], SMALL_DESCRIPTION,
                    version=2, extras=(bmp(2, 2), None)))
    write("skin_container_fuzz", "no-frame-two-controls",
          container(None, None, None, [control, bmp(8, 8, bits=24, top_down=True)], SMALL_DESCRIPTION))
    write("skin_container_fuzz", "real-description-small-pictures",
          container(frame, None, None, [control], real_description))

    # skin_loader_fuzz: a mode byte (even: the rest is the stored zlib stream; odd: the rest is a container
    # that the target compresses first), then the bytes.
    write("skin_loader_fuzz", "tlvm-skn", b"\x00" + stored)
    write("skin_loader_fuzz", "small-stored", b"\x00" + zlib.compress(small, 9))
    write("skin_loader_fuzz", "small-container", b"\x01" + small)


if __name__ == "__main__":
    main()
