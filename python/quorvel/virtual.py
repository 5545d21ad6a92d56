"""Clocks inside this process, for demos: published at an address a control of the "virtual"
backend connects to. They live as long as the process."""

from __future__ import annotations

from . import _c
from .controle import _confere_thread
from .erros import Erro
from .tipos import Modelo


def publicar(ip: str, porta: int = 4370, modelo: Modelo = Modelo.QUORVEL,
             exemplo: bool = True) -> None:
    """A virtual clock at ip:porta, with the sample employees and punches when `exemplo`."""
    _confere_thread()
    if _c.lib().quorvel_virtual_publica(ip.encode(), porta, int(modelo), int(exemplo)) != 0:
        raise Erro(-1, f"não foi possível publicar o relógio virtual {ip}:{porta}")
