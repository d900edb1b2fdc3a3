#!/bin/sh
# One fuzz target as CI runs it: its seed corpus replayed, then a fixed number of runs from a
# fixed seed, so that a run can be repeated exactly. New inputs go to a scratch folder that is
# emptied first, never into the committed corpus; a crash leaves its input there too.
#   run-fixed.sh TARGET CORPUS RUNS SCRATCH
set -eu
target=$1 corpus=$2 runs=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch/new" "$scratch/crashes"
. "$(dirname "$0")/sanitizer-options.sh"
# Without address randomisation: libFuzzer also mutates with values the code compared, pointers
# among them, and those would differ from run to run.
fixed=""
if setarch "$(uname -m)" -R true 2>/dev/null; then fixed="setarch $(uname -m) -R"; fi
status=0
$fixed "$target" -seed=1 -runs="$runs" -reload=0 -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$scratch/crashes/" "$scratch/new" "$corpus" >"$scratch/log" 2>&1 || status=$?
cat "$scratch/log"
# The last statistics line: executions, then coverage (cov: edges, ft: features).
summary=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch/log" | tail -n 1 || true)
echo "$(basename "$target"): ${summary:-no summary} (exit $status)" >"$scratch/summary"
exit "$status"
