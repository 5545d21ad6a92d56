#!/usr/bin/env python3
"""The collector's web page on a site of 100 clocks: the CPU of `ponto servico` over a minute
with no page open (the baseline, same run) and with 20 pages open (each watching the events
stream and asking for its two charts every 5 s, as the page does while punches arrive), and
the time from a punch's stamp on its clock to its event on a page. Not a test: figures for
people.

Usage: python3 bench/painel_web.py [BUILD_DIR] [SEGUNDOS]"""

from __future__ import annotations

import http.client
import os
import subprocess
import sys
import tempfile
import threading
import time
import json
from datetime import datetime

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build")
SEGUNDOS = float(sys.argv[2]) if len(sys.argv) > 2 else 60
PONTO = os.path.join(BUILD, "tools/ponto/ponto")
RELOGIO = os.path.join(BUILD, "tools/relogio-virtual/relogio-virtual")
RELOGIOS = 100
PAGINAS = 20


def cpu(pid: int) -> float:
    with open(f"/proc/{pid}/stat") as f:
        campos = f.read().rsplit(")", 1)[1].split()
    return (int(campos[11]) + int(campos[12])) / os.sysconf("SC_CLK_TCK")


def rss_mb(pid: int) -> float:
    for linha in open(f"/proc/{pid}/status"):
        if linha.startswith("VmRSS:"):
            return int(linha.split()[1]) / 1024
    return 0


class Pagina(threading.Thread):
    def __init__(self, porta: int, fim: threading.Event):
        super().__init__(daemon=True)
        self.porta, self.fim = porta, fim
        self.marcacoes = 0
        self.graficos = 0
        self.atrasos: list[float] = []

    def run(self) -> None:
        try:
            self.acompanha()
        except OSError:
            if not self.fim.is_set():  # the service went away only at the end
                raise

    def acompanha(self) -> None:
        c = http.client.HTTPConnection("127.0.0.1", self.porta, timeout=30)
        c.request("GET", "/api/eventos")
        r = c.getresponse()
        proximo = time.monotonic()
        tipo = None
        while not self.fim.is_set():
            linha = r.readline().decode()
            if linha.startswith("event: "):
                tipo = linha[7:].strip()
            elif linha.startswith("data: ") and tipo == "marcacao":
                m = json.loads(linha[6:])
                self.marcacoes += 1
                feita = datetime.strptime(m["data_hora"], "%Y-%m-%d %H:%M:%S").timestamp()
                self.atrasos.append(time.time() - feita)
            if time.monotonic() >= proximo:
                # A connection per refresh, as a browser's idle keep-alive is closed meanwhile.
                graficos = http.client.HTTPConnection("127.0.0.1", self.porta, timeout=30)
                for q in ("/api/contagens?periodo=hora", "/api/contagens?periodo=dia"):
                    graficos.request("GET", q)
                    graficos.getresponse().read()
                graficos.close()
                self.graficos += 1
                proximo += 5
        c.close()


def main() -> None:
    pasta = tempfile.mkdtemp(prefix="painel-bench-")
    especs = []
    for i in range(1, RELOGIOS + 1):
        especs += ["--relogio", f"codigo={i},modelo={'tarvenix' if i % 2 else 'quorvel'},porta=0"]
    # About one punch per clock per minute: 100 a minute on the site.
    daemon = subprocess.Popen([RELOGIO, *especs, "--marcacoes-por-minuto", "1"],
                              stdout=subprocess.PIPE, text=True, stderr=subprocess.DEVNULL)
    linhas = [daemon.stdout.readline() for _ in range(RELOGIOS)]
    with open(os.path.join(pasta, "relogios.txt"), "w") as f:
        for i, l in enumerate(linhas, 1):
            modelo = "tarvenix" if i % 2 else "quorvel"
            f.write(f"{i};127.0.0.1:{l.strip().rsplit(':', 1)[1]};{modelo}\n")
    log = open(os.path.join(pasta, "servico.log"), "w+")
    servico = subprocess.Popen([PONTO, "servico", "--banco", os.path.join(pasta, "ponto.db"),
                                "--relogios", os.path.join(pasta, "relogios.txt"), "--web",
                                "127.0.0.1:0"], stderr=log, stdout=subprocess.DEVNULL,
                               env=dict(os.environ, XDG_STATE_HOME=pasta))
    try:
        while "pronto: primeira reconciliação" not in open(log.name).read():
            time.sleep(0.2)
        porta = int(open(log.name).read().split("painel web em http://127.0.0.1:")[1].split("/")[0])
        time.sleep(2)
        antes, t0 = cpu(servico.pid), time.monotonic()
        time.sleep(SEGUNDOS)
        sem = (cpu(servico.pid) - antes) / (time.monotonic() - t0)
        fim = threading.Event()
        paginas = [Pagina(porta, fim) for _ in range(PAGINAS)]
        for p in paginas:
            p.start()
        time.sleep(2)
        antes, t0 = cpu(servico.pid), time.monotonic()
        time.sleep(SEGUNDOS)
        com = (cpu(servico.pid) - antes) / (time.monotonic() - t0)
        fim.set()
        atrasos = sorted(a for p in paginas for a in p.atrasos)
        vivas = sum(p.is_alive() for p in paginas)
        print(f"{vivas} de {PAGINAS} páginas vivas; {sum(p.graficos for p in paginas)} pares de "
              f"gráficos pedidos; {sum(p.marcacoes for p in paginas)} marcações entregues")
        print(f"{RELOGIOS} relógios, {SEGUNDOS:.0f} s cada medida, RSS {rss_mb(servico.pid):.0f} MB")
        print(f"CPU do serviço sem páginas:     {100 * sem:5.2f} % de um núcleo")
        print(f"CPU do serviço com {PAGINAS} páginas: {100 * com:5.2f} % de um núcleo "
              f"(+{100 * (com - sem):.2f})")
        if atrasos:
            print(f"marcação no relógio → evento na página: mediana {atrasos[len(atrasos) // 2]:.2f} s,"
                  f" máximo {atrasos[-1]:.2f} s ({len(atrasos)} entregas; o relógio conta segundos)")
    finally:
        servico.terminate()
        servico.wait()
        daemon.terminate()
        daemon.wait()


if __name__ == "__main__":
    main()
