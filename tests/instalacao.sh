#!/bin/sh
# Installs the build into a temporary prefix and builds a program of another project against
# it, once with find_package and once with pkg-config; checks what the shared library exports.
set -eu
BUILD=$1
SRC=$2
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
cmake --install "$BUILD" --prefix "$TMP/pfx" > "$TMP/install.log"
LIBDIR=$(dirname "$(find "$TMP/pfx" -name 'libquorvel++.a' | head -1)")

cmake -S "$SRC/examples/consumidor" -B "$TMP/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$TMP/pfx" > "$TMP/cmake.log"
cmake --build "$TMP/cmake" > "$TMP/build.log"
"$TMP/cmake/consumidor" | grep "marcações coletadas"

export PKG_CONFIG_PATH="$LIBDIR/pkgconfig"
# shellcheck disable=SC2046
c++ "$SRC/examples/consumidor/main.cpp" $(pkg-config --cflags --libs quorvel) -o "$TMP/pkgconfig"
"$TMP/pkgconfig" | grep "marcações coletadas"

# Only the C boundary leaves the late-binding library: no C++ symbol.
if nm -D --defined-only "$LIBDIR/libquorvel.so" | awk '{print $3}' | grep -v -E '^(quorvel_[a-z_]+|Dll[A-Za-z]+|QUORVEL_11)(@@QUORVEL_11)?$'; then
  echo "símbolos além da fronteira C exportados" >&2
  exit 1
fi
# Exactly what the installed header declares, and nothing of the tests' (their hooks live in
# libquorvel-teste.so, which is not installed).
grep -o -E '\bquorvel_[a-z0-9_]+\(' "$TMP/pfx/include/quorvel/quorvel.h" | tr -d '(' | sort -u > "$TMP/declarados"
nm -D --defined-only "$LIBDIR/libquorvel.so" | awk '{print $3}' | sed 's/@.*//' | grep '^quorvel_' | sort -u > "$TMP/exportados"
if ! diff -u "$TMP/declarados" "$TMP/exportados"; then
  echo "o que libquorvel.so exporta difere do que quorvel.h declara" >&2
  exit 1
fi
! ls "$LIBDIR" | grep -q teste
readelf -d "$LIBDIR/libquorvel.so" | grep -q 'SONAME.*libquorvel.so.11'
test -f "$TMP/pfx/share/man/man1/ponto.1"
test -f "$TMP/pfx/share/doc/quorvel/LICENSE"
test -f "$TMP/pfx/share/doc/quorvel/CHANGELOG.md"
# The service's unit, Type=notify, pointing at the ponto installed beside it.
grep -q "^ExecStart=$TMP/pfx/bin/ponto servico" "$TMP/pfx/lib/systemd/system/ponto-servico.service"
grep -q '^Type=notify$' "$TMP/pfx/lib/systemd/system/ponto-servico.service"
test -f "$TMP/pfx/share/man/man1/relogio-virtual.1"
"$TMP/pfx/bin/ponto" --version | grep -q '^ponto 11\.1\.0$'
"$TMP/pfx/bin/relogio-virtual" --version | grep -q '^relogio-virtual 11\.1\.0$'
# A distribution's layout: prefix /usr, a multiarch libdir. The .pc files, staged where a
# package puts them, name the staged libdir and includedir.
cmake -S "$SRC" -B "$TMP/multiarch" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_INSTALL_LIBDIR=lib/x86_64-linux-gnu -DQUORVEL_BUILD_BENCHMARKS=OFF > "$TMP/multiarch.log"
mkdir -p "$TMP/stage/usr/lib/x86_64-linux-gnu/pkgconfig"
cp "$TMP/multiarch/quorvel.pc" "$TMP/multiarch/quorvel-c.pc" "$TMP/stage/usr/lib/x86_64-linux-gnu/pkgconfig/"
for pc in quorvel quorvel-c; do
  libdir=$(PKG_CONFIG_PATH="$TMP/stage/usr/lib/x86_64-linux-gnu/pkgconfig" pkg-config --variable=libdir $pc)
  includedir=$(PKG_CONFIG_PATH="$TMP/stage/usr/lib/x86_64-linux-gnu/pkgconfig" pkg-config --variable=includedir $pc)
  test "$(realpath -m "$libdir")" = "$TMP/stage/usr/lib/x86_64-linux-gnu" || { echo "$pc: libdir $libdir" >&2; exit 1; }
  test "$(realpath -m "$includedir")" = "$TMP/stage/usr/include" || { echo "$pc: includedir $includedir" >&2; exit 1; }
done
echo "instalação conferida"
