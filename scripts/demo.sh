#!/usr/bin/env bash
# Builds rolegate, starts a throwaway PostgreSQL server on a free loopback port,
# creates roles that show every verdict, runs rolegate against them with the demo
# password given on standard input, and removes the server again (also on Ctrl-C).
# First installs what it needs when that is missing (scripts/ensure-packages.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh demo

cmake --preset default -B build-demo -DROLEGATE_TESTS=OFF > /dev/null
cmake --build build-demo -j"$(nproc)" --target rolegate > /dev/null

password='demo-Pa55!'
dir=$(mktemp -d /tmp/rolegate-demo-XXXXXX)
trap 'scripts/pg-cluster.sh stop "$dir"' EXIT
trap 'exit 130' INT TERM HUP

port=$(scripts/pg-cluster.sh start "$dir" "$password")
PGPASSWORD=$password psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U postgres -d postgres <<'SQL'
create role halvern_admin superuser login;
create role halvern_main createdb createrole login;
create role halvern_weak createdb login;
create role halvern_int login;
create role halvern_locked nologin;
create role halvern_expired createdb createrole login valid until '2000-01-01';
create role halvern_nolimit login connection limit 0;
SQL
echo "Throwaway server on 127.0.0.1:$port; the connecting user is postgres, password $password."

demo() {
    echo
    echo "\$ rolegate $*      (password given on standard input)"
    printf '%s\n' "$password" | build-demo/rolegate "$@" || echo "(exit status $?)"
}

demo -h 127.0.0.1 -p "$port" -u postgres -m halvern_admin -i halvern_int
demo -h 127.0.0.1 -p "$port" -u postgres -m halvern_main -i halvern_locked
demo -h 127.0.0.1 -p "$port" -u postgres -m halvern_expired -i halvern_nolimit
demo -h 127.0.0.1 -p "$port" -u postgres -m halvern_weak
demo -h 127.0.0.1 -p "$port" -u postgres -m halvern_missing
demo -h 127.0.0.1 -p "$port"
