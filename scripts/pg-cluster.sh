#!/usr/bin/env bash
# Throwaway PostgreSQL cluster for the demo and the tests.
#
#   pg-cluster.sh start DIR PASSWORD   initdb into DIR/data, start a server on a free
#                                      loopback port with password authentication and
#                                      its socket in DIR/socket; prints the port (also
#                                      kept in DIR/port). The superuser is "postgres".
#   pg-cluster.sh stop DIR             stop that server and remove DIR.
#
# Run as root, the server runs as the "postgres" user. With PG_BINDIR set, the server
# is the one in that folder (initdb, pg_ctl and postgres, their libraries in
# PG_BINDIR/../lib, as scripts/pg-majors.sh unpacks them); otherwise the newest one
# installed. As root, when "postgres" may not run the programs where they are (the
# folders above PG_BINDIR do not let it through: a checkout under /root, a home folder
# of mode 0750), that folder's tree (its bin, lib and share) is copied into DIR/server
# and the server runs from there.
set -euo pipefail

find_bindir() {
    local dir
    if [ -n "${PG_BINDIR:-}" ]; then
        echo "$PG_BINDIR"
        return
    fi
    for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
        [ -x "$dir/pg_ctl" ] && { echo "$dir"; return; }
    done
    dirname "$(command -v pg_ctl)"
}

# The server's programs for the cluster in DIR: its own copy when start made one.
server_bindir() {
    local dir=$1
    if [ -n "${PG_BINDIR:-}" ] && [ -d "$dir/server" ]; then
        echo "$dir/server/$(basename "$PG_BINDIR")"
    else
        find_bindir
    fi
}

# Copies the tree of PG_BINDIR into DIR/server, readable by every user.
copy_server() {
    local dir=$1 tree part
    tree=$(cd "$PG_BINDIR/.." && pwd -P)
    mkdir "$dir/server"
    for part in "$(basename "$PG_BINDIR")" lib share; do
        [ -d "$tree/$part" ] && cp -a "$tree/$part" "$dir/server/"
    done
    chmod -R a+rX "$dir/server"
}

# runuser starts the command with a fresh environment: the library path is handed on
# explicitly. `bindir` is the server's programs. (No array: an empty one is an unset
# variable to set -u in bash before 4.4, which macOS still ships.)
as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- env ${PG_BINDIR:+"LD_LIBRARY_PATH=$bindir/../lib"} "$@"
    else
        env ${PG_BINDIR:+"LD_LIBRARY_PATH=$bindir/../lib"} "$@"
    fi
}

start() {
    local dir=$1 password=$2 bindir port tries
    mkdir -p "$dir/data" "$dir/socket"
    [ "$(id -u)" -eq 0 ] && chown -R postgres: "$dir"
    chmod 700 "$dir"
    if [ "$(id -u)" -eq 0 ] && [ -n "${PG_BINDIR:-}" ] &&
        ! runuser -u postgres -- test -x "$PG_BINDIR/initdb"; then
        copy_server "$dir"
    fi
    bindir=$(server_bindir "$dir")
    (umask 077; printf '%s\n' "$password" > "$dir/pwfile")
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir/pwfile"
    as_server "$bindir/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C --no-sync \
        --auth-local=scram-sha-256 --auth-host=scram-sha-256 --pwfile="$dir/pwfile" \
        > "$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    rm -f "$dir/pwfile"
    cat >> "$dir/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir/socket'
fsync = off
CONF
    for tries in 1 2 3 4 5 6 7 8 9 10; do
        port=$((20000 + RANDOM % 30000))
        if as_server "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
            -o "-p $port" start > /dev/null 2>&1; then
            echo "$port" > "$dir/port"
            echo "$port"
            return 0
        fi
    done
    cat "$dir/server.log" >&2
    exit 1
}

stop() {
    local dir=$1 bindir
    if [ -f "$dir/data/postmaster.pid" ]; then
        bindir=$(server_bindir "$dir")
        as_server "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop > /dev/null 2>&1 || true
    fi
    rm -rf "$dir"
}

case "${1:-}" in
    start) [ $# -eq 3 ] || { echo "usage: $0 start DIR PASSWORD" >&2; exit 2; }; start "$2" "$3" ;;
    stop) [ $# -eq 2 ] || { echo "usage: $0 stop DIR" >&2; exit 2; }; stop "$2" ;;
    *) echo "usage: $0 start DIR PASSWORD | stop DIR" >&2; exit 2 ;;
esac
