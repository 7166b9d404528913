# Runs the stages of ./test.sh: each with its output in a log of its own, timed, several lanes
# side by side. A lane is a list of stages that need each other's results, run in order; a
# stage after a failed one in its lane is skipped.
#
#   stages_begin LOG_FOLDER
#   [low_priority=1] run_lane STAGE...  (each STAGE names a shell function stage_STAGE, dashes as _;
#                            low_priority=1: the whole lane at low priority)
#   await_stage STAGE        (inside a lane: waits for a stage of another lane; fails with it)
#   lower_priority           (inside a stage: the rest of it at low priority)
#   stages_end               (prints failed logs and the table of times; fails if any stage did)

stages_begin() {
  stage_logs=$1
  rm -rf "$stage_logs"
  mkdir -p "$stage_logs"
  stages_started=$SECONDS
  lane_pids=()
}

# run_stage STAGE: runs stage_STAGE in a subshell of its own and records "STAGE ok|FAILED
# SECONDS". Never call it as a condition (if, ||, &&): set -e would not hold in the stage.
run_stage() {
  local stage=$1 log=$stage_logs/$1.log started=$SECONDS result=ok
  echo "-- $stage started (log: $log)"
  ("stage_${stage//-/_}") >"$log" 2>&1 </dev/null &
  wait $! || result=FAILED
  echo "$stage $result $((SECONDS - started))" >>"$stage_logs/times"
  echo "-- $stage $result after $((SECONDS - started)) s"
  if [ "$result" = ok ]; then touch "$stage_logs/$stage.ok"; else touch "$stage_logs/$stage.failed"; fi
}

# [low_priority=1] run_lane STAGE...: the stages in order, in the background (at low priority).
run_lane() {
  (
    [ -z "${low_priority:-}" ] || lower_priority
    while [ $# -gt 0 ]; do
      local stage=$1
      shift
      run_stage "$stage"
      [ -e "$stage_logs/$stage.ok" ] || break
    done
    for skipped in "$@"; do
      echo "$skipped skipped 0" >>"$stage_logs/times"
      touch "$stage_logs/$skipped.failed"
    done
  ) &
  lane_pids+=($!)
}

# The rest of this lane or stage at nice level 10: for what only computes while another stage
# drives programs in real time.
lower_priority() {
  renice -n 10 -p "$BASHPID" >/dev/null
}

await_stage() {
  until [ -e "$stage_logs/$1.ok" ]; do
    [ -e "$stage_logs/$1.failed" ] && { echo "$1 failed: nothing to build on"; return 1; }
    sleep 1
  done
}

stages_end() {
  local pid
  for pid in "${lane_pids[@]}"; do wait "$pid" || true; done
  local stage result seconds failed=0
  while read -r stage result seconds; do
    [ "$result" = FAILED ] || continue
    failed=1
    echo
    echo "==== $stage FAILED; the end of $stage_logs/$stage.log:"
    tail -n 80 "$stage_logs/$stage.log"
  done <"$stage_logs/times"
  echo
  printf '%-22s %-8s %8s\n' stage result seconds
  while read -r stage result seconds; do
    printf '%-22s %-8s %8s\n' "$stage" "$result" "$seconds"
    [ "$result" = ok ] || failed=1
  done <"$stage_logs/times"
  printf '%-22s %-8s %8s\n' "all (wall clock)" "" "$((SECONDS - stages_started))"
  return $failed
}
