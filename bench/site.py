#!/usr/bin/env python3
"""A whole site: a real PostgreSQL, `relogio-virtual` daemons holding N clocks of both models,
three `ponto servico` sharing the store, punches flowing at 100 per second across the site.
Reports, for one run: the time until every clock is connected from a cold start, the time from a
punch on a clock to its row in the store (p50/p99), CPU and memory of each service, the take-over
of a killed service's clocks, the catch-up after a database outage, and at the end the store
compared with every clock's journal (nothing lost, nothing twice).

Not a test: figures for people. `--verificar` makes the comparison the exit status (what the
smaller run in `make test` uses); no time is ever asserted.

Usage: python3 bench/site.py [--build DIR] [--relogios 1000] [--segundos 300] [--queda 60]
                             [--verificar] [--pasta DIR]"""

from __future__ import annotations

import argparse
import json
import os
import pwd
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from datetime import datetime, timedelta

RELOGIOS_POR_DAEMON = 100
PUNCHES_POR_SEGUNDO = 100  # across the site
EPOCA_DO_RELOGIO = datetime(1899, 12, 30)


def log(texto: str) -> None:
    print(f"[{time.strftime('%H:%M:%S')}] {texto}", flush=True)


def porta_livre() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_s(pid: int) -> float:
    with open(f"/proc/{pid}/stat") as f:
        campos = f.read().rsplit(")", 1)[1].split()
    return (int(campos[11]) + int(campos[12])) / os.sysconf("SC_CLK_TCK")


def memoria_mb(pid: int, campo: str = "VmRSS") -> float:
    with open(f"/proc/{pid}/status") as f:
        for linha in f:
            if linha.startswith(campo + ":"):
                return int(linha.split()[1]) / 1024
    return 0.0


class Postgres:
    """A server of its own in a temporary folder, on a Unix socket and a loopback port; as root
    it runs as the `postgres` user (the server refuses root)."""

    def __init__(self, pasta: str):
        versoes = sorted((v for v in os.listdir("/usr/lib/postgresql")
                          if os.path.exists(f"/usr/lib/postgresql/{v}/bin/initdb")), key=int)
        if not versoes:
            sys.exit("site: PostgreSQL não está instalado (scripts/setup.sh o instala).")
        self.bin = f"/usr/lib/postgresql/{versoes[-1]}/bin"
        self.pasta = os.path.join(pasta, "pg")
        os.makedirs(self.pasta)
        self.como: list[str] = []
        if os.geteuid() == 0:
            self.como = ["runuser", "-u", "postgres", "--"]
            dono = pwd.getpwnam("postgres")
            os.chown(self.pasta, dono.pw_uid, dono.pw_gid)
            os.chmod(pasta, 0o755)
        self.porta = porta_livre()
        self.roda("initdb", "-D", self.pasta + "/dados", "-U", "postgres", "--auth=trust",
                  "-E", "UTF8")
        self.inicia()
        self.roda("createdb", "-h", self.pasta, "-p", str(self.porta), "-U", "postgres", "site")
        self.url = (f"postgresql:///site?host={self.pasta}&port={self.porta}&user=postgres")

    def roda(self, programa: str, *args: str) -> None:
        subprocess.run(self.como + [f"{self.bin}/{programa}", *args], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def inicia(self) -> None:
        self.roda("pg_ctl", "-D", self.pasta + "/dados", "-w", "-l", self.pasta + "/servidor.log",
                  "-o", f"-k {self.pasta} -p {self.porta} -c listen_addresses=127.0.0.1 "
                        "-c max_connections=200", "start")

    def para(self) -> None:
        # As a crash or a pulled cable: connections cut, nothing flushed for them.
        self.roda("pg_ctl", "-D", self.pasta + "/dados", "-m", "immediate", "-w", "stop")

    def consulta(self, sql: str) -> list[list[str]]:
        r = subprocess.run(self.como + [f"{self.bin}/psql", "-h", self.pasta, "-p", str(self.porta),
                                        "-U", "postgres", "-d", "site", "-qAt", "-F", "\t",
                                        "-c", sql], capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError(r.stderr.strip())
        return [linha.split("\t") for linha in r.stdout.splitlines() if linha]


class Daemon:
    """`relogio-virtual` with clocks `codigos` (alternating models), each with a journal, on
    ports of its own kept across a restart."""

    def __init__(self, pasta: str, relogio_virtual: str, codigos: list[int], nome: str,
                 por_minuto: int):
        self.pasta, self.binario, self.codigos, self.nome = pasta, relogio_virtual, codigos, nome
        self.por_minuto = por_minuto
        self.portas: dict[int, int] = {}
        self.processo: subprocess.Popen | None = None
        self.inicio = 0.0  # when its punch schedule started (time.time())

    @staticmethod
    def modelo(codigo: int) -> str:
        return "tarvenix" if codigo % 2 == 0 else "quorvel"

    def diario(self, codigo: int) -> str:
        return os.path.join(self.pasta, f"relogio-{codigo}.jsonl")

    def inicia(self, gerando: bool) -> None:
        args = [self.binario, "--max-conexoes", "1024"]
        for c in self.codigos:
            args += ["--relogio", f"codigo={c},modelo={self.modelo(c)},porta={self.portas.get(c, 0)},"
                                  f"exemplo,dados={self.diario(c)}"]
        if gerando:
            # Every clock of a daemon punches at the same instant, once per interval: with the
            # daemons started a second apart, the site's punches come spread over the seconds.
            args += ["--marcacoes-por-minuto", str(self.por_minuto)]
        self.processo = subprocess.Popen(args, stdout=subprocess.PIPE,
                                         stderr=open(os.path.join(self.pasta, f"{self.nome}.log"), "ab"),
                                         text=True)
        for c in self.codigos:
            linha = self.processo.stdout.readline()
            if not linha:
                sys.exit(f"site: {self.nome} terminou antes de anunciar os relógios")
            self.portas[c] = int(linha.rsplit(":", 1)[1])
        self.inicio = time.time()

    def rodadas_de_marcacao(self) -> list[float]:
        """The instants (time.time()) the daemon began its rounds of punches, from its log."""
        instantes = []
        with open(os.path.join(self.pasta, f"{self.nome}.log"), errors="replace") as f:
            for linha in f:
                if linha.startswith("marcações simuladas") and "(época " in linha:
                    instantes.append(float(linha.rsplit("(época ", 1)[1].rstrip(")\n")))
        return instantes

    def para(self) -> None:
        if self.processo:
            self.processo.send_signal(signal.SIGTERM)
            self.processo.wait()
            self.processo = None


class Servico:
    def __init__(self, ponto: str, pasta: str, banco: str, relogios: str, nome: str):
        self.nome = nome
        self.log = os.path.join(pasta, f"servico-{nome}.log")
        self.processo = subprocess.Popen(
            [ponto, "servico", "--banco", banco, "--relogios", relogios, "--coletor", nome],
            stdout=subprocess.DEVNULL, stderr=open(self.log, "ab"))
        self.pid = self.processo.pid

    def mata(self) -> None:
        self.processo.send_signal(signal.SIGKILL)
        self.processo.wait()

    def para(self) -> int:
        if self.processo.poll() is None:
            self.processo.send_signal(signal.SIGTERM)
        return self.processo.wait()


class Chegadas(threading.Thread):
    """Asks the store every 200 ms what was stored lately and notes when each punch was first
    seen: the arrival time, within the poll's period."""

    def __init__(self, pg: Postgres):
        super().__init__(daemon=True)
        self.pg = pg
        self.vistas: dict[tuple, float] = {}
        self.fim = threading.Event()
        self.pausa = threading.Event()

    def run(self) -> None:
        desde = datetime.utcnow() - timedelta(seconds=5)
        while not self.fim.is_set():
            if self.pausa.is_set():
                time.sleep(0.2)
                continue
            try:
                linhas = self.pg.consulta(
                    "SELECT relogio, nsr, cartao, data_hora, ordem FROM marcacoes WHERE recebida_em"
                    f" >= '{desde.strftime('%Y-%m-%dT%H:%M:%SZ')}'")
            except RuntimeError:
                time.sleep(0.5)  # the database is away
                continue
            agora = time.time()
            for l in linhas:
                self.vistas.setdefault(tuple(l), agora)
            desde = datetime.utcnow() - timedelta(seconds=3)
            time.sleep(0.2)


def estado(ponto: str, banco: str) -> list[dict]:
    r = subprocess.run([ponto, "servico", "--estado", "--banco", banco, "--formato", "json"],
                       capture_output=True, text=True)
    if r.returncode not in (0, 1):  # 1: some clock or collector with a problem
        return []
    try:
        return json.loads(r.stdout)
    except json.JSONDecodeError:
        return []


def espera(condicao, limite: float, periodo: float = 1.0) -> float | None:
    """Seconds until `condicao()` held, or None after `limite`."""
    inicio = time.monotonic()
    while time.monotonic() - inicio < limite:
        if condicao():
            return time.monotonic() - inicio
        time.sleep(periodo)
    return None


def do_diario(caminho: str, codigo: int) -> set[tuple]:
    """Every punch a clock's journal holds, as the store keys it: register (clock, NSR);
    fingerprint (clock, card, time, order within that card's second)."""
    marcacoes = []
    with open(caminho, encoding="utf-8") as f:
        for linha in f:
            corpo = linha[linha.index("{"):] if "{" in linha else ""
            if not corpo:
                continue
            r = json.loads(corpo)
            if r.get("t") == "m":
                marcacoes.append(r)
            elif r.get("t") in ("cl", "ca"):
                marcacoes = []
    chaves = set()
    ordem: dict[tuple, int] = {}
    for m in marcacoes:
        if Daemon.modelo(codigo) == "tarvenix":
            chaves.add((codigo, int(m["n"])))
        else:
            quando = (EPOCA_DO_RELOGIO + timedelta(seconds=m["s"])).strftime("%Y-%m-%d %H:%M:%S")
            k = (m["c"], quando)
            chaves.add((codigo, m["c"], quando, ordem.get(k, 0)))
            ordem[k] = ordem.get(k, 0) + 1
    return chaves


def do_banco(pg: Postgres) -> tuple[set[tuple], int]:
    linhas = pg.consulta("SELECT relogio, modelo, nsr, cartao, data_hora, ordem FROM marcacoes")
    chaves = set()
    for relogio, modelo, nsr, cartao, data_hora, ordem in linhas:
        if int(nsr) > 0:
            chaves.add((int(relogio), int(nsr)))
        else:
            chaves.add((int(relogio), int(cartao), data_hora.replace("T", " ")[:19], int(ordem)))
    return chaves, len(linhas)


def main() -> int:
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    p.add_argument("--relogios", type=int, default=1000)
    p.add_argument("--segundos", type=float, default=300)
    p.add_argument("--queda", type=float, default=60)
    p.add_argument("--verificar", action="store_true")
    p.add_argument("--pasta")
    a = p.parse_args()
    # Each clock punches this often, so that the site makes PUNCHES_POR_SEGUNDO.
    por_minuto = max(1, PUNCHES_POR_SEGUNDO * 60 // a.relogios)
    intervalo = 60 / por_minuto
    estavel = (0.0, 0.0)
    ponto = os.path.join(a.build, "tools/ponto/ponto")
    relogio_virtual = os.path.join(a.build, "tools/relogio-virtual/relogio-virtual")
    pasta = a.pasta or tempfile.mkdtemp(prefix="quorvel-site-")
    os.makedirs(pasta, exist_ok=True)
    figuras: dict[str, str] = {}
    try:
        cpu = open("/proc/cpuinfo").read().split("model name")[1].split(":", 1)[1].split("\n")[0]
    except (OSError, IndexError):
        cpu = "?"
    log(f"{a.relogios} relógios, {a.segundos:.0f} s, queda do banco de {a.queda:.0f} s; "
        f"CPU: {cpu.strip()} ({os.cpu_count()} núcleos); pasta {pasta}")

    pg = Postgres(pasta)
    daemons: list[Daemon] = []
    servicos: dict[str, Servico] = {}
    chegadas = Chegadas(pg)
    try:
        codigos = list(range(1, a.relogios + 1))
        for i in range(0, len(codigos), RELOGIOS_POR_DAEMON):
            d = Daemon(pasta, relogio_virtual, codigos[i:i + RELOGIOS_POR_DAEMON],
                       f"daemon-{len(daemons) + 1}", por_minuto)
            d.inicia(gerando=True)
            daemons.append(d)
            time.sleep(intervalo / max(1, -(-a.relogios // RELOGIOS_POR_DAEMON)))  # spread bursts
        arquivo = os.path.join(pasta, "relogios.txt")
        with open(arquivo, "w") as f:
            for d in daemons:
                for c in d.codigos:
                    f.write(f"{c};127.0.0.1:{d.portas[c]};{d.modelo(c)}\n")
        log(f"{len(daemons)} daemons no ar")

        # ---- Cold start ----------------------------------------------------------------------
        inicio = time.monotonic()
        for nome in ("s1", "s2", "s3"):
            servicos[nome] = Servico(ponto, pasta, pg.url, arquivo, nome)
        chegadas.start()
        conectados = lambda: sum(1 for e in estado(ponto, pg.url) if e.get("conectado")) == a.relogios
        t = espera(conectados, 600)
        figuras["partida a frio: todos conectados"] = f"{t:.1f} s" if t is not None else "não em 600 s"
        log(f"todos os {a.relogios} relógios conectados em {t} s")
        fim = inicio + a.segundos

        # ---- Steady: CPU, memory and latency, once the first collections have settled ----------
        janela = min(60.0, max(10.0, (a.segundos - (time.monotonic() - inicio)) * 0.25))
        time.sleep(janela / 3)
        cpu0 = {n: cpu_s(s.pid) for n, s in servicos.items()}
        t0 = time.monotonic()
        estavel = time.time()
        time.sleep(janela)
        estavel = (estavel, time.time())
        for n, s in servicos.items():
            uso = (cpu_s(s.pid) - cpu0[n]) / (time.monotonic() - t0) * 100
            figuras[f"serviço {n}: CPU / memória"] = (
                f"{uso:.1f} % de um núcleo / RSS {memoria_mb(s.pid):.0f} MB (pico "
                f"{memoria_mb(s.pid, 'VmHWM'):.0f} MB) em {janela:.0f} s")
        donos = {}
        for e in estado(ponto, pg.url):
            donos[e.get("arrendado_por")] = donos.get(e.get("arrendado_por"), 0) + 1
        figuras["relógios por serviço"] = ", ".join(f"{k}: {v}" for k, v in sorted(donos.items(), key=str))

        # ---- A service killed ----------------------------------------------------------------
        servicos["s3"].mata()
        log("s3 morto (SIGKILL)")
        assumidos = lambda: (lambda es: len(es) == a.relogios and all(
            e.get("conectado") and e.get("arrendado_por") in ("s1", "s2") for e in es))(estado(ponto, pg.url))
        t = espera(assumidos, 300)
        figuras["relógios de s3 assumidos (arrendamento de 15 s)"] = (
            f"{t:.1f} s" if t is not None else "não em 300 s")
        log(f"relógios de s3 assumidos em {t} s")

        # ---- The database away ---------------------------------------------------------------
        if a.queda > 0:
            chegadas.pausa.set()
            pg.para()
            log(f"PostgreSQL parado por {a.queda:.0f} s")
            time.sleep(a.queda)
            pg.inicia()
            volta = datetime.now()  # clock time (the virtual clocks keep this machine's time)
            chegadas.pausa.clear()
            log("PostgreSQL de volta")
            corte = volta.strftime("%Y-%m-%d %H:%M:%S")
            # Each clock punches every interval: once each has one stored from after the
            # return, what it held during the outage is in too (cursors move in order).
            todos = lambda: int(pg.consulta(
                "SELECT count(DISTINCT relogio) FROM marcacoes WHERE data_hora >= "
                f"'{corte}'")[0][0]) == a.relogios
            t = espera(todos, 300)
            figuras[f"retomada após {a.queda:.0f} s sem banco"] = (
                f"todos os relógios em dia {t:.1f} s após a volta" if t is not None
                else "não em 300 s")
            log(f"retomada em {t} s")

        restante = fim - time.monotonic()
        if restante > 0:
            time.sleep(restante)

        # ---- Quiet, then the store against every journal -------------------------------------
        esperado: set[tuple] = set()
        for d in daemons:
            d.para()  # the journals are read whole while nothing writes them
            for c in d.codigos:
                esperado |= do_diario(d.diario(c), c)
            d.inicia(gerando=False)
        log("relógios quietos; esperando o banco alcançar os diários")
        alcancou = lambda: do_banco(pg)[0] >= esperado
        t = espera(alcancou, 600, 2.0)
        chegadas.fim.set()
        chaves, linhas = do_banco(pg)
        faltam, sobram = esperado - chaves, chaves - esperado
        duplas = linhas - len(chaves)
        figuras["banco × diários"] = (f"{len(esperado)} marcações nos diários, {linhas} linhas no banco: "
                                      f"{len(faltam)} faltando, {duplas} em dobro, {len(sobram)} a mais")

        # ---- Latency: stamp on the clock to first sight in the store --------------------------
        atrasos = []
        por_modelo: dict[str, list[float]] = {"quorvel": [], "tarvenix": []}
        rodadas = {id(d): d.rodadas_de_marcacao() for d in daemons}
        for chave, visto in chegadas.vistas.items():
            relogio, data_hora = int(chave[0]), chave[3]
            d = daemons[(relogio - 1) // RELOGIOS_POR_DAEMON]
            estampa = datetime.strptime(data_hora.replace("T", " ")[:19], "%Y-%m-%d %H:%M:%S").timestamp()
            if not estavel[0] <= estampa <= estavel[1]:
                continue  # the steady window only: not the start, the take-over, the outage
            # The punch's instant is the start of the daemon's round that stamped it (the stamp
            # holds only its second); a punch no round accounts for is measured from its stamp's
            # second, which makes its time longer than it was.
            feito = next((t for t in rodadas[id(d)] if estampa - 1 < t < estampa + 1 and int(t) <= estampa),
                         estampa)
            atrasos.append(visto - feito)
            por_modelo[Daemon.modelo(relogio)].append(visto - feito)
        if atrasos:
            atrasos.sort()
            p99 = atrasos[min(len(atrasos) - 1, int(len(atrasos) * 0.99))]
            figuras["marcação → linha no banco"] = (
                f"p50 {statistics.median(atrasos):.2f} s, p99 {p99:.2f} s, máximo {atrasos[-1]:.2f} s"
                f" ({len(atrasos)} marcações da janela estável de {janela:.0f} s)")
            for modelo, lista in por_modelo.items():
                if lista:
                    lista.sort()
                    figuras[f"  {modelo}"] = (f"p50 {statistics.median(lista):.2f} s, p99 "
                                              f"{lista[min(len(lista) - 1, int(len(lista) * 0.99))]:.2f} s")
        return_code = 0 if not faltam and not sobram and duplas == 0 else 1
        for n, s in servicos.items():
            if s.processo.poll() is None:
                s.para()
    finally:
        chegadas.fim.set()
        for s in servicos.values():
            if s.processo.poll() is None:
                s.processo.kill()
                s.processo.wait()
        for d in daemons:
            if d.processo:
                d.processo.kill()
                d.processo.wait()
        try:
            pg.roda("pg_ctl", "-D", pg.pasta + "/dados", "-m", "immediate", "stop")
        except subprocess.CalledProcessError:
            pass
    print()
    largura = max(len(k) for k in figuras)
    for k, v in figuras.items():
        print(f"{k.ljust(largura)}  {v}")
    if a.verificar:
        if return_code:
            print("site: o banco difere dos diários dos relógios", file=sys.stderr)
        else:
            shutil.rmtree(pasta, ignore_errors=True)
        return return_code
    return 0


if __name__ == "__main__":
    sys.exit(main())
