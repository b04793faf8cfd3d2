#!/bin/sh
# Installs the build into a temporary prefix, checks the layout, and builds
# programs against the installed library the way its users do: a C99
# program through pkg-config (shared and static), and the headers as C++.
#   install_test.sh BUILD_DIR CMAKE CC CXX LIBDIR [PROGRAM...]
# EXTRA_CFLAGS (environment) is added to every compile and link.
set -eu
build=$1 cmake=$2 cc=$3 cxx=$4 libdir=$5
shift 5
here=$(cd "$(dirname "$0")" && pwd)
extra=${EXTRA_CFLAGS:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/staged" >/dev/null
# Everything must work wherever the tree ends up.
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

for f in "$libdir/libzorbel.a" "$libdir/libzorbel.so" "$libdir/libzorbel.so.1" \
         include/zorbel.h include/zorbel_uuid.h "$libdir/pkgconfig/zorbel.pc" \
         share/xml/dtd/zorbel.dtd; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
[ -L "$prefix/$libdir/libzorbel.so" ] || fail "$libdir/libzorbel.so is not a link"
for p in "$@"; do
  [ -x "$prefix/sbin/$p" ] || fail "missing sbin/$p"
done
soname=$(objdump -p "$prefix/$libdir/libzorbel.so" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libzorbel.so.1 ] || fail "SONAME is '$soname'"

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --modversion zorbel)" = 1.1.4 ] || fail "wrong version"
pkg-config --print-requires zorbel | grep -qx 'libxml-2.0' || fail "does not require libxml-2.0"
[ -f "$(pkg-config --variable=dtddir zorbel)/zorbel.dtd" ] || fail "dtddir does not hold the DTD"

# shellcheck disable=SC2086  # the flag lists are meant to be split
$cc -std=c99 -pedantic -Wall -Wextra -Werror $extra "$here/init_registry.c" \
    $(pkg-config --cflags --libs zorbel) -o "$work/init_shared"
# shellcheck disable=SC2086
$cc -std=c99 -pedantic -Wall -Wextra -Werror $extra "$here/init_registry.c" $(pkg-config --cflags zorbel) \
    -L"$prefix/$libdir" -Wl,-Bstatic -lzorbel -Wl,-Bdynamic \
    $(pkg-config --static --libs zorbel | sed 's/-lzorbel\b//') -o "$work/init_static"
# shellcheck disable=SC2086
$cc -std=c99 -pedantic -Wall -Wextra -Werror $extra "$here/records.c" \
    $(pkg-config --cflags --libs zorbel) -o "$work/records_shared"
# shellcheck disable=SC2086
$cxx -std=c++20 -pedantic -Wall -Wextra -Werror $extra -fsyntax-only $(pkg-config --cflags zorbel) \
    "$here/headers.cpp"

root=$work/root
mkdir -p "$root/var/sadm/zorbel/registry"
cp "$prefix/share/xml/dtd/zorbel.dtd" "$root/var/sadm/zorbel/registry/"
first=$(LD_LIBRARY_PATH="$prefix/$libdir" "$work/init_shared" "$root") || fail "shared program failed"
echo "$first" | grep -Eqx 'urn:zo:[0-9a-f]{8}-[0-9a-f]{4}-1[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}' \
  || fail "bad registry URN '$first'"
# The second run validates the new registry against the installed DTD.
again=$("$work/init_static" "$root") || fail "static program failed"
[ "$again" = "$first" ] || fail "URN changed: '$first' then '$again'"
LD_LIBRARY_PATH="$prefix/$libdir" "$work/records_shared" "$root" >/dev/null || fail "records program failed"
LD_LIBRARY_PATH="$prefix/$libdir" ldd "$work/init_shared" | grep -q "$prefix/$libdir/libzorbel.so.1" \
  || fail "shared program does not use the installed library"
echo "install_test: ok ($first)"
