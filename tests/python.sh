#!/bin/sh
# The Python package as a user gets it: a virtual environment that sees Debian's packages,
# `pip install` with no network, the package's pytest suite against the built tools, and
# mypy --strict over the package.
# Usage: python.sh BUILD_DIR SOURCE_DIR LIBRARY RELOGIO_VIRTUAL PONTO
set -eu
build=$1 fonte=$2 biblioteca=$3
venv="$build/python-venv"
copia="$build/python-pacote"
rm -rf "$venv" "$copia"
/usr/bin/python3 -m venv --system-site-packages "$venv"
# Built from a copy: setuptools writes its build folders beside the sources.
cp -r "$fonte/python" "$copia"
QUORVEL_BIBLIOTECA_CONSTRUIDA="$biblioteca" "$venv/bin/pip" install -q --no-build-isolation "$copia"
cd "$build"
# The embedded clocks of the ponto the tests run keep their state here, not in the home folder.
export XDG_STATE_HOME="$build/python-estado"
rm -rf "$XDG_STATE_HOME"
"$venv/bin/python" -c "import quorvel; print('quorvel', quorvel.__version__)"
RELOGIO_VIRTUAL=$4 PONTO=$5 "$venv/bin/python" -m pytest -q -p no:cacheprovider "$fonte/python/tests"
if "$venv/bin/python" -m mypy --version >/dev/null 2>&1; then
  "$venv/bin/python" -m mypy --strict --no-incremental "$venv"/lib/python3*/site-packages/quorvel
fi
