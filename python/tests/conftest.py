"""Fixtures of the package's tests: the daemon relogio-virtual on loopback, the tool ponto."""

from __future__ import annotations

import os
import signal
import subprocess
from pathlib import Path
from typing import Iterator, List, Optional

import pytest

RAIZ = Path(__file__).resolve().parents[2]


def binario(variavel: str, relativo: str) -> str:
    caminho = os.environ.get(variavel) or str(RAIZ / "build" / relativo)
    if not Path(caminho).exists():
        pytest.skip(f"{caminho} não foi construído")
    return caminho


class Daemon:
    """relogio-virtual with the clocks given; the port of each from its announcement."""

    def __init__(self, argumentos: List[str], relogios: int) -> None:
        self.argumentos = argumentos
        self.relogios = relogios
        self.portas: List[int] = []
        self.processo: Optional[subprocess.Popen[str]] = None
        self.inicia()

    def inicia(self, argumentos: Optional[List[str]] = None) -> None:
        exe = binario("RELOGIO_VIRTUAL", "tools/relogio-virtual/relogio-virtual")
        self.processo = subprocess.Popen([exe] + (argumentos or self.argumentos),
                                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                         text=True)
        assert self.processo.stdout is not None
        portas = []
        for _ in range(self.relogios):
            linha = self.processo.stdout.readline()
            assert linha, "o daemon terminou antes de anunciar os relógios"
            portas.append(int(linha.rsplit(":", 1)[1]))
        self.portas = portas

    def mata(self) -> None:
        if self.processo and self.processo.poll() is None:
            self.processo.send_signal(signal.SIGKILL)
            self.processo.wait()

    def para(self) -> None:
        if self.processo and self.processo.poll() is None:
            self.processo.send_signal(signal.SIGTERM)
            self.processo.wait()


@pytest.fixture
def daemons() -> Iterator[List[Daemon]]:
    criados: List[Daemon] = []
    yield criados
    for d in criados:
        d.para()


def ponto(*argumentos: str) -> subprocess.CompletedProcess[str]:
    exe = binario("PONTO", "tools/ponto/ponto")
    return subprocess.run([exe, *argumentos], capture_output=True, text=True, timeout=300)
