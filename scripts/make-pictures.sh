#!/usr/bin/env bash
# Draws the program's pictures into resources/ with ImageMagick 6, then checks each file's
# header for the size and colour depth the program is built around:
#   background.bmp  672 x 462, 8-bit with a 256-colour palette
#   face.bmp        137 x 49, 24-bit
#   stop.ico        32 x 32, 16 colours (4-bit)
#   record.ico      32 x 32, 16 colours (4-bit)
#   volume.bmp      24 x 22, 16 colours (4-bit)
#   bellboard.ico   32 x 32 twice: 16 colours (4-bit) and 2 colours (1-bit)
#   icons/bellboard-N.png   the same bell for the menu, N x N RGBA, N = 16 24 32 48 64 128 256
#   icons/bellboard.svg     the same bell, scalable
#   NAME@2x.png     background, face, stop, record and volume drawn again at twice the size,
#                   24-bit, for screens at 150 % and more
# Usage: scripts/make-pictures.sh [output folder]   (default: resources/ of this checkout)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/resources}
mkdir -p "$out"

# Debian's IM6; a wrapper earlier on the PATH may rewrite some calls, so take the real one.
if [ -x /usr/bin/convert ]; then
    convert=/usr/bin/convert
else
    convert=$(command -v convert) || { echo "ImageMagick's convert is missing" >&2; exit 1; }
fi
im() { "$convert" "$@"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One palette for everything the hand touches: slate blue buttons on a night-blue board.
face_top='#6d93c2'
face_mid='#3d6595'
face_low='#284a74'
face_bottom='#1c3657'

# --- Background: a dark board, lit softly from the top left, with a darker tool bay. ------
# The pads cover y 14..389 in three columns; the tool row sits at y 413..434. Drawn at
# `k` times the size (1 or 2), into `out`.
draw_board() { # k, output
    local k=$1 w=$((672 * $1)) h=$((462 * $1))
    im -size ${w}x${h} gradient:'#1c2535-#0b0f17' "$work/base.png"
    # A wide, soft glow; Screen leaves the black parts of the glow picture alone.
    im -size $((1400 * k))x$((1000 * k)) radial-gradient:'#1d2a40-#000000' \
        -crop ${w}x${h}+$((520 * k))+$((420 * k)) +repage "$work/glow.png"
    # Fine grain keeps the large dark areas from looking flat and banded.
    im -size ${w}x${h} xc:gray50 -seed 7 +noise Gaussian -blur 0x0.6 -colorspace gray \
        +level 46%,54% "$work/grain.png"
    im "$work/base.png" "$work/glow.png" -compose screen -composite \
        "$work/grain.png" -compose softlight -composite "$work/board.png"
    # The tool bay: a shade darker, under a thin engraved line.
    im "$work/board.png" \
        \( -size ${w}x$((61 * k)) xc:'#000000' -alpha set -channel A -evaluate set 38% +channel \) \
        -geometry +0+$((401 * k)) -compose over -composite \
        -fill '#05070b' -draw "rectangle 0,$((400 * k)) $((w - 1)),$((401 * k - 1))" \
        -fill '#2b3850' -draw "rectangle 0,$((401 * k)) $((w - 1)),$((402 * k - 1))" \
        "$2"
}
draw_board 2 "$work/board2x.png"
im "$work/board2x.png" -alpha off -strip -type TrueColor PNG24:"$out/background@2x.png"
draw_board 1 "$work/board2.png"
# IM's own quantiser spends only a few dozen entries on so narrow a range of colours; a
# palette of 256 steps along the board's own blue, dithered, keeps the gradient smooth.
im -size 1x256 gradient:'#36486a-#04060a' "$work/board-palette.png"
im "$work/board2.png" -alpha off -dither FloydSteinberg -remap "$work/board-palette.png" \
    -type Palette -compress none BMP3:"$out/background.bmp"

# --- Button face: a slate-blue bevel; mid-dark where the caption sits so white reads. -----
# The painter scales it to cover 73 x 21 (cutting about five rows top and bottom) and to
# 49 x 18 in the about box, so the shading works at any of those crops.
draw_face() { # k, output
    local k=$1 w=$((137 * $1))
    im -size ${w}x$((49 * k)) gradient:"$face_mid-$face_low" "$work/face-base.png"
    # A soft sheen over the upper half.
    im -size ${w}x$((22 * k)) gradient:"$face_top-$face_mid" "$work/face-sheen.png"
    im "$work/face-base.png" "$work/face-sheen.png" -geometry +0+0 -compose over -composite \
        \( -size ${w}x$((12 * k)) gradient:"$face_low-$face_bottom" \) -geometry +0+$((37 * k)) \
        -compose over -composite \
        -fill '#8fb0d8' -draw "rectangle 0,0 $((w - 1)),$((2 * k - 1))" \
        -fill '#14263e' -draw "rectangle 0,$((47 * k)) $((w - 1)),$((49 * k - 1))" \
        -alpha off "$2"
}
draw_face 1 "$work/face1.png"
im "$work/face1.png" -type TrueColor BMP3:"$out/face.bmp"
draw_face 2 "$work/face2.png"
im "$work/face2.png" -strip -type TrueColor PNG24:"$out/face@2x.png"

# --- Tool tiles: Stop, Record, volume share the face's bevel so the row reads as one. -----
# Drawn four times larger and reduced, so the small shapes keep smooth edges.
tile() { # size, output
    im -size "$1" gradient:"$face_top-$face_bottom" \
        -fill none -stroke '#9cbbe0' -strokewidth 4 -draw "line 0,2 10000,2" "$2"
}

tile 128x128 "$work/stop-big.png"
stop_square=(-fill '#0e1b2c80' -draw 'roundrectangle 42,44 90,92 8,8'
    -fill '#f4f6f9' -draw 'roundrectangle 38,38 86,86 8,8')
im "$work/stop-big.png" "${stop_square[@]}" \
    -resize 32x32 -alpha off +dither -colors 16 -type Palette ICO:"$out/stop.ico"
im "$work/stop-big.png" "${stop_square[@]}" \
    -resize 64x64 -alpha off -strip -type TrueColor PNG24:"$out/stop@2x.png"

tile 128x128 "$work/record-big.png"
im "$work/record-big.png" \
    -fill '#0e1b2c80' -draw 'circle 68,68 68,38' \
    -fill '#f4f6f9' -draw 'circle 64,64 64,32' \
    -fill '#d92b2b' -draw 'circle 64,64 64,37' \
    -fill '#ef6b6b' -draw 'ellipse 56,55 9,6 0,360' "$work/record-drawn.png"
im "$work/record-drawn.png" -resize 32x32 -alpha off +dither -colors 16 -type Palette ICO:"$out/record.ico"
im "$work/record-drawn.png" -resize 64x64 -alpha off -strip -type TrueColor PNG24:"$out/record@2x.png"

# The volume picture is shown at its own size, cropped by a column at each side.
tile 96x88 "$work/volume-big.png"
im "$work/volume-big.png" \
    -fill '#f4f6f9' -stroke none \
    -draw 'polygon 16,34 28,34 44,18 44,70 28,54 16,54' \
    -fill none -stroke '#f4f6f9' -strokewidth 6 \
    -draw 'ellipse 46,44 12,14 -50,50' \
    -draw 'ellipse 46,44 26,30 -50,50' "$work/volume-drawn.png"
im "$work/volume-drawn.png" -resize 24x22\! -alpha off +dither -colors 16 -type Palette \
    -compress none BMP3:"$out/volume.bmp"
im "$work/volume-drawn.png" -resize 48x44\! -alpha off -strip -type TrueColor PNG24:"$out/volume@2x.png"

# --- Application icon: a brass bell, in 16 colours and in black and white. ---------------
bell_body='path "M 64,18 C 42,18 34,36 34,58 L 34,78 C 34,90 26,96 16,102 L 112,102 C 102,96 94,90 94,78 L 94,58 C 94,36 86,18 64,18 Z"'
bell_lip='roundrectangle 12,98 116,110 6,6'
bell_knob='circle 64,14 64,6'
bell_clapper='circle 64,114 64,104'
menu_sizes='16 24 32 48 64 128 256'

# The bell at `scale` times 128 px: its outline as a mask, and the brass picture, lit from the
# left (a sideways gradient through the mask, then the outline on top). The design's
# coordinates are for 128 px, so every drawing scales them.
draw_bell() { # scale, mask output, picture output
    local k=$1 n=$((128 * $1))
    local sc="scale $k,$k"
    im -size ${n}x${n} xc:black -fill white -stroke none \
        -draw "$sc $bell_body" -draw "$sc $bell_lip" -draw "$sc $bell_knob" -draw "$sc $bell_clapper" \
        "$2"
    im -size ${n}x${n} gradient:'#fff2b0-#b8860b' -rotate -90 \
        \( -size ${n}x${n} xc:none -fill '#ffffff90' -draw "$sc ellipse 50,52 6,26 0,360" \) \
        -compose over -composite \
        "$2" -alpha off -compose CopyOpacity -composite \
        -fill none -stroke '#5b3a06' -strokewidth 5 \
        -draw "$sc $bell_body" -draw "$sc $bell_lip" -draw "$sc $bell_knob" -draw "$sc $bell_clapper" \
        -fill '#7a520c' -stroke none -draw "$sc rectangle 30,96 98,99" \
        "$3"
}

# Four times the window icon's size.
draw_bell 1 "$work/bell-mask.png" "$work/bell-big.png"
# 16 colours: opaque where the bell is at least half covered, the rest clear.
im "$work/bell-big.png" -resize 32x32 -channel A -threshold 50% +channel \
    +dither -colors 16 -type PaletteAlpha ICO:"$work/bell16.ico"

# 2 colours: white bell, black outline and clapper. IM6 counts "clear" as a third colour,
# so this image is put together by hand: XOR bitmap and AND mask, both 1-bit, bottom-up.
im "$work/bell-mask.png" -resize 32x32 -threshold 50% "$work/bell1-mask.png"
im "$work/bell1-mask.png" \
    \( +clone -morphology EdgeIn Diamond:1 -negate \) -compose multiply -composite \
    -compose over -fill black -draw 'rectangle 4,24 27,24' -draw 'circle 16,28 16,25' \
    "$work/bell1-xor.png"
# PBM: 1 = black, rows top-down, 4 bytes a row at 32 pixels, so flip for the bitmap's order.
# XOR: black index 0 (clear pixels must be black so the screen shows through), white 1.
im "$work/bell1-xor.png" -flip -negate -threshold 50% pbm:- | tail -c 128 >"$work/xor.bin"
# AND: 1 where the screen shows through.
im "$work/bell1-mask.png" -flip -threshold 50% pbm:- | tail -c 128 >"$work/and.bin"

le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }

{
    # BITMAPINFOHEADER: the height counts the XOR bitmap and the AND mask together.
    le32 40; le32 32; le32 64; le16 1; le16 1; le32 0; le32 256; le32 0; le32 0; le32 2; le32 0
    printf '\x00\x00\x00\x00\xff\xff\xff\x00'
    cat "$work/xor.bin" "$work/and.bin"
} >"$work/bell1.dib"

# The 16-colour image as IM wrote it, without its one-entry directory.
tail -c +23 "$work/bell16.ico" >"$work/bell16.dib"

size16=$(stat -c %s "$work/bell16.dib")
size1=$(stat -c %s "$work/bell1.dib")
{
    le16 0; le16 1; le16 2
    # width, height, colours, reserved, planes, bits, bytes, offset
    printf '\x20\x20\x10\x00'; le16 1; le16 4; le32 "$size16"; le32 38
    printf '\x20\x20\x02\x00'; le16 1; le16 1; le32 "$size1"; le32 $((38 + size16))
    cat "$work/bell16.dib" "$work/bell1.dib"
} >"$out/bellboard.ico"

# --- Menu icons: the same bell for the desktop's icon theme. ------------------------------
# Smooth edges here (the theme's PNGs carry a full alpha channel), from a 512 px drawing.
mkdir -p "$out/icons"
draw_bell 4 "$work/menu-mask.png" "$work/menu-big.png"
for size in $menu_sizes; do
    # No time stamps in the file, so the same drawing gives the same bytes.
    im "$work/menu-big.png" -filter Lanczos -resize ${size}x${size} -strip \
        -define png:color-type=6 -define png:bit-depth=8 PNG32:"$out/icons/bellboard-$size.png"
done
# The scalable icon: the same shapes, gradient, highlight and outline, written as SVG.
body_d=${bell_body#path \"}
body_d=${body_d%\"}
cat >"$out/icons/bellboard.svg" <<SVG
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">
  <defs>
    <linearGradient id="brass" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="128" y2="0">
      <stop offset="0" stop-color="#fff2b0"/>
      <stop offset="1" stop-color="#b8860b"/>
    </linearGradient>
    <clipPath id="bell">
      <path d="$body_d"/>
      <rect x="12" y="98" width="104" height="12" rx="6"/>
      <circle cx="64" cy="14" r="8"/>
      <circle cx="64" cy="114" r="10"/>
    </clipPath>
  </defs>
  <rect width="128" height="128" fill="url(#brass)" clip-path="url(#bell)"/>
  <ellipse cx="50" cy="52" rx="6" ry="26" fill="#ffffff" fill-opacity="0.565" clip-path="url(#bell)"/>
  <g fill="none" stroke="#5b3a06" stroke-width="5">
    <path d="$body_d"/>
    <rect x="12" y="98" width="104" height="12" rx="6"/>
    <circle cx="64" cy="14" r="8"/>
    <circle cx="64" cy="114" r="10"/>
  </g>
  <rect x="30" y="96" width="69" height="4" fill="#7a520c"/>
</svg>
SVG

# --- Check what was written, from the headers. -------------------------------------------
fail=0
u8() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
expect() { # file, what, got, wanted
    if [ "$3" != "$4" ]; then
        echo "$1: $2 is $3, wanted $4" >&2
        fail=1
    fi
}

check_bmp() { # name width height bits colours
    local f=$out/$1
    expect "$1" magic "$(head -c 2 "$f")" BM
    expect "$1" width "$(u32 "$f" 18)" "$2"
    expect "$1" height "$(u32 "$f" 22)" "$3"
    expect "$1" "bits per pixel" "$(u16 "$f" 28)" "$4"
    expect "$1" compression "$(u32 "$f" 30)" 0
    local used
    used=$(u32 "$f" 46)
    [ "$used" = 0 ] && [ "$4" -le 8 ] && used=$((1 << $4))
    expect "$1" "palette entries" "$used" "$5"
    echo "$1: $(u32 "$f" 18) x $(u32 "$f" 22), $(u16 "$f" 28)-bit, palette $used"
}

check_ico_image() { # name index bits
    local f=$out/$1 entry=$((6 + 16 * $2))
    local offset
    offset=$(u32 "$f" $((entry + 12)))
    expect "$1[$2]" "directory size" "$(u8 "$f" "$entry")x$(u8 "$f" $((entry + 1)))" 32x32
    expect "$1[$2]" "directory bits" "$(u16 "$f" $((entry + 6)))" "$3"
    expect "$1[$2]" "header size" "$(u32 "$f" "$offset")" 40
    expect "$1[$2]" width "$(u32 "$f" $((offset + 4)))" 32
    expect "$1[$2]" "height (with mask)" "$(u32 "$f" $((offset + 8)))" 64
    expect "$1[$2]" "bits per pixel" "$(u16 "$f" $((offset + 14)))" "$3"
    echo "$1[$2]: $(u32 "$f" $((offset + 4))) x $(($(u32 "$f" $((offset + 8))) / 2)), $(u16 "$f" $((offset + 14)))-bit"
}

check_ico() { # name bits...
    local name=$1
    shift
    expect "$name" "image count" "$(u16 "$out/$name" 4)" $#
    local i=0
    for bits in "$@"; do
        check_ico_image "$name" $i "$bits"
        i=$((i + 1))
    done
}

check_png() { # name width height colour type (6 RGBA, 2 RGB), 8 bits a channel
    local f=$out/$1
    be32() { od -An -tu1 -j "$2" -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
    expect "$1" magic "$(od -An -tx1 -N8 "$f" | tr -d ' ')" 89504e470d0a1a0a
    expect "$1" size "$(be32 "$f" 16)x$(be32 "$f" 20)" "$2x$3"
    expect "$1" "bit depth" "$(u8 "$f" 24)" 8
    expect "$1" "colour type" "$(u8 "$f" 25)" "$4"
    echo "$1: $(be32 "$f" 16) x $(be32 "$f" 20), colour type $4"
}

check_bmp background.bmp 672 462 8 256
check_bmp face.bmp 137 49 24 0
check_bmp volume.bmp 24 22 4 16
check_ico stop.ico 4
check_ico record.ico 4
check_ico bellboard.ico 4 1
for size in $menu_sizes; do
    check_png "icons/bellboard-$size.png" "$size" "$size" 6
done
# Twice the size of each picture above.
check_png background@2x.png 1344 924 2
check_png face@2x.png 274 98 2
check_png stop@2x.png 64 64 2
check_png record@2x.png 64 64 2
check_png volume@2x.png 48 44 2
if ! grep -q '<path d="M 64,18 ' "$out/icons/bellboard.svg"; then
    echo "icons/bellboard.svg: the bell's outline is missing" >&2
    fail=1
fi
if ! cmp -s "$out/stop.ico" "$out/record.ico"; then :; else
    echo "stop.ico and record.ico are the same picture" >&2
    fail=1
fi
exit $fail
