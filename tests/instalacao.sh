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
readelf -d "$LIBDIR/libquorvel.so" | grep -q 'SONAME.*libquorvel.so.11'
test -f "$TMP/pfx/share/man/man1/ponto.1"
# The service's unit, Type=notify, pointing at the ponto installed beside it.
grep -q "^ExecStart=$TMP/pfx/bin/ponto servico" "$TMP/pfx/lib/systemd/system/ponto-servico.service"
grep -q '^Type=notify$' "$TMP/pfx/lib/systemd/system/ponto-servico.service"
test -f "$TMP/pfx/share/man/man1/relogio-virtual.1"
"$TMP/pfx/bin/ponto" --version | grep -q '^ponto 11\.1\.0$'
"$TMP/pfx/bin/relogio-virtual" --version | grep -q '^relogio-virtual 11\.1\.0$'
echo "instalação conferida"
