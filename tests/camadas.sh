#!/bin/sh
# The layer check the build runs: the tree as it is passes; a control file that includes the
# network backend, a clock file that includes the control, and a folder no layer owns each fail,
# naming what is wrong.
set -eu
SRC=$1
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
confere() {
  cmake -DRAIZ="$TMP/arvore" -DMARCA="$TMP/ok" -P "$TMP/arvore/cmake/verifica_camadas.cmake" \
    > "$TMP/saida" 2>&1
}
copia() {
  rm -rf "$TMP/arvore"
  mkdir -p "$TMP/arvore"
  cp -r "$SRC/cmake" "$SRC/include" "$SRC/src" "$SRC/tools" "$TMP/arvore/"
}
espera_falha() {
  if confere; then
    echo "a verificação aceitou: $1"
    exit 1
  fi
  grep -F "$2" "$TMP/saida" > /dev/null || { echo "sem \"$2\" em:"; cat "$TMP/saida"; exit 1; }
}

copia
confere || { cat "$TMP/saida"; exit 1; }

echo '#include "sdk/rede/enlace.h"' >> "$TMP/arvore/src/control/relogio.cpp"
espera_falha "o controle incluindo o backend de rede" \
  "src/control/relogio.cpp: inclui sdk/rede/enlace.h (camada rede), mas a camada controle só usa: controle, comum"

copia
echo '#include "quorvel/comunicacao_zk.h"' >> "$TMP/arvore/src/sdk/leitura_virtual.cpp"
espera_falha "o relógio virtual incluindo o controle" \
  "src/sdk/leitura_virtual.cpp: inclui quorvel/comunicacao_zk.h (camada controle)"

copia
mkdir -p "$TMP/arvore/src/novo"
echo '#include "quorvel/erro.h"' > "$TMP/arvore/src/novo/novo.cpp"
espera_falha "uma pasta sem camada" "a pasta src/novo não tem camada"

copia
echo '#pragma once' > "$TMP/arvore/include/quorvel/novo.h"
espera_falha "um cabeçalho público sem camada" "quorvel/novo.h: cabeçalho público sem camada"
echo "camadas conferidas"
