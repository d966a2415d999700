# Sourced by the command scripts: named stages that run in the foreground or side by side, each
# into a log of its own, timed, and a table of their times at the end.
#
#   stages_init                  a fresh folder for the logs ($STAGES_DIR); removed on exit
#   stage NAME COMMAND...        runs COMMAND as stage NAME; prints its log when it ends;
#                                its status is the command's
#   stage_spawn NAME COMMAND...  the same in the background
#   lane_spawn FUNCTION          a function that runs stages one after another, in the background
#   stages_wait                  waits for every spawned stage and lane; non-zero when one failed
#   stages_report                the table of stage: seconds (and when each began, so that the
#                                stages that ran side by side show), and the end of each failed
#                                stage's log again; non-zero when one failed
#
# A stage's output is held until it ends so that two stages running at once never interleave
# their lines; each log is printed whole, under a line with its name, status and time, on
# standard error when the stage failed so that a caller that hides the output still shows it.

stages_init() {
  STAGES_DIR=$(mktemp -d)
  STAGES_PIDS=()
  STAGES_STARTED=$(date +%s.%N)
  trap 'rm -rf "$STAGES_DIR"' EXIT
}

# The stage's log file name: its name with anything but letters, digits and dashes replaced.
stage_file() {
  printf '%s/%s' "$STAGES_DIR" "$(printf '%s' "$1" | tr -c 'A-Za-z0-9-' '_')"
}

stage() {
  local name=$1
  shift
  local file
  file=$(stage_file "$name")
  local started status=0
  started=$(date +%s.%N)
  awk -v a="$STAGES_STARTED" -v b="$started" 'BEGIN { printf "%.1f", b - a }' >"$file.began"
  echo "$name" >>"$STAGES_DIR/order"
  "$@" >"$file.log" 2>&1 </dev/null || status=$?
  local seconds
  seconds=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  printf '%s %s\n' "$status" "$seconds" >"$file.result"
  # One stage prints at a time.
  if [ "$status" -eq 0 ]; then
    {
      flock 9
      echo "== $name: ok, ${seconds} s"
      cat "$file.log"
    } 9>"$STAGES_DIR/print.lock"
  else
    {
      flock 9
      echo "== $name: FAILED (status $status), ${seconds} s"
      cat "$file.log"
    } 9>"$STAGES_DIR/print.lock" >&2
  fi
  return "$status"
}

stage_spawn() {
  stage "$@" &
  STAGES_PIDS+=($!)
}

stages_wait() {
  local pid failed=0
  for pid in "${STAGES_PIDS[@]}"; do
    wait "$pid" || failed=1
  done
  STAGES_PIDS=()
  return "$failed"
}

stages_report() {
  local total name file status seconds began failed=()
  total=$(awk -v a="$STAGES_STARTED" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  echo
  echo "== stage times in seconds (began: seconds after the start; stages whose spans overlap ran side by side)"
  printf '%-84s %8s %8s\n' "stage" "began" "seconds"
  while read -r name; do
    file=$(stage_file "$name")
    if [ -f "$file.result" ]; then
      read -r status seconds <"$file.result"
    else
      status=unfinished seconds=-
    fi
    began=$(cat "$file.began" 2>/dev/null || echo -)
    printf '%-84s %8s %8s  %s\n' "$name:" "$began" "$seconds" "$([ "$status" = 0 ] && echo ok || echo "FAILED")"
    [ "$status" = 0 ] || failed+=("$name")
  done <"$STAGES_DIR/order"
  printf '%-84s %8s %8s\n' "total (wall):" "0.0" "$total"
  if [ ${#failed[@]} -gt 0 ]; then
    for name in "${failed[@]}"; do
      {
        echo
        echo "== FAILED: $name; the end of its log (printed whole above):"
        tail -n 60 "$(stage_file "$name").log"
      } >&2
    done
    return 1
  fi
}

# Runs a function of several stages in the background, as one lane; stages_wait waits for it.
lane_spawn() {
  "$@" &
  STAGES_PIDS+=($!)
}
