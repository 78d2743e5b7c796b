#!/usr/bin/env bash
# Makes the HEIC, WebP, AVIF and JPEG XL files of this folder with Debian 12's own encoders (libheif-examples, webp,
# libavif-bin, libjxl-tools, libimage-exiftool-perl, imagemagick). The picture is 48x32: red top left, green top right,
# blue bottom right, white bottom left, so that a turned or mirrored reading shows in its corners.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corners=(-fill red -draw "rectangle 0,0 23,15" -fill lime -draw "rectangle 24,0 47,15"
         -fill blue -draw "rectangle 24,16 47,31")
convert -size 48x32 xc:white "${corners[@]}" "PNG24:$work/base.png"
convert "$work/base.png" -quality 95 "$work/base.jpg"
exiftool -q -overwrite_original -Make=Quendrix -Model=Corpus -XMP-dc:Title=Ecken "$work/base.jpg"
cp "$work/base.jpg" "$work/turned.jpg"
exiftool -q -overwrite_original -Orientation#=6 "$work/turned.jpg"
convert -size 48x32 xc:none "${corners[@]}" -channel A -fx "i<24 ? 1 : 0.5" "PNG32:$work/alpha.png"
convert "$work/base.png" -depth 16 -evaluate multiply 0.98 "$work/deep.png"
convert "$work/base.png" -profile /usr/share/color/icc/ghostscript/srgb.icc -quality 95 "$work/profiled.jpg"

# HEIC: a photo with EXIF and XMP, one whose EXIF says "turn" (no irot: the container is not turned),
# alpha, 10 bits.
heif-enc -q 60 "$work/base.jpg" -o photo.heic
heif-enc -q 60 "$work/turned.jpg" -o exif-orientation-6.heic
heif-enc -q 60 "$work/alpha.png" -o alpha.heic
heif-enc -q 60 -b 10 "$work/deep.png" -o 10bit.heic
heif-enc -q 60 "$work/profiled.jpg" -o icc.heic
# A grid, as phones write: 2x2 tiles of 64x64 (red, green; white, blue) cropped to 120x100, and one that
# claims no pixels at all.
convert -size 128x128 xc:white -fill red -draw "rectangle 0,0 63,63" -fill lime -draw "rectangle 64,0 127,63" \
    -fill blue -draw "rectangle 64,64 127,127" -crop 64x64 +repage "PNG24:$work/tile-%d.png"
for i in 0 1 2 3; do heif-enc -q 60 "$work/tile-$i.png" -o "$work/tile-$i.heic" >/dev/null; done
python3 make_grid.py grid.heic 2 2 120 100 "$work"/tile-{0,1,2,3}.heic
python3 make_grid.py zero-size-grid.heic 2 2 0 0 "$work"/tile-{0,1,2,3}.heic

# WebP: lossy with EXIF and XMP, lossless, alpha, EXIF orientation 6, a two-frame animation.
cwebp -quiet -q 60 -metadata exif,xmp "$work/base.jpg" -o photo.webp
cwebp -quiet -lossless "$work/base.png" -o lossless.webp
cwebp -quiet -q 60 "$work/alpha.png" -o alpha.webp
cwebp -quiet -q 60 -metadata icc "$work/profiled.jpg" -o icc.webp  # the profile stands before the bitstream
cwebp -quiet -q 60 -metadata exif "$work/turned.jpg" -o exif-orientation-6.webp
convert "$work/base.png" -negate "PNG24:$work/negated.png"
img2webp -lossy -q 60 "$work/base.png" -d 100 "$work/negated.png" -d 100 -o animated.webp >/dev/null

# AVIF: a photo with EXIF and XMP, alpha, 10 bits, and the container's turns and mirrors.
avif() { avifenc -j 1 -s 8 --min 30 --max 30 "$@" >/dev/null; }
avif "$work/base.jpg" photo.avif
avif "$work/alpha.png" alpha.avif
avif -d 10 "$work/deep.png" 10bit.avif
avif "$work/profiled.jpg" icc.avif
avif --irot 1 "$work/base.png" irot-1.avif
avif --irot 3 "$work/base.png" irot-3.avif
avif --imir 0 "$work/base.png" imir-0.avif
avif --imir 1 "$work/base.png" imir-1.avif
avif --irot 1 --imir 1 "$work/base.png" irot-1-imir-1.avif

# JPEG XL: lossy from pixels (gamma 2.2, as the PNG says), alpha, JPEG files repacked without loss (cjxl's
# default for a JPEG source): one in sRGB, one with a colour profile.
jxl() { cjxl "$@" >/dev/null 2>&1; }
jxl -q 60 "$work/base.png" photo.jxl
jxl -q 60 "$work/alpha.png" alpha.jxl
jxl "$work/base.jpg" repacked.jxl
jxl "$work/profiled.jpg" icc.jxl

# Broken: cut short, and sizes that lie (the width field of ispe, VP8X's canvas, set far too large).
for f in photo.heic photo.webp photo.avif photo.jxl; do head -c $(( $(stat -c %s $f) * 2 / 3 )) $f > truncated-$f; done
python3 - <<'PY'
import struct
for name in ("photo.heic", "photo.avif"):
    data = bytearray(open(name, "rb").read())
    at = data.find(b"ispe") + 8  # size, type, version and flags before the width
    data[at:at + 8] = struct.pack(">II", 300000, 300000)
    open("lying-size-" + name, "wb").write(data)
data = bytearray(open("photo.webp", "rb").read())
at = data.find(b"VP8X") + 12  # chunk header and flags before the canvas size
data[at:at + 6] = (99999).to_bytes(3, "little") * 2
open("lying-size-photo.webp", "wb").write(data)
PY
# A sequence parameter set announcing 16000x16000 for the 48x32 image: the HEVC decoder would set up frames
# of that size before libheif compares them with ispe.
python3 grow_coded_size.py photo.heic coded-size-photo.heic 16000 16000
