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
sox -q -n -r 44100 -c 2 -b 16 "$w/w64.w64" synth 0.05 sine 440
