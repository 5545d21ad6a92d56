#!/usr/bin/env python3
"""`ponto coletar` of 1,000,000 punches over loopback, whole process, in CSV and JSON: wall time,
punches per second, the CPU of ponto and of the daemon, and ponto's peak memory. Both models;
for the register clock also `ponto afd`, the clock's own fiscal file of those 1,000,000 records
(beside the collection of the same punches). Not a test: figures for people.

Usage: python3 bench/saida_ponto.py [BUILD_DIR] [OTHER_PONTO ...]
Every ponto given after the build folder (an older build, say) is measured in the same run, in
turn with the build's own, against the same daemon. Each figure is the median of RODADAS runs
(5; the environment variable RODADAS changes it), the pontos taking turns run by run, so that
a moment of load on a shared machine moves one run and not the figure; the fastest run is
shown beside it."""

from __future__ import annotations

import os
import resource
import statistics
import subprocess
import sys
import time

from relogio_semeado import relogio_semeado

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build")
OUTROS = sys.argv[2:]
TOTAL = 1_000_000
RODADAS = int(os.environ.get("RODADAS", "5"))


def cpu_do_processo(pid: int) -> float:
    with open(f"/proc/{pid}/stat") as f:
        campos = f.read().rsplit(")", 1)[1].split()
    return (int(campos[11]) + int(campos[12])) / os.sysconf("SC_CLK_TCK")


def mede(ponto: str, porta: int, modelo: str, formato: str, daemon: int) -> dict:
    daemon_antes = cpu_do_processo(daemon)
    inicio = time.perf_counter()
    relogio = ["--relogio", "1", "--ip", f"127.0.0.1:{porta}", "--modelo", modelo]
    comando = ["afd", "--saida", "-"] if formato == "afd" else ["coletar", "--formato", formato]
    with open(os.devnull, "w") as nulo:
        p = subprocess.Popen([ponto] + comando + relogio, stdout=nulo)
        _, status, uso = os.wait4(p.pid, 0)
    parede = time.perf_counter() - inicio
    assert os.waitstatus_to_exitcode(status) == 0, status
    return {"parede": parede, "cpu": uso.ru_utime + uso.ru_stime,
            "daemon": cpu_do_processo(daemon) - daemon_antes, "pico": uso.ru_maxrss / 1024}


def resumo(rodadas: list) -> str:
    def mediana(chave: str) -> float:
        return statistics.median(r[chave] for r in rodadas)
    parede = mediana("parede")
    melhor = min(r["parede"] for r in rodadas)
    return (f"{parede:6.2f} s  {TOTAL / parede / 1e6:5.2f} M/s (melhor {TOTAL / melhor / 1e6:5.2f})  "
            f"CPU ponto {mediana('cpu'):5.2f} s  daemon {mediana('daemon'):5.2f} s  "
            f"pico {max(r['pico'] for r in rodadas):4.0f} MB")


def main() -> None:
    pontos = [os.path.join(BUILD, "tools/ponto/ponto")] + OUTROS
    for modelo in ("tarvenix", "quorvel"):
        with relogio_semeado(BUILD, TOTAL, modelo) as (daemon, porta):
            for formato in ("csv", "json") + (("afd",) if modelo == "tarvenix" else ()):
                rodadas = {ponto: [] for ponto in pontos}
                for _ in range(RODADAS):
                    for ponto in pontos:
                        rodadas[ponto].append(mede(ponto, porta, modelo, formato, daemon.pid))
                for ponto in pontos:
                    print(f"{modelo:8} {formato:4} {ponto:40} {resumo(rodadas[ponto])}", flush=True)
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    print(f"CPU: {cpu}, {os.cpu_count()} núcleos")


if __name__ == "__main__":
    main()
