#!/usr/bin/env bash
# Builds, then transcribes real recordings and prints each transcript under its reference.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" -DPALVORIN_BUILD_TESTS=OFF >/dev/null
recognizer="$root/build/palvorin-speech-recognizer"
data=/usr/share/pocketsphinx/test/data
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

show() {  # show LABEL REFERENCE FILE [ENV...]
  local label="$1" reference="$2" file="$3"
  shift 3
  echo "== $label"
  echo "   reference:  $reference"
  local transcript status=0
  transcript="$(env "$@" "$recognizer" "$file")" || status=$?
  echo "   transcript: $transcript"
  echo "   exit status: $status"
}

# goforward.raw is headerless 16 kHz PCM; sox gives it a WAV header.
sox -t raw -r 16000 -e signed -b 16 -c 1 "$data/goforward.raw" "$work/goforward.wav"
show "goforward (16 kHz mono)" "go forward ten meters" "$work/goforward.wav"

clip=sense_and_sensibility_01_austen_64kb-0920
reference="$(sed -n "s/^<s> \(.*\) <\/s> ($clip)$/\1/p" "$data/librivox/transcription")"
show "LibriVox $clip (16 kHz mono)" "$reference" "$data/librivox/$clip.wav"

sox "$data/librivox/$clip.wav" -r 44100 -c 2 "$work/stereo-44k1.wav"
show "the same, re-encoded as 44.1 kHz stereo, low CPU budget" "$reference" \
  "$work/stereo-44k1.wav" PALVORIN_CPU_BUDGET=low

echo "== failures: one diagnostic line on standard error, nothing on standard output"
fail() {  # fail LABEL ARGS...
  local label="$1" out status=0
  shift
  out="$("$recognizer" "$@" 2>"$work/stderr")" || status=$?
  echo "   $label: status $status, stdout '${out}', stderr: $(cat "$work/stderr")"
}
fail "no argument"
fail "missing file" "$work/missing.wav"
fail "a directory" "$work"
