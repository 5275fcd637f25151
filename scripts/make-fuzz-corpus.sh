#!/usr/bin/env bash
# Writes the fuzzers' seed corpora: preset files of every shape a user may have, and wave
# files in each encoding the engine reads. Usage: make-fuzz-corpus.sh OUTDIR
set -euo pipefail
out=${1:?output folder}
mkdir -p "$out/preset" "$out/wave"

# Presets: 54 lines CR LF, LF only, CR only, short, long, binary.
p=$out/preset
printf '\r\n%.0s' $(seq 54) > "$p/empty.pst"
{ echo -ne '/snd/Door Bell.wav\r\n\r\n/snd/a, "b".wav\r\n'; printf '\r\n%.0s' $(seq 51); } > "$p/three.pst"
{ for i in $(seq 54); do echo "/snd/pad$i.wav"; done; } > "$p/lf.pst"
{ for i in $(seq 54); do printf '/snd/pad%s.wav\r' "$i"; done; } > "$p/cr.pst"
{ for i in $(seq 10); do printf 'C:\\Sounds\\%s.wav\r\n' "$i"; done; } > "$p/ten.pst"
{ for i in $(seq 60); do printf '/x/caf\xe9%s.wav\r\n' "$i"; done; } > "$p/sixty.pst"
printf 'a\0b\r\n' > "$p/nul.pst"

# Waves: short tones in the encodings a wave file can hold.
w=$out/wave
tone() { sox -q -n -r "$1" -c "$2" "${@:4}" "$w/$3" synth 0.05 sine 440; }
tone 8000 1 u8.wav -e unsigned -b 8
tone 44100 2 s16.wav -e signed -b 16
tone 48000 2 s24.wav -e signed -b 24
tone 96000 1 s32.wav -e signed -b 32
tone 44100 2 f32.wav -e floating-point -b 32
tone 22050 1 f64.wav -e floating-point -b 64
tone 8000 1 ulaw.wav -e u-law
tone 8000 1 alaw.wav -e a-law
tone 22050 1 ima.wav -e ima-adpcm
tone 22050 2 ms.wav -e ms-adpcm
tone 8000 1 gsm.wav -e gsm-full-rate
tone 48000 6 six.wav -e signed -b 16
tone 1000 1 r1000.wav -e unsigned -b 8
sox -q -n -r 768000 -c 2 -e floating-point -b 32 "$w/r768.wav" synth 0.002 sine 440
tone 48000 24 ch24.wav -e signed -b 24
sox -q -n -r 44100 -c 2 -b 16 "$w/w64.w64" synth 0.05 sine 440

# Integer PCM that libsndfile does not read (containers over 4 bytes, or wider than the bits
# need), which the engine reads itself. NAME CHANNELS RATE BITS BYTES FRAMES [CHANNEL MASK]
le() { local i; for ((i = 0; i < $2; i++)); do printf "\\x$(printf %02x $((($1 >> (8 * i)) & 255)))"; done; }
wide() {
    local ch=$2 rate=$3 bits=$4 bytes=$5 mask=${7:-0}
    local align=$((ch * bytes)) data=$((ch * bytes * $6)) fmtlen=16 tag=1
    [ "$mask" = 0 ] || { fmtlen=40; tag=65534; }
    {
        printf RIFF; le $((4 + 8 + fmtlen + 8 + data)) 4
        printf 'WAVEfmt '; le $fmtlen 4; le $tag 2; le "$ch" 2; le "$rate" 4
        le $((rate * align)) 4; le $align 2
        if [ "$mask" = 0 ]; then le "$bits" 2; else
            le $((8 * bytes)) 2; le 22 2; le "$bits" 2; le "$mask" 4
            printf '\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71'
        fi
        printf data; le $data 4
        head -c $data /dev/urandom
    } > "$w/$1"
}
wide wide36.wav 1 1000 36 5 64
wide wide45.wav 2 44100 45 6 64
wide wide12in4.wav 1 5512 12 4 64
wide wide64x.wav 6 768000 64 8 32 0x3F
wide wide53x32.wav 32 96000 53 7 8 0x3FFFF
