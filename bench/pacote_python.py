#!/usr/bin/env python3
"""Punches per second of a 1,000,000-punch collection through the Python package beside the
C++ tool `ponto coletar` of the same clock, measured in one run (not a test).

Usage: python3 bench/pacote_python.py [BUILD_DIR]   (the package must be importable: run it
with the virtual environment `make test` builds, build/python-venv/bin/python)."""

from __future__ import annotations

import os
import resource
import subprocess
import sys
import time

import quorvel
from relogio_semeado import relogio_semeado

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build")
TOTAL = 1_000_000


def main() -> None:
    with relogio_semeado(BUILD, TOTAL, "tarvenix") as (_, porta):
        # The C++ tool, whole process: collection and CSV output to /dev/null.
        inicio = time.perf_counter()
        antes = resource.getrusage(resource.RUSAGE_CHILDREN)
        with open(os.devnull, "w") as nulo:
            subprocess.run([os.path.join(BUILD, "tools/ponto/ponto"), "coletar", "--relogio", "1",
                            "--ip", f"127.0.0.1:{porta}", "--modelo", "tarvenix",
                            "--formato", "csv"], stdout=nulo, check=True)
        ponto_s = time.perf_counter() - inicio
        depois = resource.getrusage(resource.RUSAGE_CHILDREN)
        ponto_cpu = (depois.ru_utime + depois.ru_stime) - (antes.ru_utime + antes.ru_stime)

        # The package: connect, collect, and iterate every punch as a Marcacao.
        inicio = time.perf_counter()
        cpu0 = time.process_time()
        with quorvel.Controle() as c:
            c.adicionar(quorvel.Relogio(1, quorvel.Modelo.TARVENIX, ip="127.0.0.1", porta=porta))
            c.conectar(1)
            coletadas = time.perf_counter()
            lista = c.coletar(1)
            coleta_s = time.perf_counter() - coletadas
            iterar = time.perf_counter()
            n = sum(1 for _ in lista)
            iterar_s = time.perf_counter() - iterar
        pacote_s = time.perf_counter() - inicio
        pacote_cpu = time.process_time() - cpu0
        assert n == TOTAL, n
        print(f"ponto coletar --formato csv: {ponto_s:.2f} s ({TOTAL / ponto_s:,.0f} marcações/s, "
              f"CPU {ponto_cpu:.2f} s)")
        print(f"pacote Python (coletar + iterar {n:,} Marcacao): {pacote_s:.2f} s "
              f"({TOTAL / pacote_s:,.0f} marcações/s, CPU {pacote_cpu:.2f} s; a coleta em si "
              f"{coleta_s:.2f} s, a iteração {iterar_s:.2f} s)")
        print(f"razão pacote/ponto: {pacote_s / ponto_s:.2f}x (meta: até 2x)")
        pico = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        print(f"pico de memória do processo Python: {pico:.0f} MB")


if __name__ == "__main__":
    main()
