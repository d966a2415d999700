#!/usr/bin/env bash
# Prints figures, checks nothing: word error rate, wall and CPU time of the program beside
# pocketsphinx_continuous on the LibriVox recordings (same files, same model), the time per
# CPU budget, and the start-up cost of a run that fails before recognition.
# REPEAT (default 3) sets how often each timed run is repeated; STARTS (default 300) how many
# processes the start-up figures average over.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" >/dev/null
recognizer="$root/build/palvorin-speech-recognizer"
wer="$root/build/tests/palvorin-wer"
data=/usr/share/pocketsphinx/test/data/librivox
repeat="${REPEAT:-3}"
starts="${STARTS:-300}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
TIMEFORMAT='%R %U %S'

# timed OUTFILE COMMAND... : runs once, prints "wall cpu" in seconds.
timed() {
  local out="$1"
  shift
  local timing
  timing="$({ time "$@" >"$out" 2>/dev/null; } 2>&1)"
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$timing"
}

# mean_of COMMAND... : mean "wall cpu" over $repeat runs; the last run's output in $work/out.
mean_of() {
  local i
  for ((i = 0; i < repeat; i++)); do timed "$work/out" "$@"; done |
    awk '{ w += $1; c += $2 } END { printf "%.3f %.3f\n", w / NR, c / NR }'
}

reference_of() { sed -n "s/^<s> \(.*\) <\/s> ($1)$/\1/p" "$data/transcription"; }

echo "== Word error rate and time per recording (mean of $repeat runs, seconds)"
printf "%-44s %8s %8s %6s | %8s %8s %6s\n" recording our-wall our-cpu errors ps-wall ps-cpu errors
totals=(0 0 0 0 0 0 0)
while read -r id; do
  wav="$data/$id.wav"
  reference="$(reference_of "$id")"
  read -r our_wall our_cpu < <(mean_of "$recognizer" "$wav")
  read -r our_errors words _ < <("$wer" "$reference" "$(cat "$work/out")")
  read -r ps_wall ps_cpu < <(mean_of pocketsphinx_continuous -infile "$wav")
  read -r ps_errors _ _ < <("$wer" "$reference" "$(tr '\n' ' ' <"$work/out")")
  printf "%-44s %8s %8s %6s | %8s %8s %6s\n" "$id" "$our_wall" "$our_cpu" "$our_errors" \
    "$ps_wall" "$ps_cpu" "$ps_errors"
  totals=($(awk -v a="${totals[*]}" -v w="$our_wall $our_cpu $our_errors $ps_wall $ps_cpu $ps_errors $words" \
    'BEGIN { split(a, x); split(w, y); for (i = 1; i <= 7; i++) printf "%s ", x[i] + y[i] }'))
done <"$data/fileids"
awk -v t="${totals[*]}" 'BEGIN {
  split(t, x)
  printf "%-44s %8.3f %8.3f %6d | %8.3f %8.3f %6d\n", "total", x[1], x[2], x[3], x[4], x[5], x[6]
  printf "word error rate: ours %.1f%%, pocketsphinx_continuous %.1f%% (%d reference words)\n", 100 * x[3] / x[7], 100 * x[6] / x[7], x[7]
  printf "wall time ratio ours/theirs: %.3f (target at most 1.1); CPU time ratio: %.3f\n", x[1] / x[4], x[2] / x[5]
}'

echo
echo "== Time per CPU budget on the longest recording (mean of $repeat runs, seconds)"
longest="$data/sense_and_sensibility_01_austen_64kb-0870.wav"
for budget in low medium high; do
  read -r wall cpu < <(mean_of env PALVORIN_CPU_BUDGET="$budget" "$recognizer" "$longest")
  printf "%-8s wall %s  cpu %s\n" "$budget" "$wall" "$cpu"
done
# The budget only matters when the machine is busy: one busy loop per core competes here.
# At nice 19 "low" then gets a sliver of the CPU, so that run may take minutes.
busy=()
for ((i = 0; i < $(nproc); i++)); do
  (while :; do :; done) &
  busy+=($!)
done
for budget in low medium high; do
  read -r wall cpu < <(timed "$work/out" env PALVORIN_CPU_BUDGET="$budget" "$recognizer" "$longest")
  printf "%-8s wall %s  cpu %s  (one run, beside %d busy loops at normal priority)\n" "$budget" "$wall" "$cpu" "${#busy[@]}"
done
kill "${busy[@]}"
wait "${busy[@]}" 2>/dev/null || true

echo
echo "== Start-up of a run that fails before recognition (mean of $starts processes)"
per_start() {
  local start end i
  start=$(date +%s%N)
  for ((i = 0; i < starts; i++)); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  awk -v ns="$((end - start))" -v n="$starts" 'BEGIN { printf "%.3f", ns / n / 1e6 }'
}
nothing="$(per_start /bin/true)"
usage="$(per_start "$recognizer")"
missing="$(per_start "$recognizer" "$work/missing.wav")"
printf "process that does nothing (/bin/true): %s ms\n" "$nothing"
printf "usage error:  %s ms (%.2f times; target at most 3)\n" "$usage" "$(awk -v a="$usage" -v b="$nothing" 'BEGIN { print a / b }')"
printf "missing file: %s ms (%.2f times; target at most 3)\n" "$missing" "$(awk -v a="$missing" -v b="$nothing" 'BEGIN { print a / b }')"
