#!/usr/bin/env bash
# Checks that a release is reproducible: clones the committed tree (HEAD) twice, into
# two temporary folders of different names and depths, runs scripts/release.sh in each
# one after the other (the second with another umask, time zone, locale and temporary
# folder) and compares the two releases file by file. Any difference fails the check
# and names the file. Uncommitted changes take no part. In a copy of the sources that
# is no git checkout, the copy itself is copied twice instead.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() { echo "repro-check: $*" >&2; exit 1; }

# A git checkout gives its committed HEAD; a plain copy of the sources (no git, or
# no repository) is copied as it is, file times included.
if commit=$(git rev-parse HEAD 2> /dev/null); then
    git diff --quiet HEAD 2> /dev/null ||
        echo "repro-check: uncommitted changes are left out; building $commit" >&2
    what=$(git rev-parse --short HEAD)
else
    commit=
    what="the sources in $root"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/rolegate-repro-XXXXXX")
trap 'rm -rf "$work"' EXIT

# release NAME: clones HEAD into $work/NAME/src and writes its release to $work/NAME/out.
release() {
    local dir=$work/$1
    mkdir -p "$dir"
    if [ -n "$commit" ]; then
        git clone -q --shared --no-checkout "$root" "$dir/src"
        git -C "$dir/src" checkout -q --detach "$commit"
    else
        mkdir "$dir/src"
        tar -C "$root" -cf - --exclude='./build*' --exclude=./out . | tar -C "$dir/src" -xpf -
    fi
    (cd "$dir/src" && env -u SOURCE_DATE_EPOCH scripts/release.sh "$dir/out") > "$dir/log" 2>&1 ||
        { cat "$dir/log" >&2; fail "the release build in $dir/src failed"; }
}

start=$SECONDS
release one
(
    umask 0077
    mkdir -p "$work/tmp-two"
    export TZ=Pacific/Chatham LANG=C.UTF-8 LC_ALL=C.UTF-8 TMPDIR=$work/tmp-two
    release another/build/two
)

one=$work/one/out two=$work/another/build/two/out
[ "$(ls "$one")" = "$(ls "$two")" ] ||
    fail "the two releases hold different files: $(echo $(ls "$one")) / $(echo $(ls "$two"))"
differ=()
for file in $(ls "$one"); do
    cmp -s "$one/$file" "$two/$file" || differ+=("$file")
done
[ ${#differ[@]} -eq 0 ] || fail "two builds of $what differ in: ${differ[*]}"
echo "repro-check: two release builds of $what from two copies are the" \
    "same byte for byte ($(echo $(ls "$one"))), in $((SECONDS - start)) s"
