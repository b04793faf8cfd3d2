#!/bin/sh
# The shared library exports exactly the functions its public headers
# declare, each under the version node ZORBEL_1, as the Debian symbols file
# records them; and it binds its own calls of them inside itself.
#   symbols_test.sh LIBRARY HEADER... -- SYMBOLS_FILE CHANGELOG
set -eu
lib=$1
shift
headers=
while [ "$1" != -- ]; do headers="$headers $1"; shift; done
symbols_file=$2 changelog=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "symbols_test: $*" >&2; exit 1; }

# shellcheck disable=SC2086  # the header list is meant to be split
sed -n 's/^ZO_\(UUID_\)\{0,1\}API[^(]*[ *]\([a-z_]*\)(.*/\2/p' $headers | sort >"$work/declared"
[ "$(wc -l <"$work/declared")" -gt 20 ] || fail "found too few declarations in the headers"

nm -D --defined-only "$lib" | awk '{ print $NF }' | sort >"$work/exported"
{ echo ZORBEL_1; sed 's/$/@@ZORBEL_1/' "$work/declared"; } | sort >"$work/expected"
diff -u "$work/expected" "$work/exported" >&2 || fail "the exported symbols are not the public API under ZORBEL_1"

version=$(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$changelog")
head -n 1 "$symbols_file" | grep -qx 'libzorbel.so.1 libzorbel1 #MINVER#' || fail "symbols file header"
sed -n 's/^ \([^ ]*\) \(.*\)$/\1 \2/p' "$symbols_file" | sort >"$work/listed"
{ echo "ZORBEL_1@ZORBEL_1 $version"; sed "s/\$/@ZORBEL_1 $version/" "$work/declared"; } | sort >"$work/expected_listed"
diff -u "$work/expected_listed" "$work/listed" >&2 || fail "$symbols_file does not list the public API at $version"

# A call through the PLT or the GOT to one of its own functions could be
# bound to another object's function of that name.
readelf -rW "$lib" | awk '{ print $5 }' | sed 's/@.*//' | sort -u >"$work/relocated"
if comm -12 "$work/declared" "$work/relocated" | grep .; then
  fail "the library's calls of the functions above can bind outside it"
fi
