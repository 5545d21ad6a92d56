"""QUORVEL in Python: collect punches from time clocks, watch them arrive, send employees.

    import quorvel
    with quorvel.Controle() as c:
        c.adicionar(quorvel.Relogio(1, ip="192.0.2.10", chave="segredo"))
        c.conectar(1)
        for m in c.coletar(1):
            print(m.data_hora, m.cartao)

Every call goes to the library on the thread that first used it; from another thread the
package raises ErroDeThread.
"""

from __future__ import annotations

from . import erros as codigos
from ._c import lib as _lib
from .controle import AUSENTE, Controle, Evento, ListaDeMarcacoes, modelo_de
from .erros import (
    ConexaoRecusada,
    Erro,
    ErroDeThread,
    RelogioDesconectado,
    RelogioNaoRegistrado,
)
from .tipos import (
    EventoConexao,
    Funcionario,
    Marcacao,
    Modelo,
    MotivoRecusa,
    Recusa,
    Relogio,
)

__version__: str = _lib().quorvel_versao().decode()

__all__ = [
    "AUSENTE",
    "ConexaoRecusada",
    "Controle",
    "Erro",
    "ErroDeThread",
    "Evento",
    "EventoConexao",
    "Funcionario",
    "ListaDeMarcacoes",
    "Marcacao",
    "Modelo",
    "MotivoRecusa",
    "Recusa",
    "Relogio",
    "RelogioDesconectado",
    "RelogioNaoRegistrado",
    "codigos",
    "modelo_de",
    "virtual",
    "__version__",
]

from . import virtual  # noqa: E402  (clocks in this process, for demos and tests)
