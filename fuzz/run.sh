#!/usr/bin/env bash
# Runs every fuzz target built in BUILD for SECONDS each, one after the other, at low priority.
# Usage: fuzz/run.sh BUILD SECONDS [TARGET...]
# With FUZZ_RUNS=N in the environment a target also stops after N executions, whichever of the
# two limits comes first.
#
# Each target starts from its seeds in fuzz/corpus/NAME and keeps what it learns in
# BUILD/fuzz-corpus/NAME (the repository's seeds are never written to). A crash, a hang, a leak
# or a sanitizer report leaves the input in BUILD/fuzz-artifacts/NAME/ and makes the script fail;
# the fuzzer's log is BUILD/fuzz-logs/NAME.log. Reproduce with: BUILD/fuzz/NAME ARTIFACT
set -uo pipefail

build=${1:?usage: fuzz/run.sh BUILD SECONDS [TARGET...]}
seconds=${2:?usage: fuzz/run.sh BUILD SECONDS [TARGET...]}
shift 2
# Absolute paths: the targets move their working directory into a scratch folder.
build=$(cd "$build" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_3df fuzz_object3d fuzz_plg fuzz_song fuzz_png)
fi

# Longest input per target: a whole 256x256 16-bit texture with its levels fits the first;
# the text and song targets learn little from inputs longer than this.
max_len() {
  case $1 in
    fuzz_3df) echo 180000 ;;
    *) echo 65536 ;;
  esac
}

# stb_image reserves the length a PNG chunk claims (up to 2 GiB) before it finds the file
# shorter; the converter then refuses the file ("outofdata") having touched none of it. That
# is address space, not memory, so the picture target may ask for more than the others.
malloc_limit() {
  case $1 in
    fuzz_png) echo 4096 ;;
    *) echo 2048 ;;
  esac
}

runs_option=()
if [ -n "${FUZZ_RUNS:-}" ]; then
  runs_option=(-runs="$FUZZ_RUNS")
fi

failed=0
for name in "${targets[@]}"; do
  binary=$build/fuzz/$name
  if [ ! -x "$binary" ]; then
    echo "fuzz: $name was not built (its loader may not exist yet); skipped"
    continue
  fi
  corpus=$build/fuzz-corpus/$name
  artifacts=$build/fuzz-artifacts/$name
  log=$build/fuzz-logs/$name.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  echo "fuzz: $name for $seconds s (log: $log)"
  # Standard output and error of the loaders (their refusal messages) are closed; libFuzzer
  # keeps its own report. A run over 10 s on one input counts as a hang.
  nice -n 10 "$binary" "$corpus" "$here/corpus/$name" \
    -max_total_time="$seconds" -max_len="$(max_len "$name")" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb="$(malloc_limit "$name")" \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" "${runs_option[@]}" \
    >"$log" 2>&1
  status=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$')
  took=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | grep -o 'in [0-9]*' | grep -o '[0-9]*')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  units=$(ls "$corpus" | wc -l)
  if [ $status -eq 0 ]; then
    echo "fuzz: $name clean: ${execs:-?} executions in ${took:-?} s (${rate:-?}/s), coverage ${cov:-?} edges, ${ft:-?} features, $units inputs in its corpus"
  else
    failed=1
    echo "fuzz: $name FOUND A PROBLEM (status $status); input in $artifacts/:"
    grep -E 'ERROR: |SUMMARY: |runtime error' "$log" | head -5
  fi
done
exit $failed
