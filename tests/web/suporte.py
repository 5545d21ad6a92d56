"""The web page's tests at process level: relogio-virtual daemons on loopback, `ponto servico
--web` over them, HTTP and Server-Sent Events read as a browser would, and `ponto exportar`
as the truth to compare with. Every wait is for something observable, with a deadline."""
from __future__ import annotations

import http.client
import json
import os
import queue
import re
import signal
import socket
import subprocess
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

PONTO = os.environ["PONTO"]
RELOGIO_VIRTUAL = os.environ["RELOGIO_VIRTUAL"]


def espera(condicao, limite: float = 60, descricao: str = ""):
    """Calls `condicao` until it gives something true; its value. Fails after `limite` s."""
    fim = time.monotonic() + limite
    while True:
        valor = condicao()
        if valor:
            return valor
        if time.monotonic() > fim:
            raise AssertionError(f"após {limite} s, ainda não: {descricao}")
        time.sleep(0.05)


class Daemon:
    """relogio-virtual with the clocks `especs` ("codigo=1,modelo=tarvenix,..."; no port), each
    on a free port of its own, kept across a restart (with its journal, if `dados=` names one)."""

    def __init__(self, pasta: Path, nome: str, especs: list[str], extra: list[str] = ()):
        self.pasta, self.nome, self.especs, self.extra = pasta, nome, list(especs), list(extra)
        self.portas: list[int] = []
        self.inicia()

    def inicia(self) -> None:
        """Starts it; again after mata(), on the same ports."""
        portas = self.portas or [0] * len(self.especs)
        especs = [f"{e},porta={p}" for e, p in zip(self.especs, portas)]
        args = [RELOGIO_VIRTUAL]
        for e in especs:
            args += ["--relogio", e]
        self.p = subprocess.Popen(args + self.extra, stdout=subprocess.PIPE, text=True,
                                  stderr=open(self.pasta / f"{self.nome}.log", "ab"))
        linhas = [self.p.stdout.readline() for _ in especs]
        if not all(linhas):
            raise RuntimeError(f"relogio-virtual {self.nome} não anunciou os relógios")
        self.portas = [int(l.strip().rsplit(":", 1)[1]) for l in linhas]

    def mata(self) -> None:
        self.p.kill()
        self.p.wait()

    def para(self) -> None:
        if self.p.poll() is None:
            self.p.terminate()
            self.p.wait()


def arquivo_relogios(pasta: Path, linhas: list[str]) -> str:
    caminho = pasta / "relogios.txt"
    caminho.write_text("".join(l + "\n" for l in linhas))
    return str(caminho)


def ambiente(pasta: Path) -> dict:
    return dict(os.environ, XDG_STATE_HOME=str(pasta / "estado"), TZ=os.environ.get("TZ", "UTC"))


class Servico:
    """`ponto servico --web` on a free port; its log in the test's folder."""

    def __init__(self, pasta: Path, banco: str, relogios: str, web: str = "127.0.0.1:0",
                 extra: list[str] = (), nome: str = "servico"):
        self.log = pasta / f"{nome}.log"
        args = [PONTO, "servico", "--banco", banco, "--relogios", relogios, "--coletor", nome,
                "--web", web, "--arrendamento", "6", "--reconciliar-a-cada", "3", *extra]
        self.p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=open(self.log, "wb"),
                                  env=ambiente(pasta))
        achado = espera(lambda: self.p.poll() is not None or
                        re.search(r"painel web em (http://\S+)", self.texto()),
                        descricao="o serviço anunciar o painel")
        if self.p.poll() is not None:
            raise RuntimeError(f"o serviço terminou: {self.texto()}")
        self.url = achado.group(1).rstrip("/")
        self.porta = int(self.url.rsplit(":", 1)[1])

    def texto(self) -> str:
        return self.log.read_text(errors="replace")

    def para(self) -> int:
        if self.p.poll() is None:
            self.p.send_signal(signal.SIGTERM)
        return self.p.wait(timeout=60)


class Resposta:
    def __init__(self, status: int, cabecalhos, corpo: bytes):
        self.status, self.cabecalhos, self.corpo = status, cabecalhos, corpo

    def json(self):
        return json.loads(self.corpo.decode("utf-8"))


def pede(url: str, token: str | None = None, metodo: str = "GET",
         cabecalhos: dict | None = None) -> Resposta:
    c = dict(cabecalhos or {})
    if token:
        c["Authorization"] = "Bearer " + token
    req = urllib.request.Request(url, method=metodo, headers=c,
                                 data=b"" if metodo == "POST" else None)
    try:
        with urllib.request.urlopen(req, timeout=60) as r:
            return Resposta(r.status, r.headers, r.read())
    except urllib.error.HTTPError as e:
        return Resposta(e.code, e.headers, e.read())


def ponto(pasta: Path, *args: str, binario: bool = False):
    r = subprocess.run([PONTO, *args], capture_output=True, env=ambiente(pasta), timeout=120)
    assert r.returncode == 0, (args, r.returncode, r.stderr.decode(errors="replace"))
    return r.stdout if binario else r.stdout.decode("utf-8")


class Eventos:
    """A page watching /api/eventos: frames parsed as they come, kept in a queue."""

    def __init__(self, base: str, token: str | None = None):
        u = urllib.parse.urlsplit(base)
        self.conexao = http.client.HTTPConnection(u.hostname, u.port, timeout=120)
        self.conexao.request("GET", "/api/eventos",
                             headers={"Authorization": "Bearer " + token} if token else {})
        self.resposta = self.conexao.getresponse()
        assert self.resposta.status == 200, self.resposta.status
        self.fila: queue.Queue = queue.Queue()
        self.fio = threading.Thread(target=self._le, daemon=True)
        self.fio.start()

    def _le(self) -> None:
        tipo, dados = None, ""
        try:
            while True:
                linha = self.resposta.readline()
                if not linha:
                    break
                linha = linha.decode("utf-8").rstrip("\n")
                if linha.startswith("event: "):
                    tipo = linha[7:]
                elif linha.startswith("data: "):
                    dados += linha[6:]
                elif linha == "" and tipo:
                    self.fila.put((tipo, json.loads(dados)))
                    tipo, dados = None, ""
        except Exception:  # closed by fecha(), or by the service: the stream ends either way
            pass
        self.fila.put(("fim", None))

    def proximo(self, tipo: str, limite: float = 60, condicao=lambda d: True):
        fim = time.monotonic() + limite
        while True:
            resta = fim - time.monotonic()
            if resta <= 0:
                raise AssertionError(f"nenhum evento {tipo} em {limite} s")
            try:
                t, d = self.fila.get(timeout=resta)
            except queue.Empty:
                continue
            if t == "fim":
                raise AssertionError("o fluxo de eventos terminou")
            if t == tipo and condicao(d):
                return d

    def fecha(self) -> None:
        try:
            self.conexao.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.conexao.close()


def identidade(m: dict) -> tuple:
    return (m["relogio"], m["nsr"], m["cartao"], m["data_hora"])


class Site:
    """The site both suites watch: clocks 1 (fingerprint) and 2 (register) on one daemon,
    holding the sample and nothing more; clock 3 (register, with a journal, so it can be killed
    and restarted) on another, punching `por_minuto` times a minute; one service over them."""

    def __init__(self, pasta: Path, por_minuto: int, campos_do_relogio_2: str = ""):
        self.pasta = pasta
        self.fixos = Daemon(pasta, "fixos", ["codigo=1,modelo=quorvel,exemplo",
                                             "codigo=2,modelo=tarvenix,exemplo"])
        self.vivo = Daemon(pasta, "vivo", [f"codigo=3,modelo=tarvenix,exemplo,dados={pasta}/r3"],
                           ["--marcacoes-por-minuto", str(por_minuto)])
        self.relogios = arquivo_relogios(pasta, [
            f"1;127.0.0.1:{self.fixos.portas[0]};quorvel",
            f"2;127.0.0.1:{self.fixos.portas[1]};tarvenix" + campos_do_relogio_2,
            f"3;127.0.0.1:{self.vivo.portas[0]};tarvenix"])
        self.banco = str(pasta / "ponto.db")
        self.servico = Servico(pasta, self.banco, self.relogios)
        espera(lambda: "pronto: primeira reconciliação concluída" in self.servico.texto(), 90,
               "a primeira reconciliação")
        self.url = self.servico.url

    def para(self) -> None:
        assert self.servico.para() == 0
        self.fixos.para()
        self.vivo.para()
