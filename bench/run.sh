#!/usr/bin/env bash
# Times a whole rolegate run checking two roles against the two psql queries it
# wraps, run directly with the same arguments and password, on a throwaway local
# server. Prints both medians over BENCH_RUNS runs (300 by default) and the ratio of the
# two sides, as the median of each run's own ratio and as the ratio of the medians.
# BENCH_SAME=1 times the two psql queries on both sides, which shows what the harness
# itself puts between them (a ratio of 1.00 when it favours neither).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${BENCH_RUNS:-300}
[[ $runs =~ ^[1-9][0-9]{0,5}$ ]] || { echo "bench: BENCH_RUNS must be a whole number from 1 to 999999" >&2; exit 1; }
[ -n "${EPOCHREALTIME:-}" ] || { echo "bench: needs bash 5 or later (EPOCHREALTIME)" >&2; exit 1; }

cmake --preset default -B build-bench -DROLEGATE_TESTS=OFF > /dev/null
cmake --build build-bench -j"$(nproc)" --target rolegate > /dev/null

password='bench-Pa55'
cluster='' dir=''
trap '[ -z "$cluster" ] || scripts/pg-cluster.sh stop "$cluster" || true; [ -z "$dir" ] || rm -rf "$dir"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
cluster=$(mktemp -d /tmp/rolegate-bench-cluster-XXXXXX)
dir=$(mktemp -d /tmp/rolegate-bench-XXXXXX)
# rolegate clears these for its psql, so that nothing but the arguments decides where
# it connects; the bare runs must not be sent elsewhere by them either.
unset PGSERVICE PGHOSTADDR
port=$(scripts/pg-cluster.sh start "$cluster" "$password")
PGPASSWORD=$password psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U postgres -d postgres \
    -c 'create role bench_main createdb createrole login' -c 'create role bench_int login'
args=(-h 127.0.0.1 -p "$port" -u postgres -m bench_main -i bench_int)

# The exact arguments rolegate hands psql, recorded once by a stand-in ahead of the
# real psql on the search path. The connection travels in psql's environment, which
# the bare runs below set the same way.
real_psql=$(command -v psql) || { echo "bench: no psql on the search path" >&2; exit 1; }
mkdir "$dir/wrap"
cat > "$dir/wrap/psql" <<WRAP
#!/bin/sh
printf '%s\0' "\$@" >> "$dir/calls"
printf '\n' >> "$dir/calls"
exec "$real_psql" "\$@"
WRAP
chmod +x "$dir/wrap/psql"
# The password comes from a file, as psql's comes from its environment: a pipe from
# printf would add a process of the shell's own to the tool's time.
printf '%s\n' "$password" > "$dir/password"
# Both roles must pass, or the runs below would time a check that failed early.
report=$(PATH="$dir/wrap:$PATH" build-bench/rolegate "${args[@]}" < "$dir/password")
grep -q '^Main PostgreSQL user: OK' <<< "$report" && grep -q '^Internal PostgreSQL user: OK' <<< "$report" ||
    { printf 'bench: the checks did not pass:\n%s\n' "$report" >&2; exit 1; }
[ "$(wc -l < "$dir/calls")" -eq 2 ] || { echo "bench: rolegate did not run psql twice" >&2; exit 1; }
mapfile -t -d '' first < <(sed -n 1p "$dir/calls" | tr -d '\n')
mapfile -t -d '' second < <(sed -n 2p "$dir/calls" | tr -d '\n')
[ ${#first[@]} -eq 4 ] && [ ${#second[@]} -eq 4 ] || { echo "bench: could not record psql's arguments" >&2; exit 1; }

connection() {
    PGHOST=127.0.0.1 PGPORT=$port PGUSER=postgres PGPASSWORD=$password PGDATABASE=postgres \
        PGCONNECT_TIMEOUT=10 PGAPPNAME=rolegate "$@"
}
median() { LC_ALL=C sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

bare_queries() {
    connection psql "${first[@]}" > /dev/null
    connection psql "${second[@]}" > /dev/null
}

# Each side timed in microseconds from bash's own clock, so that no process started to
# read the time (date, a command substitution) weighs on either; the sides take turns
# going first, so neither gains from following the other.
time_tool() {
    local start=${EPOCHREALTIME//[!0-9]/}
    if [ -n "${BENCH_SAME:-}" ]; then
        bare_queries
    else
        build-bench/rolegate "${args[@]}" < "$dir/password" > /dev/null
    fi
    echo $(( ${EPOCHREALTIME//[!0-9]/} - start )) >> "$dir/tool"
}
time_bare() {
    local start=${EPOCHREALTIME//[!0-9]/}
    bare_queries
    echo $(( ${EPOCHREALTIME//[!0-9]/} - start )) >> "$dir/bare"
}

: > "$dir/tool" && : > "$dir/bare"
for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then time_tool; time_bare; else time_bare; time_tool; fi
done

tool=$(median < "$dir/tool")
bare=$(median < "$dir/bare")
# Each run's two sides ran back to back, so their ratio is largely untouched by the
# machine growing slower or faster over the whole benchmark, which moves both medians:
# the median of that ratio over all runs is the benchmark's figure.
paired=$(paste "$dir/tool" "$dir/bare" | awk '{ print $1 / $2 }' | median)
label='rolegate, two roles:       '
[ -z "${BENCH_SAME:-}" ] || label='the two queries (BENCH_SAME):'
awk -v t="$tool" -v b="$bare" -v p="$paired" -v n="$runs" -v l="$label" 'BEGIN {
    printf "%s median %.1f ms over %d runs\n", l, t / 1e3, n
    printf "the two psql queries alone: median %.1f ms over %d runs\n", b / 1e3, n
    printf "ratio: %.3f (median of the per-run ratios); %.3f (of the medians)\n", p, t / b
}'
