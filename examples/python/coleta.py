#!/usr/bin/env python3
"""A late-bound host in Python: creates ComunicacaoZK through the library's C entry points,
registers and connects a virtual clock, hears RelogioConectado through its event sink,
collects the punches and reads every Marcacao by dispatch number. Standard library only."""

import ctypes
import os
import sys

VAZIO, AUSENTE, BOOLEANO, INTEIRO16, INTEIRO32, DUPLO, TEXTO, DATA, OBJETO = range(9)
METODO, PROPGET = 1, 2


class Variant(ctypes.Structure):
    _fields_ = [("tipo", ctypes.c_int32), ("booleano", ctypes.c_int32), ("inteiro", ctypes.c_int32),
                ("numero", ctypes.c_double), ("texto", ctypes.c_char_p), ("objeto", ctypes.c_void_p)]


class Erro(ctypes.Structure):
    _fields_ = [("numero", ctypes.c_int32), ("descricao", ctypes.c_char * 4096)]


SINK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32, ctypes.POINTER(Variant), ctypes.c_int32)


class FalhaQuorvel(Exception):
    def __init__(self, erro):
        super().__init__(f"erro {erro.numero}: {erro.descricao.decode('utf-8')}")
        self.numero = erro.numero


class Quorvel:
    def __init__(self, caminho):
        self.lib = ctypes.CDLL(caminho)
        lib = self.lib
        lib.quorvel_cria.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(Erro)]
        lib.quorvel_dispid.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32),
                                       ctypes.POINTER(Erro)]
        lib.quorvel_invoca.argtypes = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(Variant),
                                       ctypes.c_int32, ctypes.POINTER(Variant), ctypes.POINTER(Erro)]
        lib.quorvel_libera.argtypes = [ctypes.c_void_p]
        lib.quorvel_duplica.argtypes = [ctypes.c_void_p]
        lib.quorvel_duplica.restype = ctypes.c_void_p
        lib.quorvel_variant_limpa.argtypes = [ctypes.POINTER(Variant)]
        lib.quorvel_define_sink.argtypes = [ctypes.c_void_p, SINK, ctypes.c_void_p, ctypes.POINTER(Erro)]
        lib.quorvel_processa_eventos.argtypes = [ctypes.c_int32]
        lib.quorvel_define_sdk.argtypes = [ctypes.c_char_p, ctypes.POINTER(Erro)]
        lib.quorvel_virtual_publica.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_int32]
        lib.DllCanUnloadNow.restype = ctypes.c_int32

    def cria(self, progid):
        objeto, erro = ctypes.c_void_p(), Erro()
        if self.lib.quorvel_cria(progid.encode(), ctypes.byref(objeto), ctypes.byref(erro)) != 0:
            raise FalhaQuorvel(erro)
        return objeto.value

    def dispid(self, objeto, nome):
        numero, erro = ctypes.c_int32(), Erro()
        if self.lib.quorvel_dispid(objeto, nome.encode(), ctypes.byref(numero), ctypes.byref(erro)) != 0:
            raise FalhaQuorvel(erro)
        return numero.value

    @staticmethod
    def variant(valor):
        v = Variant()
        if valor is None:
            v.tipo = VAZIO
        elif isinstance(valor, bool):
            v.tipo, v.booleano = BOOLEANO, int(valor)
        elif isinstance(valor, int):
            v.tipo, v.inteiro = INTEIRO32, valor
        elif isinstance(valor, float):
            v.tipo, v.numero = DUPLO, valor
        elif isinstance(valor, str):
            v.tipo, v.texto = TEXTO, valor.encode()
        else:
            v.tipo, v.objeto = OBJETO, valor
        return v

    def valor(self, v):
        """A result as a Python value; an object comes back as a handle the caller releases."""
        if v.tipo == BOOLEANO:
            return bool(v.booleano)
        if v.tipo in (INTEIRO16, INTEIRO32):
            return v.inteiro
        if v.tipo in (DUPLO, DATA):
            return v.numero
        if v.tipo == TEXTO:
            return v.texto.decode("utf-8")
        if v.tipo == OBJETO:
            return self.lib.quorvel_duplica(v.objeto) if v.objeto else None
        return None

    def chama(self, objeto, nome, *args, tipo=METODO):
        argumentos = (Variant * max(1, len(args)))(*[self.variant(a) for a in args])
        resultado, erro = Variant(), Erro()
        if self.lib.quorvel_invoca(objeto, self.dispid(objeto, nome), tipo, argumentos, len(args),
                                   ctypes.byref(resultado), ctypes.byref(erro)) != 0:
            raise FalhaQuorvel(erro)
        valor = self.valor(resultado)
        self.lib.quorvel_variant_limpa(ctypes.byref(resultado))
        return valor

    def le(self, objeto, propriedade):
        return self.chama(objeto, propriedade, tipo=PROPGET)


def data_texto(dias):
    # Days since 30/12/1899 to "dd/mm/aaaa hh:mm:ss".
    import datetime
    momento = datetime.datetime(1899, 12, 30) + datetime.timedelta(days=dias)
    momento = momento.replace(microsecond=0) + datetime.timedelta(seconds=round(momento.microsecond / 1e6))
    return momento.strftime("%d/%m/%Y %H:%M:%S")


def main():
    caminho = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("QUORVEL_BIBLIOTECA", "build/libquorvel.so")
    q = Quorvel(caminho)
    erro = Erro()
    q.lib.quorvel_define_sdk(b"virtual", ctypes.byref(erro))  # the in-process virtual clocks
    q.lib.quorvel_virtual_publica(b"192.0.2.7", 4370, 0, 1)

    controle = q.cria("QUORVEL.ComunicacaoZK")
    eventos = []

    @SINK
    def sink(_contexto, dispid, argumentos, quantidade):
        nomes = {1: "ErroMonitoracao", 2: "MarcacaoRecolhida", 3: "RelogioConectado", 4: "ErroConexaoRelogio"}
        valores = [q.valor(argumentos[i]) if argumentos[i].tipo != OBJETO else "<objeto>" for i in range(quantidade)]
        eventos.append((nomes.get(dispid, dispid), valores))

    q.lib.quorvel_define_sink(controle, sink, None, ctypes.byref(erro))

    q.chama(controle, "AddRelogioIP", 7, "192.0.2.7", 0)
    q.chama(controle, "ConectarRelogio", 7)
    for _ in range(100):
        q.lib.quorvel_processa_eventos(20)
        if eventos:
            break
    print(f"evento: {eventos[0][0]}({eventos[0][1][0]})" if eventos else "nenhum evento")
    if not eventos or eventos[0][0] != "RelogioConectado":
        return 1

    try:
        q.chama(controle, "RefreshRelogio", 99)
    except FalhaQuorvel as e:
        print(f"erro esperado {e.numero}: relógio 99 não registrado")

    lista = q.chama(controle, "ObterMarcacaoRelogio", 7)  # pointers left off: both 0
    total = q.chama(lista, "Count")
    for i in range(1, total + 1):
        marcacao = q.chama(lista, "Item", i)
        cartao = q.le(marcacao, "CodigoCartao")
        quando = data_texto(q.le(marcacao, "DataHoraMarcacao"))
        digital = "digital" if q.le(marcacao, "MarcacaoPorDigital") else "senha"
        print(f"{quando}  relógio {q.le(marcacao, 'CodigoRelogio')}  cartão {cartao}  ({digital})")
        q.lib.quorvel_libera(marcacao)
    print(f"{total} marcações coletadas por despacho tardio.")

    q.lib.quorvel_libera(lista)
    q.lib.quorvel_libera(controle)
    print("DllCanUnloadNow:", "sim" if q.lib.DllCanUnloadNow() == 0 else "não")
    return 0 if total > 0 and q.lib.DllCanUnloadNow() == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
