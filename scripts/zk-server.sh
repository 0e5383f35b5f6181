#!/usr/bin/env bash
# A standalone ZooKeeper server for the store tests and benchmarks, from Debian's `zookeeper`
# package, listening on 127.0.0.1 only.
#   scripts/zk-server.sh start DIR     starts a server with its data, configuration and log
#                                      under DIR, on a free port (written to DIR/port), waits
#                                      until it serves requests, and writes its pid to DIR/pid
#   scripts/zk-server.sh stop DIR      stops the server whose pid is in DIR/pid, and no other
#   scripts/zk-server.sh restart DIR   stop, then start again on the same port and data
# A start on a DIR that has a port file reuses that port and the data already there. DIR/script
# names this script, so that whoever holds DIR (a test) can stop or restart the server.
set -euo pipefail

command="${1:-}"
dir="${2:-}"
if [ -z "$command" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop|restart DIR" >&2
  exit 2
fi
source "$(dirname "$0")/zk-common.sh"
zk_require_jar zk-server

# Whether a server on 127.0.0.1:$1 serves requests.
answers() {
  [[ "$(zk_srvr "$1")" == *"Mode: standalone"* ]]
}

stop() {
  stop_by_pid_file "$dir/pid"
}

start() {
  mkdir -p "$dir/data"
  dir="$(cd "$dir" && pwd)"
  echo "$(cd "$(dirname "$0")" && pwd)/$(basename "$0")" >"$dir/script"
  if [ -f "$dir/pid" ] && kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
    echo "zk-server: already running with pid $(cat "$dir/pid")" >&2
    exit 1
  fi
  local port attempt
  for attempt in $(seq 20); do
    if [ -f "$dir/port" ]; then
      port="$(cat "$dir/port")"
    else
      port=$((20000 + RANDOM % 40000))
      port_free "$port" || continue
    fi
    cat >"$dir/zoo.cfg" <<CFG
tickTime=500
minSessionTimeout=1000
dataDir=$dir/data
clientPort=$port
clientPortAddress=127.0.0.1
maxClientCnxns=0
admin.enableServer=false
4lw.commands.whitelist=srvr
autopurge.snapRetainCount=3
autopurge.purgeInterval=1
CFG
    # setsid: the server leaves the process group of whoever started it, so it is stopped
    # only by its pid, through `stop`.
    setsid java -Xmx2g -Dzookeeper.jmx.log4j.disable=true -cp "$zk_jar" \
      org.apache.zookeeper.server.ZooKeeperServerMain "$dir/zoo.cfg" \
      >>"$dir/server.out" 2>&1 </dev/null &
    local pid=$!
    echo "$pid" >"$dir/pid"
    for _ in $(seq 300); do
      if answers "$port"; then
        echo "$port" >"$dir/port"
        echo "zk-server: pid $pid on 127.0.0.1:$port"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    stop
    # A port taken by someone else between the check and the bind: try another one, unless
    # the port was fixed by an earlier start.
    if [ -f "$dir/port" ]; then
      echo "zk-server: no answer on 127.0.0.1:$port (see $dir/server.out)" >&2
      exit 1
    fi
  done
  echo "zk-server: could not start (see $dir/server.out)" >&2
  exit 1
}

case "$command" in
  start) start ;;
  stop) stop ;;
  restart) stop; start ;;
  *) echo "usage: $0 start|stop|restart DIR" >&2; exit 2 ;;
esac
