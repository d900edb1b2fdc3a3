#!/bin/sh
# The native stand-in server for the Windows tests under Wine, as a CTest fixture:
#   host_standin.sh start STATE_DIR STANDIN   starts it on 127.0.0.1 at an ephemeral port, SSRP
#                                             off, with a fresh data folder, and leaves its port,
#                                             the sa password and a scratch folder in STATE_DIR;
#   host_standin.sh stop STATE_DIR            stops it.
# Its output goes to STATE_DIR/log, never to CTest's pipes, so CTest does not wait for it.
set -eu
action=$1
state=$2

stop() {
  if [ -f "$state/pid" ]; then
    kill "$(cat "$state/pid")" 2>/dev/null || true
    rm -f "$state/pid"
  fi
}

case "$action" in
  start)
    standin=$3
    if [ ! -x "$standin" ]; then
      echo "No stand-in server at $standin: build the native tree first" \
           "(cmake --preset default && cmake --build --preset default --target standin)." >&2
      exit 1
    fi
    stop
    rm -rf "$state"
    mkdir -p "$state/data" "$state/scratch"
    password="Sa-pass;w'rd1"   # holds ";" and "'" on purpose
    printf '%s' "$password" >"$state/password"
    "$standin" --port 0 --ssrp-port 0 --no-ipv6 --data "$state/data" --sa-password "$password" \
      </dev/null >"$state/log" 2>&1 &
    echo $! >"$state/pid"
    tries=0
    while [ $tries -lt 200 ]; do
      port=$(sed -n 's/^standin listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$state/log")
      if [ -n "$port" ]; then
        printf '%s' "$port" >"$state/port"
        echo "stand-in server on 127.0.0.1:$port (pid $(cat "$state/pid"))"
        exit 0
      fi
      kill -0 "$(cat "$state/pid")" 2>/dev/null || break
      sleep 0.1
      tries=$((tries + 1))
    done
    cat "$state/log" >&2
    echo "The stand-in server did not start." >&2
    stop
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: host_standin.sh start STATE_DIR STANDIN | stop STATE_DIR" >&2
    exit 2
    ;;
esac
