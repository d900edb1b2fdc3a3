#!/usr/bin/env bash
# Fuzzes one target for as long as it is given (until stopped when no time is given), from its
# committed corpus plus what earlier runs found, with a random seed. Builds the "fuzz" preset
# first. What it finds stays in build-fuzz/open-ended/TARGET/:
#   corpus/   inputs that reached new code (never written into the committed corpus)
#   crashes/  inputs that crashed the target or made a sanitizer report
# A crash is a fault: reproduce it with `build-fuzz/bin/TARGET_fuzz crashes/FILE`, write a test
# that fails with it, fix it, and commit the input to fuzz/corpus/TARGET/ as regression-NAME,
# so that every CI run replays it. --merge adds the inputs that reach code the committed corpus
# does not reach to fuzz/corpus/TARGET/ (as libFuzzer's -merge=1 picks them), for review.
#   fuzz/run-open-ended.sh TARGET [SECONDS] [--merge]
# TARGET: tds_request, tsql_batch, ssrp_reply, task_parameters, connection_string, job_file.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
[ $# -ge 1 ] || usage
target=$1 seconds=0 merge=0
shift
for argument in "$@"; do
  case "$argument" in
    --merge) merge=1 ;;
    ''|*[!0-9]*) usage ;;
    *) seconds=$argument ;;
  esac
done
[ -d "fuzz/corpus/$target" ] || { echo "No fuzz target named $target." >&2; usage; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="build-fuzz/open-ended/$target"
mkdir -p "$work/corpus" "$work/crashes"
. fuzz/sanitizer-options.sh
status=0
"build-fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/crashes/" "$work/corpus" "fuzz/corpus/$target" || status=$?

if [ "$merge" -eq 1 ]; then
  "build-fuzz/bin/${target}_fuzz" -merge=1 "fuzz/corpus/$target" "$work/corpus"
  echo "New corpus entries (review, rename, commit):"
  git status --short -- "fuzz/corpus/$target"
fi
if compgen -G "$work/crashes/*" >/dev/null; then
  echo "Inputs that broke $target:"
  ls -l "$work/crashes/"
  exit 1
fi
exit "$status"
