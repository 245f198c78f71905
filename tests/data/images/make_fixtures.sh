#!/bin/sh
# Makes the image codec fixtures with ImageMagick and, beside each, NAME.rgba: its pixels as
# convert reads them (R, G, B, A bytes, rows top to bottom). Run from this folder.
set -eu
grad="-size 7x5 gradient:red-blue -depth 8"
tall="-size 3x40 gradient:red-blue -depth 8"
alpha="( -size 7x5 gradient:white-rgba(0,0,0,0.2) ) -alpha off -compose copy_opacity -composite"
convert -size 3x2 'xc:rgba(255,0,0,0.5)' png_rgba_half.png
convert $grad png_rgb.png
convert $grad $alpha png_rgba.png
convert $grad -colors 6 -type palette png8:png_palette.png
convert -size 5x4 gradient:white-black $alpha -type grayscalealpha png_grey_alpha.png
convert -size 7x5 gradient:red-blue -depth 16 png48:png_16bit.png
convert $grad -type grayscale png_grey.png
convert $grad -quality 95 jpeg_baseline.jpg
convert $grad -quality 95 -interlace plane jpeg_progressive.jpg
convert $grad -colors 8 gif_plain.gif
convert $grad -colors 8 -interlace line gif_interlaced.gif
convert $grad $alpha -channel A -threshold 50% +channel -colors 8 gif_transparent.gif
convert $grad tiff_rgb.tif
convert $grad $alpha tiff_rgba.tif
convert $grad -compress lzw tiff_lzw.tif
convert $grad $grad -negate tiff_pages.tif
convert $grad -type grayscale tiff_grey.tif
convert $grad -monochrome BMP3:bmp_1bit.bmp
convert $grad -colors 16 -type palette BMP3:bmp_4bit.bmp
convert $tall -type palette BMP3:bmp_8bit.bmp
convert $tall -type palette -compress rle BMP3:bmp_rle8.bmp
convert $grad -type truecolor BMP3:bmp_24bit.bmp
convert $grad $alpha BMP:bmp_32bit_alpha.bmp
python3 - <<'PY'
# A top-down copy of the 24-bit file: negative height, rows reversed.
import struct
b = bytearray(open("bmp_24bit.bmp", "rb").read())
off = struct.unpack_from("<I", b, 10)[0]
w, h = struct.unpack_from("<ii", b, 18)
stride = (w * 3 + 3) // 4 * 4
rows = [b[off + i * stride: off + (i + 1) * stride] for i in range(h)]
struct.pack_into("<i", b, 22, -h)
b[off:off + stride * h] = b"".join(reversed(rows))
open("bmp_24bit_topdown.bmp", "wb").write(b)
PY
for f in *.png *.jpg *.gif *.tif *.bmp; do
  case $f in bmp_24bit_topdown.bmp) src=bmp_24bit.bmp ;; *) src=$f ;; esac
  convert "$src[0]" -depth 8 rgba:"${f%.*}.rgba"
done
