# A throwaway PostgreSQL cluster inside a build folder: data, Unix socket and
# log under BUILD/pg, no TCP listener (unless PG_TCP_PORT is set: then it also
# listens on 127.0.0.1 at that port), run as an unprivileged user (nobody
# when started as root). Source this file, then:
#   pg_start BUILD     initdb (first time) and start; sets PG_SOCKET and PG_URL
#   pg_stop BUILD      fast stop (safe when not running)
#   pg_resume BUILD    start again after pg_stop
pg_bin=/usr/lib/postgresql/15/bin

pg_as() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- env HOME=/nonexistent "$@"
  else
    "$@"
  fi
}

pg_start() {
  local dir=$1/pg
  pg_stop "$1" || true  # a cluster left running would hold the socket
  rm -rf "$dir"
  mkdir -p "$dir"
  [ "$(id -u)" -ne 0 ] || chown nobody:nogroup "$dir"
  chmod 700 "$dir"
  pg_as "$pg_bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log"; return 1; }
  PG_SOCKET=$dir
  PG_URL="postgresql:///postgres?host=$dir&user=postgres${PG_TCP_PORT:+&port=$PG_TCP_PORT}"
  export PG_SOCKET PG_URL
  pg_resume "$1"
}

pg_resume() {
  local dir=$1/pg listen="-c listen_addresses="
  [ -z "${PG_TCP_PORT:-}" ] || listen="-c listen_addresses=127.0.0.1 -p $PG_TCP_PORT"
  pg_as "$pg_bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-k $dir $listen -c max_connections=200" start >/dev/null
}

pg_stop() {
  local dir=$1/pg
  [ -f "$dir/data/postmaster.pid" ] || return 0
  pg_as "$pg_bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null
}
