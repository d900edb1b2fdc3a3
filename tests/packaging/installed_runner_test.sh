#!/usr/bin/env bash
# The command-line programs as the packages install them, run from the unpacked tree with the
# system's libraries: Brackenrun's usage and version, the tick's usage, and a backup that the
# installed Brackenrun takes from the installed stand-in, the parameter string on its standard
# input as a scheduled run passes it.
set -euo pipefail
. "$(dirname "$0")/package_env.sh"
bv_require_packages
bv_scratch
bv_unpack "$BV_DEB_BRACKENVALE" "$BV_DEB_STANDIN"
export HOME=$scratch/home LANG=C.UTF-8
mkdir -p "$HOME"
unset BRACKENVALE_ODBC_DRIVER  # the driver the program names itself: FreeTDS

# --- Usage and version -----------------------------------------------------------------------
usage=$("$root/usr/bin/Brackenrun" --help) || bv_fail "Brackenrun --help ended with status $?"
grep -q '^使い方: Brackenrun \[--print\] 認証方式' <<<"$usage" || bv_fail "Brackenrun --help printed: $usage"
grep -q 'Brackenrun \[--print\] -  ' <<<"$usage" || bv_fail "the usage does not name the standard-input form"
grep -q '^終了ステータス:' <<<"$usage" || bv_fail "the usage does not list the exit statuses"
[ "$("$root/usr/bin/Brackenrun" --version)" = "Brackenrun $BV_VERSION" ] || bv_fail "Brackenrun --version is not $BV_VERSION"
"$root/usr/lib/brackenvale/brackenvale-tick" --help | grep -q '^使い方: brackenvale-tick' \
  || bv_fail "brackenvale-tick --help printed no usage"
"$root/usr/bin/brackenvale-standin" --help | grep -q -- '--sa-password' || bv_fail "brackenvale-standin --help printed no options"

# --- A backup through the installed programs ---------------------------------------------------
password='Pkg-test;1'
"$root/usr/bin/brackenvale-standin" --port 0 --ssrp-port 0 --no-ipv6 --data "$scratch/standin" \
  --sa-password "$password" >"$scratch/standin.out" 2>&1 &
standin=$!
bv_cleanup_hook() { kill "$standin" 2>/dev/null; wait "$standin" 2>/dev/null; }
listening() { grep -q '^standin listening on 127.0.0.1:' "$scratch/standin.out"; }
bv_wait_until "the stand-in to listen" listening
port=$(sed -n 's/^standin listening on 127.0.0.1://p' "$scratch/standin.out")

backup=$scratch/backups/Sample.bak
mkdir -p "$(dirname "$backup")"
parameters="2 $(bv_encode_argument sa) $(bv_encode_argument "$password") $(bv_encode_argument "127.0.0.1,$port")"
parameters+=" $(bv_encode_argument Sample) $(bv_encode_argument "$backup") 1 "
export BRACKENRUN_LOG=$scratch/brackenrun.log
status=0
output=$(printf '%s\n' "$parameters" | "$root/usr/bin/Brackenrun" - 2>&1) || status=$?
echo "$output"
[ "$status" -eq 0 ] || bv_fail "Brackenrun - ended with status $status"
grep -q '^バックアップが終了しました。$' <<<"$output" || bv_fail "Brackenrun did not report the finished backup"
[ -s "$backup" ] || bv_fail "no backup file was written"
grep -q $'\tstatus=0\toutcome=succeeded\t' "$BRACKENRUN_LOG" || bv_fail "the run log has no successful run: $(cat "$BRACKENRUN_LOG")"
! grep -qF "$password" "$BRACKENRUN_LOG" || bv_fail "the run log holds the password"
echo "The installed runner, tick and stand-in work."
