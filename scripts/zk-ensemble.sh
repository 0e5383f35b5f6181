#!/usr/bin/env bash
# A three-server ZooKeeper ensemble on 127.0.0.1 for the store's ensemble tests, from Debian's
# `zookeeper` package. Every port (client, quorum, election) is bound to loopback only.
#   scripts/zk-ensemble.sh start DIR       starts servers 1, 2 and 3 with their data under
#                                          DIR/N, on free ports, waits until a leader and two
#                                          followers serve requests, and writes the client
#                                          address list to DIR/connect
#   scripts/zk-ensemble.sh stop DIR        stops every server of DIR by the pid in DIR/N/pid
#   scripts/zk-ensemble.sh leader DIR      prints the number of the current leader
#   scripts/zk-ensemble.sh kill N DIR      kills server N (SIGKILL) and no other
#   scripts/zk-ensemble.sh revive N DIR    starts server N again on its ports and data, and
#                                          waits until it has joined the quorum
# DIR/script names this script, so that whoever holds DIR (a test) can run it.
set -euo pipefail

command="${1:-}"
if [ "$command" = kill ] || [ "$command" = revive ]; then
  member="${2:-}"
  dir="${3:-}"
else
  member=""
  dir="${2:-}"
fi
if [ -z "$command" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop|leader DIR, or $0 kill|revive N DIR" >&2
  exit 2
fi
source "$(dirname "$0")/zk-common.sh"
zk_require_jar zk-ensemble

# The mode server $1 reports ("leader", "follower"), or nothing while it does not serve.
mode() {
  sed -n 's/^Mode: //p' <<<"$(zk_srvr "$(cat "$dir/$1/port")")"
}

# Three ports nothing listens on, distinct, for one member.
free_ports() {
  local found=() port
  while [ "${#found[@]}" -lt 3 ]; do
    port=$((20000 + RANDOM % 40000))
    port_free "$port" || continue
    [[ " ${found[*]} ${used[*]:-} " == *" $port "* ]] && continue
    found+=("$port")
  done
  echo "${found[@]}"
}

launch() {
  local n="$1"
  # setsid: the server leaves the group of whoever started it; it is stopped by its pid only.
  setsid java -Xmx512m -Dzookeeper.jmx.log4j.disable=true -cp "$zk_jar" \
    org.apache.zookeeper.server.quorum.QuorumPeerMain "$dir/$n/zoo.cfg" \
    >>"$dir/$n/server.out" 2>&1 </dev/null &
  echo $! >"$dir/$n/pid"
}

stop_member() {
  stop_by_pid_file "$dir/$1/pid" "${2:-TERM}"
}

# Waits up to 60 s until every member in "$@" serves as leader or follower.
wait_serving() {
  local n all
  for _ in $(seq 600); do
    all=1
    for n in "$@"; do
      case "$(mode "$n")" in leader | follower) ;; *) all=0 ;; esac
    done
    [ "$all" = 1 ] && return 0
    sleep 0.1
  done
  echo "zk-ensemble: servers $* not serving within 60 s (see $dir/N/server.out)" >&2
  return 1
}

start() {
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  echo "$(cd "$(dirname "$0")" && pwd)/$(basename "$0")" >"$dir/script"
  local n used=() ports servers="" connect=""
  for n in 1 2 3; do
    if [ -f "$dir/$n/pid" ] && kill -0 "$(cat "$dir/$n/pid")" 2>/dev/null; then
      echo "zk-ensemble: server $n already running" >&2
      exit 1
    fi
    mkdir -p "$dir/$n/data"
    echo "$n" >"$dir/$n/data/myid"
    read -r -a ports <<<"$(free_ports)"
    used+=("${ports[@]}")
    echo "${ports[0]}" >"$dir/$n/port"
    servers+="server.$n=127.0.0.1:${ports[1]}:${ports[2]}"$'\n'
    connect+="${connect:+,}127.0.0.1:${ports[0]}"
  done
  for n in 1 2 3; do
    cat >"$dir/$n/zoo.cfg" <<CFG
tickTime=500
initLimit=20
syncLimit=4
minSessionTimeout=1000
dataDir=$dir/$n/data
clientPort=$(cat "$dir/$n/port")
clientPortAddress=127.0.0.1
maxClientCnxns=0
admin.enableServer=false
4lw.commands.whitelist=srvr
autopurge.snapRetainCount=3
autopurge.purgeInterval=1
$servers
CFG
    launch "$n"
  done
  echo "$connect" >"$dir/connect"
  if ! wait_serving 1 2 3; then
    for n in 1 2 3; do stop_member "$n"; done
    exit 1
  fi
  echo "zk-ensemble: $connect"
}

case "$command" in
  start) start ;;
  stop) for n in 1 2 3; do stop_member "$n"; done ;;
  leader)
    for n in 1 2 3; do
      [ "$(mode "$n")" = leader ] && { echo "$n"; exit 0; }
    done
    echo "zk-ensemble: no leader" >&2
    exit 1
    ;;
  kill) stop_member "$member" KILL ;;
  revive)
    launch "$member"
    wait_serving "$member"
    ;;
  *) echo "usage: $0 start|stop|leader DIR, or $0 kill|revive N DIR" >&2; exit 2 ;;
esac
