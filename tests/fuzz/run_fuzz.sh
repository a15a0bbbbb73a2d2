#!/usr/bin/env bash
# Runs every fuzz target (or those named) for a bounded time:
#   run_fuzz.sh <build folder> <seconds> <executions> [target...]
# One line per target: executions, seconds and findings (crash inputs kept
# in <build folder>/findings/<target>/). Exits 1 when anything was found.
set -uo pipefail
build=$(cd "$1" && pwd) seconds=$2 runs=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(key_value file_list settings_record registry_store language_file stamped_block server_address player_answers)
fi
status=0
for name in "${targets[@]}"; do
  corpus="$build/corpus/$name" findings="$build/findings/$name" log="$build/fuzz-$name.log"
  mkdir -p "$corpus" "$findings"
  seeds=()
  [ -d "$here/corpus/$name" ] && seeds=("$here/corpus/$name")
  start=$(date +%s)
  nice "$build/bin/${name}_fuzz" -runs="$runs" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1
  code=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  found=$(find "$findings" -type f | wc -l)
  echo "fuzz $name executions=${execs:-0} seconds=$(( $(date +%s) - start )) findings=$found exit=$code"
  [ "$code" -ne 0 ] || [ "$found" -ne 0 ] && status=1
done
exit $status
