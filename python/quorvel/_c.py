"""The library's C boundary through ctypes: where it is found, the signatures, the variant."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from pathlib import Path
from typing import Optional

# Kinds of a quorvel_variant.
VAZIO, AUSENTE, BOOLEANO, INTEIRO16, INTEIRO32, DUPLO, TEXTO, DATA, OBJETO = range(9)
# Kinds of call.
METODO, PROPGET, PROPPUT = 1, 2, 4
# Return codes.
OK, FALHA, PARAMETRO_INVALIDO, HANDLE_INVALIDO, OUTRA_THREAD = range(5)


class Variant(ctypes.Structure):
    _fields_ = [
        ("tipo", ctypes.c_int32),
        ("booleano", ctypes.c_int32),
        ("inteiro", ctypes.c_int32),
        ("numero", ctypes.c_double),
        ("texto", ctypes.c_char_p),
        ("objeto", ctypes.c_void_p),
    ]


class ErroC(ctypes.Structure):
    _fields_ = [("numero", ctypes.c_int32), ("descricao", ctypes.c_char * 4096)]


class MarcacaoC(ctypes.Structure):
    _fields_ = [
        ("segundos", ctypes.c_int64),
        ("cartao", ctypes.c_int32),
        ("relogio", ctypes.c_int16),
        ("digital", ctypes.c_uint8),
        ("reservado", ctypes.c_uint8),
        ("nsr", ctypes.c_char * 24),
        ("pis", ctypes.c_char * 24),
    ]


SINK = ctypes.CFUNCTYPE(
    None, ctypes.c_void_p, ctypes.c_int32, ctypes.POINTER(Variant), ctypes.c_int32
)


def _candidatos() -> list[str]:
    """Where the library is looked for, in order: beside this package (the wheel carries it),
    the path in QUORVEL_BIBLIOTECA, the system's library path."""
    r = []
    junto = Path(__file__).with_name("libquorvel.so")
    if junto.exists():
        r.append(str(junto))
    env = os.environ.get("QUORVEL_BIBLIOTECA")
    if env:
        r.append(env)
    achada = ctypes.util.find_library("quorvel")
    r.append(achada or "libquorvel.so")
    return r


def _carrega() -> ctypes.CDLL:
    falhas = []
    for caminho in _candidatos():
        try:
            return ctypes.CDLL(caminho)
        except OSError as e:
            falhas.append(f"{caminho}: {e}")
    raise ImportError(
        "biblioteca libquorvel.so não encontrada (instale o pacote com a biblioteca, defina "
        "QUORVEL_BIBLIOTECA ou instale-a no sistema): " + "; ".join(falhas)
    )


def _declara(lib: ctypes.CDLL) -> None:
    vp, i32, cp = ctypes.c_void_p, ctypes.c_int32, ctypes.c_char_p
    pe = ctypes.POINTER(ErroC)
    lib.quorvel_versao.restype = cp
    lib.quorvel_cria.argtypes = [cp, ctypes.POINTER(vp), pe]
    lib.quorvel_cria.restype = i32
    lib.quorvel_duplica.argtypes = [vp]
    lib.quorvel_duplica.restype = vp
    lib.quorvel_libera.argtypes = [vp]
    lib.quorvel_libera.restype = None
    lib.quorvel_classe.argtypes = [vp]
    lib.quorvel_classe.restype = cp
    lib.quorvel_dispid.argtypes = [vp, cp, ctypes.POINTER(i32), pe]
    lib.quorvel_dispid.restype = i32
    lib.quorvel_invoca.argtypes = [
        vp, i32, i32, ctypes.POINTER(Variant), i32, ctypes.POINTER(Variant), pe
    ]
    lib.quorvel_invoca.restype = i32
    lib.quorvel_variant_limpa.argtypes = [ctypes.POINTER(Variant)]
    lib.quorvel_variant_limpa.restype = None
    lib.quorvel_define_sink.argtypes = [vp, SINK, vp, pe]
    lib.quorvel_define_sink.restype = i32
    lib.quorvel_processa_eventos.argtypes = [i32]
    lib.quorvel_processa_eventos.restype = None
    lib.quorvel_define_sdk.argtypes = [cp, pe]
    lib.quorvel_define_sdk.restype = i32
    lib.quorvel_define_chave.argtypes = [cp, pe]
    lib.quorvel_define_chave.restype = i32
    lib.quorvel_marcacoes_le.argtypes = [
        vp, i32, i32, ctypes.POINTER(MarcacaoC), ctypes.POINTER(i32), pe
    ]
    lib.quorvel_marcacoes_le.restype = i32
    lib.quorvel_virtual_publica.argtypes = [cp, i32, i32, i32]
    lib.quorvel_virtual_publica.restype = i32


_lib: Optional[ctypes.CDLL] = None


def lib() -> ctypes.CDLL:
    """The library, loaded and declared once."""
    global _lib
    if _lib is None:
        carregada = _carrega()
        _declara(carregada)
        _lib = carregada
    return _lib
