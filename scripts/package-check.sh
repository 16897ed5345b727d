#!/usr/bin/env bash
# Makes the .deb (from build/) and the Windows .zip (from build-windows/), checks what
# they hold, installs the .deb with dpkg and runs the installed rolegate, then removes
# it again. Needs root for dpkg, and both builds configured (scripts/test.sh does it).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "package-check: $*" >&2; exit 1; }

(cd build && cpack > /dev/null)
(cd build-windows && cpack > /dev/null)
deb=$(ls build/packages/rolegate_*.deb)
zip=$(ls build-windows/packages/rolegate-*-windows-x64.zip)

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/rolegate ./usr/share/man/man1/rolegate.1; do
    grep -q " $path\$" <<< "$contents" || fail "$deb lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -q postgresql-client || fail "$deb does not depend on postgresql-client"

[ "$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')" = "README.txt rolegate.exe " ] ||
    fail "$zip should hold exactly rolegate.exe and README.txt"

dpkg -i "$deb" > /dev/null
trap 'dpkg -r rolegate > /dev/null' EXIT
status=0
usage=$(/usr/bin/rolegate) || status=$?
[ "$status" -eq 1 ] || fail "installed rolegate without arguments exited $status, not 1"
[ "$(head -n 1 <<< "$usage")" = "Usage:" ] || fail "installed rolegate printed no usage: $usage"
if command -v man > /dev/null; then
    man -l /usr/share/man/man1/rolegate.1 2> /dev/null | grep -q '^EXIT STATUS' ||
        fail "the installed man page does not render"
fi
echo "package-check: $(basename "$deb") and $(basename "$zip") are complete; the installed rolegate prints its usage"
