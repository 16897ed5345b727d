#!/usr/bin/env bash
# Makes sure the Debian or Ubuntu packages a command needs are installed.
#
#   ensure-packages.sh demo    what scripts/demo.sh uses: a compiler, CMake, make and
#                              PostgreSQL (server and client)
#   ensure-packages.sh test    all that, plus what scripts/test.sh uses
#   ensure-packages.sh --list demo|test
#                              print the package names and stop
#
# Installs only what is missing, with apt-get: as root directly, otherwise through
# sudo. When everything is there it installs nothing and asks nothing. When it
# cannot install (no apt-get, or neither root nor sudo) it names the missing
# packages and exits 1, so the caller stops before building anything.
set -euo pipefail

# What the scripts use, one line per package and proof of it:
#   NEEDED-BY  PACKAGE  KIND  WHAT
# NEEDED-BY is "demo" (the demo and the tests) or "test" (the tests only). KIND is
# "command" (WHAT is found on the search path) or "path" (a file matching the glob
# WHAT exists). A package may appear on several lines, one per thing used from it.
read -r -d '' table <<'TABLE' || true
demo  g++                          command  g++
demo  cmake                        command  cmake
demo  make                         command  make
demo  postgresql                   path     /usr/lib/postgresql/*/bin/initdb
demo  postgresql-client            command  psql
demo  nlohmann-json3-dev           path     /usr/include/nlohmann/json.hpp
demo  util-linux                   path     /sbin/runuser
test  libgtest-dev                 path     /usr/include/gtest/gtest.h
test  googletest                   path     /usr/src/googletest/CMakeLists.txt
test  g++-mingw-w64-x86-64-posix   command  x86_64-w64-mingw32-g++-posix
test  wine64                       path     /usr/lib/wine/wine64
test  clang                        command  clang++
test  libclang-rt-dev              path     /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a
test  util-linux                   path     /usr/bin/unshare
test  util-linux                   command  prlimit
test  mount                        command  mount
test  zip                          command  zip
test  dpkg-dev                     command  dpkg-shlibdeps
test  binutils                     command  objdump
test  gcc-mingw-w64-x86-64-posix   command  x86_64-w64-mingw32-gcc-posix
test  binutils-mingw-w64-x86-64    command  x86_64-w64-mingw32-objdump
test  bzip2                        command  bzip2
test  locales                      path     /usr/share/i18n/locales/ja_JP
test  locales                      path     /usr/share/i18n/charmaps/SHIFT_JIS.gz
test  npm                          command  npm
test  nodejs                       command  node
test  llvm                         command  llvm-objdump
test  openssl                      command  openssl
test  man-db                       command  man
test  groff-base                   command  groff
test  ansible-core                 command  ansible-playbook
TABLE

usage() {
    echo "usage: $0 [--list] demo|test" >&2
    exit 2
}

list=false
if [ "${1:-}" = --list ]; then
    list=true
    shift
fi
[ $# -eq 1 ] || usage
case $1 in
    demo) wanted='^demo$' ;;
    test) wanted='^(demo|test)$' ;;
    *) usage ;;
esac

present() {
    case $1 in
        command) command -v "$2" > /dev/null ;;
        path) compgen -G "$2" > /dev/null ;;
        *) echo "ensure-packages: unknown kind of check: $1" >&2; exit 2 ;;
    esac
}

# Fills `all` with the packages this command needs and `missing` with those whose
# check fails (each name once), and `unmet` with the failing checks themselves.
scan() {
    local needed_by package kind what
    all=() missing=() unmet=()
    while read -r needed_by package kind what; do
        [[ $needed_by =~ $wanted ]] || continue
        [[ " ${all[*]-} " == *" $package "* ]] || all+=("$package")
        present "$kind" "$what" && continue
        unmet+=("$what (from $package)")
        [[ " ${missing[*]-} " == *" $package "* ]] || missing+=("$package")
    done <<< "$table"
}
scan

if $list; then
    echo "${all[*]}"
    exit 0
fi
[ ${#missing[@]} -eq 0 ] && exit 0

install=(apt-get install -y --no-install-recommends "${missing[@]}")
cannot_install() {
    {
        echo "Missing packages: ${missing[*]}"
        echo "$1"
    } >&2
    exit 1
}

if ! command -v apt-get > /dev/null; then
    cannot_install "This machine has no apt-get: install the same tools with its own package manager (README.md, \"Other systems\")."
fi
if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo > /dev/null; then
    as_root=(sudo)
else
    cannot_install "Install them as root with: apt-get update && ${install[*]}"
fi

# env carries DEBIAN_FRONTEND through sudo, which resets the environment.
echo "Installing the missing packages: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive "${install[@]}"

# A package that installs but does not provide what was checked (another release
# may lay it out differently) is reported here rather than by a later build step.
scan
if [ ${#unmet[@]} -gt 0 ]; then
    echo "Still missing after the install: ${unmet[*]}" >&2
    exit 1
fi
