# What scripts/zk-server.sh and scripts/zk-ensemble.sh share; sourced, not run.

zk_jar=/usr/share/java/zookeeper.jar

# Exits unless Debian's zookeeper package is installed; $1 names the caller in the message.
zk_require_jar() {
  [ -f "$zk_jar" ] || { echo "$1: $zk_jar missing (apt-get install zookeeper)" >&2; exit 1; }
}

# The reply of the server on 127.0.0.1:$1 to `srvr` (its mode appears only once its data is
# loaded), or nothing when it does not answer within 2 s.
zk_srvr() {
  timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1 && printf srvr >&3 && cat <&3" \
    2>/dev/null || true
}

# Whether nothing listens on 127.0.0.1:$1.
port_free() {
  ! timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null
}

# Stops the process whose pid is in file $1 with signal $2 (default TERM), then SIGKILL after
# 10 s, waits until it is gone, and removes the file. Touches no other process.
stop_by_pid_file() {
  local file="$1" signal="${2:-TERM}" pid
  [ -f "$file" ] || return 0
  pid="$(cat "$file")"
  if kill -0 "$pid" 2>/dev/null; then
    kill "-$signal" "$pid"
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  rm -f "$file"
}
