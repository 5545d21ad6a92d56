"""The values the component hands out and takes: clocks, punches, employees, events."""

from __future__ import annotations

import enum
from dataclasses import dataclass, field
from datetime import datetime, timedelta
from typing import Mapping, Optional


class Modelo(enum.IntEnum):
    """The clock's model: fingerprint, or Brazilian register clock (NSR, PIS, CPF)."""

    QUORVEL = 0
    TARVENIX = 1


class MotivoRecusa(enum.IntEnum):
    """Why the clock did not take an employee."""

    RELOGIO_RECUSOU = 0
    RELOGIO_RECUSOU_TEMPLATE = 1
    NAO_POSSUI_SENHA_OU_TEMPLATE = 2


@dataclass
class Relogio:
    """A clock to register: by network (`ip`, `porta`) or by serial line (`serial`), each with
    its own communication key (`chave`; None: the variable QUORVEL_CHAVE)."""

    codigo: int
    modelo: Modelo = Modelo.QUORVEL
    ip: Optional[str] = None
    porta: Optional[int] = None
    serial: Optional[int] = None
    chave: Optional[str] = None


@dataclass(frozen=True, slots=True)
class Marcacao:
    """A punch. Fingerprint model: `cartao` (the employee's number) and `digital` (made by
    fingerprint); register model: `nsr` and `pis` instead. What a model lacks is None."""

    relogio: int
    data_hora: datetime
    cartao: Optional[int]
    digital: Optional[bool]
    nsr: Optional[str] = None
    pis: Optional[str] = None


@dataclass(frozen=True)
class Funcionario:
    """An employee as the clock keeps them; `digitais` maps finger (0 to 9) to template."""

    codigo: int
    nome: str = ""
    senha: Optional[str] = None
    supervisor: bool = False
    pis: Optional[str] = None
    cpf: Optional[str] = None
    cartao: Optional[str] = None
    digitais: Mapping[int, str] = field(default_factory=dict)


@dataclass(frozen=True)
class Recusa:
    """An employee the clock did not take, and why."""

    relogio: int
    codigo: int
    motivo: MotivoRecusa


@dataclass(frozen=True)
class EventoConexao:
    """A clock's link: `conectado` False when it was lost (with the component's text), True
    when it came back."""

    relogio: int
    conectado: bool
    descricao: str = ""


# The platform's dates: days since 30/12/1899, the time as the fraction.
_ZERO = datetime(1899, 12, 30)


def de_dias(dias: float) -> datetime:
    return _ZERO + timedelta(seconds=round(dias * 86400))


def para_dias(quando: datetime) -> float:
    delta = quando.replace(tzinfo=None, microsecond=0) - _ZERO
    return delta.days + delta.seconds / 86400
