"""The control: clocks registered and connected, punches collected and watched, employees
sent and read, the clock's time. Every call goes to the library on the thread that owns it."""

from __future__ import annotations

import asyncio
import ctypes
import gc
import re
import struct
import threading
import time
from collections import deque
from datetime import datetime, timedelta
from types import TracebackType
from typing import (
    Any,
    AsyncIterator,
    Deque,
    Dict,
    Iterable,
    Iterator,
    List,
    Optional,
    Sequence,
    Tuple,
    Type,
    Union,
    overload,
)

from . import _c
from .erros import ConexaoRecusada, Erro, ErroDeThread, erro_de
from .tipos import (
    EventoConexao,
    Funcionario,
    Marcacao,
    Modelo,
    MotivoRecusa,
    Recusa,
    Relogio,
    de_dias,
    para_dias,
)

_UNIX = datetime(1970, 1, 1)
_de_unix = datetime.utcfromtimestamp


def _data_de(segundos: int) -> datetime:
    """The clock's date and time from seconds since 1970 (no time zone on either side)."""
    try:
        return _de_unix(segundos)
    except (OverflowError, OSError, ValueError):
        return _UNIX + timedelta(seconds=segundos)

Evento = Union[Marcacao, EventoConexao]

# ---- The thread that owns the library -------------------------------------------------------

_dona: Optional[int] = None
_trava = threading.Lock()


def _confere_thread() -> None:
    """The library serves the first thread that used it; any other gets ErroDeThread before
    anything is called."""
    global _dona
    eu = threading.get_ident()
    with _trava:
        if _dona is None:
            _dona = eu
        elif _dona != eu:
            raise ErroDeThread()


def _verifica(codigo: int, erro: _c.ErroC) -> None:
    if codigo == _c.OK:
        return
    if codigo == _c.OUTRA_THREAD:
        raise ErroDeThread()
    if codigo == _c.FALHA:
        raise erro_de(erro.numero, erro.descricao.decode("utf-8", "replace"))
    if codigo == _c.HANDLE_INVALIDO:
        raise Erro(-1, "objeto já liberado")
    raise Erro(-1, f"chamada inválida à biblioteca (código {codigo})")


class _Ausente:
    """An optional argument left off."""


AUSENTE = _Ausente()

# ---- Values across the boundary -------------------------------------------------------------


def _para_variant(valor: Any, v: _c.Variant, guardados: List[Any]) -> None:
    if valor is None:
        v.tipo = _c.VAZIO
    elif isinstance(valor, _Ausente):
        v.tipo = _c.AUSENTE
    elif isinstance(valor, bool):
        v.tipo, v.booleano = _c.BOOLEANO, int(valor)
    elif isinstance(valor, int):
        v.tipo, v.inteiro = _c.INTEIRO32, valor
    elif isinstance(valor, float):
        v.tipo, v.numero = _c.DUPLO, valor
    elif isinstance(valor, str):
        b = valor.encode("utf-8")
        guardados.append(b)
        v.tipo, v.texto = _c.TEXTO, b
    elif isinstance(valor, datetime):
        v.tipo, v.numero = _c.DATA, para_dias(valor)
    elif isinstance(valor, _Objeto):
        v.tipo, v.objeto = _c.OBJETO, valor.handle
    else:
        raise TypeError(f"valor que a biblioteca não aceita: {valor!r}")


def _de_variant(v: _c.Variant, emprestado: bool = False) -> Any:
    t = v.tipo
    if t in (_c.VAZIO, _c.AUSENTE):
        return None
    if t == _c.BOOLEANO:
        return bool(v.booleano)
    if t in (_c.INTEIRO16, _c.INTEIRO32):
        return int(v.inteiro)
    if t == _c.DUPLO:
        return float(v.numero)
    if t == _c.TEXTO:
        return (v.texto or b"").decode("utf-8", "replace")
    if t == _c.DATA:
        return de_dias(v.numero)
    if t == _c.OBJETO:
        if not v.objeto:
            return None
        handle = _c.lib().quorvel_duplica(v.objeto) if emprestado else v.objeto
        return _Objeto(handle)
    raise Erro(-1, f"tipo de valor desconhecido {t}")


_dispids: Dict[Tuple[str, str], int] = {}


class _Objeto:
    """A handle of the library, released once (explicitly, or when collected)."""

    def __init__(self, handle: int) -> None:
        self.handle: Optional[int] = handle
        self.classe = (_c.lib().quorvel_classe(handle) or b"").decode()

    def _dispid(self, nome: str) -> int:
        chave = (self.classe, nome)
        d = _dispids.get(chave)
        if d is None:
            numero, erro = ctypes.c_int32(), _c.ErroC()
            _verifica(
                _c.lib().quorvel_dispid(self.handle, nome.encode(), ctypes.byref(numero),
                                        ctypes.byref(erro)),
                erro,
            )
            d = _dispids[chave] = numero.value
        return d

    def invoca(self, nome: str, tipo: int, *args: Any) -> Any:
        _confere_thread()
        if self.handle is None:
            raise Erro(-1, "objeto já liberado")
        guardados: List[Any] = []
        vetor = (_c.Variant * max(len(args), 1))()
        for i, a in enumerate(args):
            _para_variant(a, vetor[i], guardados)
        resultado, erro = _c.Variant(), _c.ErroC()
        _verifica(
            _c.lib().quorvel_invoca(self.handle, self._dispid(nome), tipo, vetor, len(args),
                                    ctypes.byref(resultado), ctypes.byref(erro)),
            erro,
        )
        try:
            return _de_variant(resultado)
        finally:
            if resultado.tipo != _c.OBJETO:
                _c.lib().quorvel_variant_limpa(ctypes.byref(resultado))

    def chama(self, nome: str, *args: Any) -> Any:
        return self.invoca(nome, _c.METODO, *args)

    def le(self, nome: str) -> Any:
        return self.invoca(nome, _c.PROPGET)

    def poe(self, nome: str, valor: Any) -> None:
        self.invoca(nome, _c.PROPPUT, valor)

    def libera(self) -> None:
        if self.handle is not None and threading.get_ident() == _dona:
            _c.lib().quorvel_libera(self.handle)
        self.handle = None

    def __del__(self) -> None:
        try:
            self.libera()
        except Exception:
            pass


def _cria(progid: str) -> _Objeto:
    _confere_thread()
    handle, erro = ctypes.c_void_p(), _c.ErroC()
    _verifica(_c.lib().quorvel_cria(progid.encode(), ctypes.byref(handle), ctypes.byref(erro)),
              erro)
    assert handle.value is not None
    return _Objeto(handle.value)


def _texto_ou_nada(t: Optional[str]) -> Optional[str]:
    return t if t else None


def _marcacao_de(objeto: _Objeto) -> Marcacao:
    nsr = _texto_ou_nada(objeto.le("NSR"))
    registro = nsr is not None
    return Marcacao(
        relogio=int(objeto.le("CodigoRelogio")),
        data_hora=objeto.le("DataHoraMarcacao"),
        cartao=None if registro else int(objeto.le("CodigoCartao")),
        digital=None if registro else bool(objeto.le("MarcacaoPorDigital")),
        nsr=nsr,
        pis=_texto_ou_nada(objeto.le("PIS")),
    )


# ---- Collections ----------------------------------------------------------------------------


class ListaDeMarcacoes(Sequence[Marcacao]):
    """A collection's punches, read from the library in blocks as they are iterated: a
    million punches are walked without a million objects alive at once."""

    _BLOCO = 8192

    def __init__(self, lista: _Objeto) -> None:
        self._lista = lista
        self._total = int(lista.chama("Count"))

    def __len__(self) -> int:
        """How many punches the collection brought."""
        return self._total

    # One record of quorvel_marcacao as its bytes: segundos, cartao, relogio, digital, reservado,
    # nsr, pis. Unpacked from the block's bytes, far cheaper than a ctypes field at a time.
    _REGISTRO = struct.Struct("<qihBB24s24s")

    def _bloco(self, inicio: int, quantos: int) -> List[Marcacao]:
        _confere_thread()
        if self._lista.handle is None:
            raise Erro(-1, "lista já liberada")
        buffer = (_c.MarcacaoC * quantos)()
        lidas, erro = ctypes.c_int32(), _c.ErroC()
        _verifica(
            _c.lib().quorvel_marcacoes_le(self._lista.handle, inicio, quantos, buffer,
                                          ctypes.byref(lidas), ctypes.byref(erro)),
            erro,
        )
        bytes_ = memoryview(buffer).cast("B")[: lidas.value * self._REGISTRO.size]
        # A block of objects that hold no cycles: the cyclic collector has nothing to find in
        # them, and running it every few hundred of them would double the cost.
        coletor = gc.isenabled()
        gc.disable()
        try:
            return [
                Marcacao(relogio, _data_de(segundos), None, None, nsr.rstrip(b"\0").decode(),
                         pis.rstrip(b"\0").decode() or None)
                if nsr[0] else
                Marcacao(relogio, _data_de(segundos), cartao, digital != 0, None, None)
                for segundos, cartao, relogio, digital, _, nsr, pis
                in self._REGISTRO.iter_unpack(bytes_)
            ]
        finally:
            if coletor:
                gc.enable()

    def __iter__(self) -> Iterator[Marcacao]:
        """Every punch in the clock's order, a block at a time."""
        posicao = 1
        while posicao <= self._total:
            bloco = self._bloco(posicao, min(self._BLOCO, self._total - posicao + 1))
            if not bloco:
                return
            yield from bloco
            posicao += len(bloco)

    @overload
    def __getitem__(self, i: int) -> Marcacao: ...

    @overload
    def __getitem__(self, i: slice) -> List[Marcacao]: ...

    def __getitem__(self, i: Union[int, slice]) -> Union[Marcacao, List[Marcacao]]:
        """The punch at a position (0-based, negative from the end), or a slice as a list."""
        if isinstance(i, slice):
            return [self[k] for k in range(*i.indices(self._total))]
        if i < 0:
            i += self._total
        if not 0 <= i < self._total:
            raise IndexError("posição fora da lista")
        return self._bloco(i + 1, 1)[0]

    def fechar(self) -> None:
        """Lets the library free the punches now."""
        self._lista.libera()


# ---- The control ----------------------------------------------------------------------------

_DESCONECTADO = re.compile(r"rel[óo]gio (\d+)")


class Controle:
    """A ComunicacaoZK. `sdk`: "rede" (clocks over TCP or serial, the daemon relogio-virtual
    among them) or "virtual" (the clocks of this process). Use it in a `with` block: on exit
    monitoring stops, the clocks are disconnected and the library lets everything go."""

    def __init__(self, sdk: str = "rede") -> None:
        _confere_thread()
        erro = _c.ErroC()
        _verifica(_c.lib().quorvel_define_sdk(sdk.encode(), ctypes.byref(erro)), erro)
        self._obj: Optional[_Objeto] = _cria("QUORVEL.ComunicacaoZK")
        self._eventos: Deque[Evento] = deque()
        self._conexoes: Dict[int, Optional[bool]] = {}
        self._relogios: Dict[int, Relogio] = {}
        self._sink = _c.SINK(self._ao_evento)  # kept: the library calls it
        _verifica(
            _c.lib().quorvel_define_sink(self._obj.handle, self._sink, None, ctypes.byref(erro)),
            erro,
        )

    # -- lifetime --

    def __enter__(self) -> "Controle":
        return self

    def __exit__(self, tipo: Optional[Type[BaseException]], valor: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        self.fechar()

    def fechar(self) -> None:
        """Stops monitoring, disconnects every clock and lets the control go."""
        if self._obj is None:
            return
        try:
            self._obj.chama("PararMonitoracaoTodosRelogios")
            self._obj.chama("DesconectarTodosRelogios")
        except Erro:
            pass
        finally:
            self._obj.libera()
            self._obj = None
            self.processar_eventos(0)

    @property
    def _o(self) -> _Objeto:
        if self._obj is None:
            raise Erro(-1, "controle já fechado")
        return self._obj

    # -- events --

    def _ao_evento(self, _contexto: Any, dispid: int, args: Any, n: int) -> None:
        # Runs inside the library's event loop: nothing may escape into C.
        try:
            valores = [_de_variant(args[i], emprestado=True) for i in range(n)]
            if dispid == 2 and valores and isinstance(valores[0], _Objeto):
                objeto = valores[0]
                try:
                    self._eventos.append(_marcacao_de(objeto))
                finally:
                    objeto.libera()
            elif dispid == 3 and valores:
                codigo = int(valores[0])
                anterior = self._conexoes.get(codigo)
                self._conexoes[codigo] = True
                if anterior is False:
                    self._eventos.append(EventoConexao(codigo, True))
            elif dispid == 4 and valores:
                self._conexoes[int(valores[0])] = False
            elif dispid == 1 and len(valores) >= 2:
                descricao = str(valores[1])
                achado = _DESCONECTADO.search(descricao)
                codigo = int(achado.group(1)) if achado else 0
                if codigo:
                    self._conexoes[codigo] = False
                self._eventos.append(EventoConexao(codigo, False, descricao))
        except Exception:  # pragma: no cover - kept out of the C stack
            pass

    def processar_eventos(self, segundos: float = 0.05) -> None:
        """Runs the library's timers (connection, monitoring) for this long."""
        _confere_thread()
        _c.lib().quorvel_processa_eventos(int(segundos * 1000))

    # -- clocks --

    def adicionar(self, relogio: Relogio) -> None:
        """Registers a clock, with its own communication key."""
        _confere_thread()
        erro = _c.ErroC()
        chave = relogio.chave.encode() if relogio.chave is not None else None
        _verifica(_c.lib().quorvel_define_chave(chave, ctypes.byref(erro)), erro)
        try:
            r = _cria("QUORVEL.Relogio")
            r.poe("Codigo", relogio.codigo)
            r.poe("ModeloRelogio", int(relogio.modelo))
            if relogio.serial is not None:
                r.poe("TipoConexao", 1)
                r.poe("PortaSerial", relogio.serial)
            else:
                if not relogio.ip:
                    raise ValueError("relógio de rede sem ip")
                ip = relogio.ip if relogio.porta is None else f"{relogio.ip}:{relogio.porta}"
                r.poe("TipoConexao", 0)
                r.poe("IP", ip)
            self._o.chama("AddRelogio", r)
            r.libera()
        finally:
            _verifica(_c.lib().quorvel_define_chave(None, ctypes.byref(erro)), erro)
        self._relogios[relogio.codigo] = relogio
        self._conexoes[relogio.codigo] = None

    def remover(self, codigo: int) -> None:
        """Takes the clock out of the control (disconnecting it)."""
        self._o.chama("RemoverRelogio", codigo)
        self._relogios.pop(codigo, None)
        self._conexoes.pop(codigo, None)

    def conectar(self, codigo: int, espera: float = 15.0) -> None:
        """Connects the clock and waits for the answer; ConexaoRecusada when it cannot."""
        self._conexoes[codigo] = None
        self._o.chama("ConectarRelogio", codigo)
        fim = time.monotonic() + espera
        while self._conexoes.get(codigo) is None and time.monotonic() < fim:
            self.processar_eventos(0.02)
        if self._conexoes.get(codigo) is not True:
            raise ConexaoRecusada(
                -43, f"O relógio {codigo} não pôde ser conectado (endereço, chave ou modelo)."
            )

    def desconectar(self, codigo: int) -> None:
        """Closes the clock's link; it stays registered."""
        self._o.chama("DesconectarRelogio", codigo)
        self._conexoes[codigo] = None

    def conectado(self, codigo: int) -> bool:
        """Whether the last news of the clock's link was that it is up."""
        return self._conexoes.get(codigo) is True

    # -- punches --

    def coletar(self, codigo: int, ponteiro: int = 0, nsr: int = 0) -> ListaDeMarcacoes:
        """The clock's punches (register model: from the pointer or NSR given)."""
        lista = self._o.chama("ObterMarcacaoRelogio", codigo, ponteiro, nsr)
        if lista is None:
            raise Erro(-1, "coleta cancelada")
        return ListaDeMarcacoes(lista)

    def apagar_marcacoes(self, codigo: int) -> bool:
        """Erases the clock's punches (collect them first)."""
        return bool(self._o.chama("ApagarMarcacoesRelogio", codigo))

    def _inicia(self, codigos: Iterable[int]) -> List[int]:
        lista = list(codigos)
        for c in lista:
            self._o.chama("IniciaMonitoracaoRelogio", c)
        return lista

    def _para(self, codigos: List[int]) -> None:
        if self._obj is None:
            return
        for c in codigos:
            try:
                self._o.chama("PararMonitoracaoRelogio", c)
            except Erro:
                pass

    def monitorar(self, codigos: Iterable[int], intervalo: float = 0.05) -> Iterator[Evento]:
        """Punches as they arrive, and the clocks' links lost and back, until the loop is left
        (break, an exception, Ctrl-C): then monitoring of these clocks stops."""
        lista = self._inicia(codigos)
        try:
            while True:
                while self._eventos:
                    yield self._eventos.popleft()
                self.processar_eventos(intervalo)
        finally:
            self._para(lista)

    async def monitorar_async(self, codigos: Iterable[int],
                              intervalo: float = 0.05) -> AsyncIterator[Evento]:
        """The same for a host that runs an asyncio loop (on the library's thread): the event
        loop is pumped between awaits, so other tasks keep running."""
        lista = self._inicia(codigos)
        try:
            while True:
                while self._eventos:
                    yield self._eventos.popleft()
                self.processar_eventos(0)
                await asyncio.sleep(intervalo)
        finally:
            self._para(lista)

    # -- the clock's time --

    def data_hora(self, codigo: int) -> datetime:
        """The clock's own date and time."""
        return self._o.chama("ObterDataHoraRelogio", codigo)  # type: ignore[no-any-return]

    def definir_data_hora(self, codigo: int, quando: datetime) -> bool:
        """Sets the clock's date and time (to the second); False when the clock refused."""
        return bool(self._o.chama("EnviaDataHoraRelogio", codigo, quando))

    # -- employees --

    def enviar_funcionarios(self, codigo: int,
                            funcionarios: Iterable[Funcionario]) -> List[Recusa]:
        """Writes the employees into the clock; returns the ones it refused, with why."""
        self._o.chama("RemoverTodosFuncionariosCartao")
        try:
            for f in funcionarios:
                objeto = _cria("QUORVEL.FuncionarioCartao")
                objeto.poe("Codigo", f.codigo)
                objeto.poe("Nome", f.nome)
                objeto.poe("Supervisor", f.supervisor)
                if f.senha is not None:
                    objeto.poe("Senha", f.senha)
                if f.pis is not None:
                    objeto.poe("PIS", f.pis)
                if f.cpf is not None:
                    objeto.poe("CPF", f.cpf)
                if f.cartao is not None:
                    objeto.poe("Cartao", f.cartao)
                for dedo, texto in sorted(f.digitais.items()):
                    t = _cria("QUORVEL.Template")
                    t.poe("Dedo", dedo)
                    t.poe("Template", texto)
                    objeto.chama("AddTemplate", t)
                    t.libera()
                self._o.chama("AddFuncionarioCartao", objeto)
                objeto.libera()
            recusas = self._o.chama("EnviarListaFuncionarioCartaoRelogio", codigo)
        finally:
            self._o.chama("RemoverTodosFuncionariosCartao")
        r: List[Recusa] = []
        for i in range(1, int(recusas.chama("Count")) + 1):
            item = recusas.chama("Item", i)
            funcionario = item.le("FuncionarioCartao")
            r.append(Recusa(relogio=int(item.le("CodigoRelogio") or codigo),
                            codigo=int(funcionario.le("Codigo")),
                            motivo=MotivoRecusa(int(item.le("MotivoFalha")))))
            funcionario.libera()
            item.libera()
        recusas.libera()
        return r

    def funcionarios(self, codigo: int) -> List[Funcionario]:
        """Every employee the clock holds, with their templates."""
        lista = self._o.chama("ObterListaFuncionarioCartaoRelogio", codigo)
        r: List[Funcionario] = []
        for i in range(1, int(lista.chama("Count")) + 1):
            f = lista.chama("Item", i)
            templates = f.le("Template")
            digitais: Dict[int, str] = {}
            if templates is not None:
                for k in range(1, int(templates.chama("Count")) + 1):
                    t = templates.chama("Item", k)
                    digitais[int(t.le("Dedo"))] = str(t.le("Template"))
                    t.libera()
                templates.libera()
            r.append(Funcionario(
                codigo=int(f.le("Codigo")), nome=str(f.le("Nome")),
                senha=_texto_ou_nada(f.le("Senha")), supervisor=bool(f.le("Supervisor")),
                pis=_texto_ou_nada(f.le("PIS")), cpf=_texto_ou_nada(f.le("CPF")),
                cartao=_texto_ou_nada(f.le("Cartao")), digitais=digitais))
            f.libera()
        lista.libera()
        return r

    def excluir_funcionario(self, codigo: int, funcionario: int) -> bool:
        """Deletes an employee from the clock; True when the clock no longer has them."""
        return bool(self._o.chama("ExcluiFuncionarioCartaoRelogio", codigo, funcionario))


def modelo_de(valor: Union[int, str, Modelo]) -> Modelo:
    """A model from its number or name ("quorvel", "tarvenix")."""
    if isinstance(valor, str):
        return Modelo[valor.upper()]
    return Modelo(int(valor))
