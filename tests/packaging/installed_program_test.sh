#!/usr/bin/env bash
# The program as the brackenvale package installs it, started from the unpacked tree on a virtual
# display (Xvfb) with the system's libraries, driven with xdotool as a user drives it:
#  1. its window, titled "Brackenvale", carries the program's icon;
#  2. the help link (the banner at 342,10 in the window, 76 x 15) opens the help page where the
#     package put it: xdg-open, which Qt hands the page to, is a recorder early on PATH;
#  3. "タスクに追加" registers a backup against the installed stand-in: the task names the
#     installed Brackenrun and the crontab block the installed brackenvale-tick, both found
#     beside the program's own executable. `crontab` is a recorder early on PATH (this machine's
#     crontab is never touched) and PAM answers from a service of the test's own through
#     pam_wrapper, the one thing preloaded, and only in this part.
set -euo pipefail
. "$(dirname "$0")/package_env.sh"
bv_require_packages
pam_wrapper=$1
bv_scratch
bv_unpack "$BV_DEB_BRACKENVALE" "$BV_DEB_STANDIN"

pids=()
bv_cleanup_hook() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
started() { pids+=("$!"); }

# A display of the test's own: Xvfb picks a free number and writes it to the descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
started
has_display() { [ -s "$scratch/display" ]; }
bv_wait_until "Xvfb to start" has_display
export DISPLAY=:$(cat "$scratch/display")

# The program's surroundings: a home, the recorders, the window system only (no offscreen).
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/runtime LANG=C.UTF-8 QT_QPA_PLATFORM=xcb
export XDG_DATA_HOME=$HOME/.local/share XDG_STATE_HOME=$HOME/.local/state
mkdir -p "$HOME" "$scratch/recorders" && mkdir -m 700 "$XDG_RUNTIME_DIR"
export BV_OPENED=$scratch/opened BV_CRONTAB=$scratch/crontab
cat >"$scratch/recorders/xdg-open" <<'EOF'
#!/bin/sh
printf '%s\n' "$@" >"$BV_OPENED.part" && mv "$BV_OPENED.part" "$BV_OPENED"
EOF
cat >"$scratch/recorders/crontab" <<'EOF'
#!/bin/sh
case "$1" in
  -l) [ -f "$BV_CRONTAB" ] && exec cat "$BV_CRONTAB"; echo "no crontab for $(id -un)" >&2; exit 1 ;;
  -) exec cat >"$BV_CRONTAB" ;;
esac
exit 1
EOF
chmod +x "$scratch/recorders/"*
export PATH=$scratch/recorders:$PATH
unset BRACKENVALE_ODBC_DRIVER BRACKENVALE_BROWSE_ADDRESS LD_PRELOAD

# window_named REGEX : the visible window of that title (empty while there is none).
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
window_shown() { [ -n "$(window_named "$1")" ]; }
# click WINDOW X Y : a left click at X,Y inside WINDOW.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# icon_sizes WINDOW : the icon sizes the window offers the window manager (_NET_WM_ICON).
icon_sizes() { xprop -id "$1" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' '; }
# start_program [ENV=VALUE...] : the installed program, by its link in /usr/bin.
start_program() {
  env "$@" "$root/usr/bin/brackenvale" >>"$scratch/program.log" 2>&1 &
  started
  program=$!
  bv_wait_until 'a window titled "Brackenvale"' window_shown '^Brackenvale$'
  window=$(window_named '^Brackenvale$')
}

# --- 1 and 2: the window, its icon, the help page -----------------------------------------------
start_program
[ "$(readlink "/proc/$program/exe")" = "$root/usr/lib/brackenvale/brackenvale" ] \
  || bv_fail "the program runs as $(readlink "/proc/$program/exe")"
xwininfo -root -tree | grep -q "\"Brackenvale\": (\"brackenvale\" \"Brackenvale\")" \
  || bv_fail "no top-level window \"Brackenvale\" of class brackenvale: $(xwininfo -root -tree)"
[[ $(icon_sizes "$window") == *"Icon (16 x 16) Icon (32 x 32) Icon (48 x 48)"* ]] \
  || bv_fail "the window carries no icon of the program's sizes: $(icon_sizes "$window")"

click "$window" 380 17
opened() { [ -s "$BV_OPENED" ]; }
bv_wait_until "the help page to be opened" opened
help_page="file://$root/usr/share/brackenvale/help/index.html"
[ "$(cat "$BV_OPENED")" = "$help_page" ] || bv_fail "the help link opened $(cat "$BV_OPENED"), not $help_page"
kill "$program" && wait "$program" || true

# --- 3: a scheduled task names the installed Brackenrun and brackenvale-tick ---------------------
password='Pkg-test-1'
"$root/usr/bin/brackenvale-standin" --port 0 --ssrp-port 0 --no-ipv6 --data "$scratch/standin" \
  --sa-password "$password" >"$scratch/standin.out" 2>&1 &
started
listening() { grep -q '^standin listening on 127.0.0.1:' "$scratch/standin.out"; }
bv_wait_until "the stand-in to listen" listening
port=$(sed -n 's/^standin listening on 127.0.0.1://p' "$scratch/standin.out")

mkdir "$scratch/pam"
printf 'auth required pam_permit.so\naccount required pam_permit.so\n' >"$scratch/pam/brackenvale"
start_program LD_PRELOAD="$pam_wrapper" PAM_WRAPPER=1 PAM_WRAPPER_SERVICE_DIR="$scratch/pam"

# The main window's fixed places: server, "SQL Server 認証", login, password; Tab then enters the
# database box (which logs in and lists the databases) and "S" picks Sample; the backup file;
# "タスクに追加". X delivers the input in order, so each step sees the previous one done.
click "$window" 204 82 && xdotool type "127.0.0.1,$port"
click "$window" 150 106
click "$window" 204 140 && xdotool type sa
click "$window" 204 166 && xdotool type "$password" && xdotool key Tab && xdotool type S
click "$window" 190 297 && xdotool type "$scratch/Sample_%date%.bak"
click "$window" 212 471

# The account dialog: password twice, OK.
bv_wait_until "the account dialog" window_shown '^ユーザ情報入力$'
account=$(window_named '^ユーザ情報入力$')
[[ $(icon_sizes "$account") == *"Icon (16 x 16)"* ]] || bv_fail "the account dialog carries no icon"
click "$account" 213 70 && xdotool type secret
click "$account" 213 96 && xdotool type secret
click "$account" 167 128

# The schedule page, titled with the new task's name; the task is saved while it is shown.
bv_wait_until "the schedule page" window_shown '^Brackenvale_[0-9]{14}$'
page=$(window_named '^Brackenvale_[0-9]{14}$')
task_file=$XDG_DATA_HOME/brackenvale/tasks/$(xdotool getwindowname "$page").job
# The task's program: the first string of the .JOB variable-length section ([MS-TSCH] 2.4), after
# the 68-byte fixed section and the running instance count: a count of UTF-16 units with the
# terminating zero, then the units.
application_name() {
  local units
  units=$(od -An -tu2 -j 70 -N 2 "$task_file" | tr -d ' ')
  dd if="$task_file" bs=1 skip=72 count=$(((units - 1) * 2)) status=none | iconv -f UTF-16LE -t UTF-8
}
[ "$(application_name)" = "$root/usr/lib/brackenvale/Brackenrun" ] \
  || bv_fail "the task runs $(application_name), not the installed Brackenrun"

# OK on the page (its default button) saves the schedule and puts the tick into the crontab.
xdotool mousemove --window "$page" 20 20 && xdotool key Return
has_crontab() { [ -s "$BV_CRONTAB" ]; }
bv_wait_until "the crontab block" has_crontab
tick_line=$(grep '^\* \* \* \* \* ' "$BV_CRONTAB" || true)
[[ $tick_line == "* * * * * '$root/usr/lib/brackenvale/brackenvale-tick' "*"--quiet >/dev/null 2>&1" ]] \
  || bv_fail "the crontab block does not start the installed tick: $(cat "$BV_CRONTAB")"
[ "$(application_name)" = "$root/usr/lib/brackenvale/Brackenrun" ] || bv_fail "the saved task runs $(application_name)"

echo "The installed program shows its window and icon and finds its help page, Brackenrun and tick."
