"""The package against the clocks of this process and against relogio-virtual: both models
collected with every value, monitoring across a daemon restart (each punch once), employees
sent with refusals, a key per clock, numbered exceptions, the one-thread rule, a million
punches iterated with bounded memory."""

from __future__ import annotations

import asyncio
import json
import os
import signal
import subprocess
import sys
import threading
import time
import tracemalloc
from datetime import datetime
from pathlib import Path
from typing import Any, List, Set, Tuple

import pytest

import quorvel
from quorvel import Modelo, _c

from conftest import Daemon, ponto


def test_o_pacote_traz_a_biblioteca_e_a_versao_dela() -> None:
    assert quorvel.__version__ == "11.1.0"
    assert (Path(quorvel.__file__).parent / "libquorvel.so").exists()
    assert quorvel.codigos.RELOGIO_NAO_REGISTRADO == -41


def test_relogios_embutidos_de_ambos_os_modelos() -> None:
    quorvel.virtual.publicar("192.0.2.61", 4370, Modelo.QUORVEL)
    quorvel.virtual.publicar("192.0.2.62", 4370, Modelo.TARVENIX)
    with quorvel.Controle("virtual") as c:
        c.adicionar(quorvel.Relogio(1, Modelo.QUORVEL, ip="192.0.2.61"))
        c.adicionar(quorvel.Relogio(2, Modelo.TARVENIX, ip="192.0.2.62"))
        c.conectar(1)
        c.conectar(2)
        digitais = list(c.coletar(1))
        registros = c.coletar(2)
        assert len(digitais) > 0 and len(registros) > 0
        assert all(m.relogio == 1 and m.nsr is None and m.pis is None for m in digitais)
        assert all(isinstance(m.data_hora, datetime) for m in digitais)
        nsrs = [int(m.nsr or "0") for m in registros]
        assert nsrs == list(range(1, len(registros) + 1))
        assert registros[0].pis == "12034567899"
        assert registros[-1] == list(registros)[-1]
        # The clock's time is the computer's (no drift on a virtual clock).
        assert abs((c.data_hora(1) - datetime.now()).total_seconds()) < 120
    # The package carries the library as installed: no test hooks in it.
    assert not hasattr(quorvel.virtual, "limpar")
    with pytest.raises(AttributeError):
        _c.lib().quorvel_virtual_limpa


def _linhas(marcacoes: Any) -> List[Tuple[Any, ...]]:
    return [(m.relogio, m.data_hora.strftime("%Y-%m-%d %H:%M:%S"), m.cartao, m.digital, m.nsr,
             m.pis) for m in marcacoes]


def test_coleta_do_daemon_igual_a_do_ponto(daemons: List[Daemon]) -> None:
    d = Daemon(["--relogio", "codigo=1,porta=0,exemplo", "--relogio",
                "codigo=2,porta=0,exemplo,modelo=tarvenix"], 2)
    daemons.append(d)
    with quorvel.Controle() as c:
        for codigo, modelo in ((1, Modelo.QUORVEL), (2, Modelo.TARVENIX)):
            c.adicionar(quorvel.Relogio(codigo, modelo, ip="127.0.0.1",
                                        porta=d.portas[codigo - 1]))
            c.conectar(codigo)
            do_pacote = _linhas(c.coletar(codigo))
            saida = ponto("coletar", "--relogio", str(codigo), "--ip",
                          f"127.0.0.1:{d.portas[codigo - 1]}", "--modelo", modelo.name.lower(),
                          "--formato", "json")
            assert saida.returncode == 0, saida.stderr
            do_ponto = [(codigo, j["data_hora"], j["cartao"], j["digital"], j["nsr"], j["pis"])
                        for j in json.loads(saida.stdout)]
            assert do_pacote == do_ponto


def test_monitoracao_atraves_de_um_reinicio_do_daemon(daemons: List[Daemon],
                                                     tmp_path: Path) -> None:
    diario = tmp_path / "registro.jsonl"
    espec = f"codigo=1,porta=0,modelo=tarvenix,exemplo,dados={diario}"
    d = Daemon(["--marcacoes-por-minuto", "600", "--relogio", espec], 1)
    daemons.append(d)
    porta = d.portas[0]
    com_porta = ["--marcacoes-por-minuto", "600", "--relogio",
                 espec.replace("porta=0", f"porta={porta}")]
    nsrs: List[int] = []
    eventos: List[quorvel.EventoConexao] = []
    with quorvel.Controle() as c:
        c.adicionar(quorvel.Relogio(1, Modelo.TARVENIX, ip="127.0.0.1", porta=porta))
        c.conectar(1)
        morto = False
        prazo = time.monotonic() + 90
        for ev in c.monitorar([1]):
            assert time.monotonic() < prazo, f"monitoração parada: {nsrs} {eventos}"
            if isinstance(ev, quorvel.EventoConexao):
                eventos.append(ev)
                if not ev.conectado:
                    d.inicia(com_porta)  # back on the same port, from its journal
                continue
            nsrs.append(int(ev.nsr or "0"))
            if len(nsrs) == 3 and not morto:
                d.mata()
                morto = True
            if morto and any(e.conectado for e in eventos) and len(nsrs) >= 8:
                break
    assert [e.conectado for e in eventos][:2] == [False, True]
    # Every punch once, in order, none skipped across the restart.
    assert nsrs == list(range(nsrs[0], nsrs[0] + len(nsrs)))


def test_monitoracao_com_asyncio(daemons: List[Daemon]) -> None:
    d = Daemon(["--marcacoes-por-minuto", "600", "--relogio", "codigo=1,porta=0,exemplo"], 1)
    daemons.append(d)

    async def principal() -> Tuple[List[quorvel.Marcacao], int]:
        outras = 0

        async def outra_tarefa() -> None:
            nonlocal outras
            while True:
                outras += 1
                await asyncio.sleep(0.01)

        tarefa = asyncio.create_task(outra_tarefa())
        recebidas: List[quorvel.Marcacao] = []
        with quorvel.Controle() as c:
            c.adicionar(quorvel.Relogio(1, ip="127.0.0.1", porta=d.portas[0]))
            c.conectar(1)
            async for ev in c.monitorar_async([1]):
                if isinstance(ev, quorvel.Marcacao):
                    recebidas.append(ev)
                if len(recebidas) >= 3:
                    break
        tarefa.cancel()
        return recebidas, outras

    recebidas, outras = asyncio.run(asyncio.wait_for(principal(), 60))
    assert len(recebidas) == 3
    assert len({(m.cartao, m.data_hora) for m in recebidas}) == 3
    assert outras > 0  # the loop kept running other tasks


def test_envio_de_funcionarios_com_recusas(daemons: List[Daemon]) -> None:
    d = Daemon(["--relogio", "codigo=1,porta=0"], 1)
    daemons.append(d)
    with quorvel.Controle() as c:
        c.adicionar(quorvel.Relogio(1, ip="127.0.0.1", porta=d.portas[0]))
        c.conectar(1)
        recusas = c.enviar_funcionarios(1, [
            quorvel.Funcionario(10, "Ana", senha="1234"),
            quorvel.Funcionario(11, "Bia", digitais={0: "QUJDRA==", 9: "RUZHSA=="}),
            quorvel.Funcionario(12, "Sem senha nem digital"),
        ])
        assert recusas == [quorvel.Recusa(1, 12, quorvel.MotivoRecusa.NAO_POSSUI_SENHA_OU_TEMPLATE)]
        lidos = {f.codigo: f for f in c.funcionarios(1)}
        assert lidos[10].nome == "Ana" and lidos[10].senha == "1234"
        assert sorted(lidos[11].digitais) == [0, 9]
        assert 12 not in lidos


def test_uma_chave_por_relogio(daemons: List[Daemon]) -> None:
    d = Daemon(["--relogio", "codigo=1,porta=0,chave=primeira", "--relogio",
                "codigo=2,porta=0,chave=segunda"], 2)
    daemons.append(d)
    with quorvel.Controle() as c:
        c.adicionar(quorvel.Relogio(1, ip="127.0.0.1", porta=d.portas[0], chave="primeira"))
        c.adicionar(quorvel.Relogio(2, ip="127.0.0.1", porta=d.portas[1], chave="errada"))
        c.adicionar(quorvel.Relogio(3, ip="127.0.0.1", porta=d.portas[1], chave="segunda"))
        c.conectar(1)
        c.conectar(3)
        assert c.conectado(1) and c.conectado(3)
        with pytest.raises(quorvel.ConexaoRecusada):
            c.conectar(2, espera=10)


def test_erros_viram_excecoes_com_numero_classe_e_metodo() -> None:
    with quorvel.Controle("virtual") as c:
        with pytest.raises(quorvel.RelogioNaoRegistrado) as nao_registrado:
            c.coletar(99)
        assert nao_registrado.value.numero == -41
        assert nao_registrado.value.classe == "ComunicacaoZK"
        assert nao_registrado.value.metodo
        c.adicionar(quorvel.Relogio(5, ip="192.0.2.99"))
        with pytest.raises(quorvel.RelogioDesconectado) as desconectado:
            c.coletar(5)
        assert desconectado.value.numero == quorvel.codigos.RELOGIO_DESCONECTADO
        assert isinstance(desconectado.value, quorvel.Erro)
        with pytest.raises(quorvel.Erro) as repetido:
            c.adicionar(quorvel.Relogio(5, ip="192.0.2.98"))
        assert repetido.value.numero == quorvel.codigos.RELOGIO_REPETIDO


def test_outra_thread_recebe_uma_excecao_clara() -> None:
    with quorvel.Controle("virtual") as c:
        erros: List[BaseException] = []

        def de_outra_thread() -> None:
            try:
                c.adicionar(quorvel.Relogio(7, ip="192.0.2.7"))
            except BaseException as e:  # noqa: B902 - what was raised is the test
                erros.append(e)

        t = threading.Thread(target=de_outra_thread)
        t.start()
        t.join()
        assert len(erros) == 1 and isinstance(erros[0], quorvel.ErroDeThread)
        with pytest.raises(quorvel.RelogioNaoRegistrado):
            c.coletar(7)  # nothing was registered from the other thread


def test_um_milhao_de_marcacoes_com_memoria_limitada(daemons: List[Daemon]) -> None:
    d = Daemon(["--semear", "1000000", "--relogio",
                "codigo=1,porta=0,modelo=tarvenix,capacidade=1100000"], 1)
    daemons.append(d)
    with quorvel.Controle() as c:
        c.adicionar(quorvel.Relogio(1, Modelo.TARVENIX, ip="127.0.0.1", porta=d.portas[0]))
        c.conectar(1)
        lista = c.coletar(1)
        assert len(lista) == 1_000_000
        tracemalloc.start()
        esperado, vistos, fora_de_ordem = 1, 0, 0
        for m in lista:
            fora_de_ordem += int(m.nsr or "0") != esperado
            esperado += 1
            vistos += 1
        _, pico = tracemalloc.get_traced_memory()
        tracemalloc.stop()
        lista.fechar()
    assert vistos == 1_000_000 and fora_de_ordem == 0
    # One block of records and its objects at a time, never the million.
    assert pico < 32 * 1024 * 1024, f"pico de {pico} bytes"


def test_ctrl_c_para_a_monitoracao(daemons: List[Daemon]) -> None:
    d = Daemon(["--marcacoes-por-minuto", "600", "--relogio", "codigo=1,porta=0,exemplo"], 1)
    daemons.append(d)
    programa = f"""
import quorvel, sys
with quorvel.Controle() as c:
    c.adicionar(quorvel.Relogio(1, ip="127.0.0.1", porta={d.portas[0]}))
    c.conectar(1)
    try:
        for ev in c.monitorar([1]):
            print("marcação", flush=True)
    except KeyboardInterrupt:
        print("interrompido", flush=True)
    print("fechado" if c.conectado(1) else "desconectado", flush=True)
"""
    p = subprocess.Popen([sys.executable, "-c", programa], stdout=subprocess.PIPE, text=True,
                         env=dict(os.environ))
    assert p.stdout is not None
    assert p.stdout.readline().strip() == "marcação"
    p.send_signal(signal.SIGINT)
    resto = p.communicate(timeout=60)[0].splitlines()
    assert p.returncode == 0
    assert "interrompido" in resto and resto[-1] in ("fechado", "desconectado")
