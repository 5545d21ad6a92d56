"""Errors as exceptions: the component's number, its text, the class and method it names."""

from __future__ import annotations

from typing import Optional

# The component's numbers.
DESCONHECIDO = -1
CODIGO_FUNCIONARIO_INVALIDO = -11
FUNCIONARIO_REPETIDO = -12
RELOGIO_REPETIDO = -24
CODIGO_RELOGIO_AUSENTE = -31
ENDERECO_IP_AUSENTE = -32
PORTA_SERIAL_AUSENTE = -32
REMOCAO_RELOGIO = -34
RELOGIO_NAO_REGISTRADO = -41
RELOGIO_DESCONECTADO = -43
NADA_PARA_ENVIAR = -43
DATA_HORA_INVALIDA = -44
CODIGO_SIRENE_INVALIDO = -46
MODELO_NAO_SUPORTADO = -47
TEMPLATE_REPETIDO = -61
ARMAZEM = -80

# The platform's numbers, as the late binding raises them.
ARGUMENTO_INVALIDO = 5
ESTOURO = 6
INDICE_FORA_DO_INTERVALO = 9
TIPOS_INCOMPATIVEIS = 13
OBJETO_NAO_DEFINIDO = 91
NAO_CRIAVEL = 429
MEMBRO_NAO_ENCONTRADO = 438
NUMERO_DE_ARGUMENTOS = 450
CHAVE_DUPLICADA = 457

# What a clock answers as its last error (the device's codes).
SDK_LINK_PERDIDO = -2
SDK_NAO_ENCONTRADO = -3
SDK_MEMORIA_CHEIA = -4
SDK_ARGUMENTO_INVALIDO = -5
SDK_FALHA_GRAVACAO = -6
SDK_CHAVE_EXIGIDA = -9
SDK_CHAVE_INCORRETA = -10
SDK_NAO_SUPORTADO = -100


class Erro(Exception):
    """A failure of the component. `numero` is the component's or the platform's number,
    `descricao` the whole text, `classe` and `metodo` where it arose (when the text says)."""

    def __init__(self, numero: int, descricao: str) -> None:
        self.numero = numero
        self.descricao = descricao
        linhas = descricao.replace("\r\n", "\n").split("\n")
        self.mensagem = linhas[0]
        self.classe: Optional[str] = None
        self.metodo: Optional[str] = None
        for linha in linhas[1:]:
            if linha.startswith("Classe: "):
                self.classe = linha[len("Classe: "):]
            elif linha.startswith("Método: "):
                self.metodo = linha[len("Método: "):]
        super().__init__(f"erro {numero}: {self.mensagem}")


class RelogioNaoRegistrado(Erro):
    """The clock's code is not registered with the control (-41)."""


class RelogioDesconectado(Erro):
    """The clock is not connected (-43): connect it and try again."""


class ConexaoRecusada(Erro):
    """The clock could not be connected: unreachable, a wrong key, another model."""


class ErroDeThread(Erro):
    """A call from a thread other than the one that owns the library."""

    def __init__(self) -> None:
        super().__init__(
            DESCONHECIDO,
            "a biblioteca pertence à thread que a usou primeiro; chame-a somente dessa thread "
            "(ou use um processo por thread)",
        )


def erro_de(numero: int, descricao: str) -> Erro:
    """The exception class a caller handles for this number and text."""
    if numero == RELOGIO_NAO_REGISTRADO:
        return RelogioNaoRegistrado(numero, descricao)
    if numero == RELOGIO_DESCONECTADO and "desconectado" in descricao:
        return RelogioDesconectado(numero, descricao)
    return Erro(numero, descricao)
