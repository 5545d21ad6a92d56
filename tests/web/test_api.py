"""The page's JSON API at process level: each endpoint's fields and types against ponto's own
output, paging bounds, bad parameters, the events stream against the store, the token."""
from __future__ import annotations

import socket
import subprocess
from datetime import date, timedelta

import pytest

from suporte import (PONTO, Daemon, Eventos, Servico, Site, ambiente, arquivo_relogios,
                     espera, identidade, pede, ponto)

CAMPOS_RELOGIO = ["relogio", "modelo", "endereco", "conectado", "conectado_desde",
                  "ultima_marcacao", "gravada_em", "marcacoes_hoje", "ultimo_erro",
                  "arrendado_por", "arrendamento_vivo", "arrendamento_segundos", "atualizado_em",
                  "problema"]
CAMPOS_MARCACAO = ["relogio", "data_hora", "cartao", "digital", "nsr", "pis", "nome",
                   "recebida_em"]


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    # Clock 3 punches every second.
    s = Site(tmp_path_factory.mktemp("api"), 60, ";;razao_social=Padaria Modelo")
    yield s
    s.para()


def exportados(site, *filtro: str) -> list[dict]:
    import json
    return json.loads(ponto(site.pasta, "exportar", "--banco", site.banco, "--formato", "json",
                            *filtro))


def test_clocks_have_the_state_fields_and_types_and_problems_come_first(site):
    r = pede(site.url + "/api/relogios")
    assert r.status == 200
    assert r.cabecalhos["Content-Type"].startswith("application/json")
    lista = espera(lambda: (l := pede(site.url + "/api/relogios").json()) and
                   all(x["conectado"] for x in l) and l, 60, "os três relógios conectados")
    assert [x["relogio"] for x in lista] == [1, 2, 3]
    for x in lista:
        assert list(x) == CAMPOS_RELOGIO
        assert isinstance(x["conectado"], bool) and isinstance(x["arrendamento_vivo"], bool)
        assert isinstance(x["marcacoes_hoje"], int)
        assert x["arrendado_por"] == "servico" and x["problema"] is None
    assert [x["modelo"] for x in lista] == ["quorvel", "tarvenix", "tarvenix"]
    assert lista[2]["endereco"] == f"127.0.0.1:{site.vivo.portas[0]}"
    # The same fields, in the same order, as `ponto servico --estado --formato json`.
    import json
    estado = json.loads(ponto(site.pasta, "servico", "--estado", "--banco", site.banco,
                              "--formato", "json"))
    comuns = [c for c in CAMPOS_RELOGIO if c not in ("modelo", "endereco", "problema")]
    assert all(list(e) == comuns for e in estado)


def test_pages_cover_the_filter_once_each_in_time_order(site):
    esperado = exportados(site, "--relogio", "1") + exportados(site, "--relogio", "2")
    vistos = []
    pagina, paginas = 1, None
    while True:
        r = pede(site.url + f"/api/marcacoes?relogio=1,2&por_pagina=7&pagina={pagina}")
        assert r.status == 200
        corpo = r.json()
        assert list(corpo) == ["total", "pagina", "por_pagina", "paginas", "marcacoes"]
        assert corpo["total"] == len(esperado) and corpo["pagina"] == pagina
        paginas = corpo["paginas"]
        assert len(corpo["marcacoes"]) == (7 if pagina < paginas else len(esperado) - 7 * (paginas - 1))
        for m in corpo["marcacoes"]:
            assert list(m) == CAMPOS_MARCACAO
        vistos += corpo["marcacoes"]
        if pagina == paginas:
            break
        pagina += 1
    assert paginas == (len(esperado) + 6) // 7
    # Each punch once, the same fields and values as `ponto exportar --formato json`.
    assert sorted(map(identidade, vistos)) == sorted(map(identidade, esperado))
    assert len(set(map(identidade, vistos))) == len(vistos)
    sem_extras = [{k: v for k, v in m.items() if k not in ("nome", "recebida_em")} for m in vistos]
    assert sorted(sem_extras, key=identidade) == sorted(esperado, key=identidade)
    assert [m["data_hora"] for m in vistos] == sorted(m["data_hora"] for m in vistos)
    # Names where the store knows the PIS; fingerprint punches carry none.
    assert all(m["nome"] for m in vistos if m["relogio"] == 2)
    assert all(m["nome"] is None and m["pis"] is None for m in vistos if m["relogio"] == 1)
    # Past the last page: an empty page, not an error.
    r = pede(site.url + f"/api/marcacoes?relogio=1,2&por_pagina=7&pagina={paginas + 1}").json()
    assert r["marcacoes"] == [] and r["total"] == len(esperado)


@pytest.mark.parametrize("consulta, trecho", [
    ("marcacoes?por_pagina=0", "\"por_pagina\" deve ser um número de 1 a 500"),
    ("marcacoes?por_pagina=501", "\"por_pagina\" deve ser um número de 1 a 500"),
    ("marcacoes?pagina=0", "\"pagina\" deve ser um número de 1 a 1000000"),
    ("marcacoes?pagina=x", "\"pagina\" deve ser um número"),
    ("marcacoes?de=31/02/2026", "--de"),
    ("marcacoes?de=2026-12-09&ate=2026-12-01", "--de é posterior a --ate"),
    ("marcacoes?relogio=0", "lista de códigos de relógio"),
    ("marcacoes?relogio=1;2", "lista de códigos de relógio"),
    ("marcacoes?ordem=data", "parâmetro desconhecido \"ordem\""),
    ("marcacoes?relogio=1&relogio=2", "parâmetro \"relogio\" repetido"),
    ("marcacoes?funcionario=%20", None),
    ("marcacoes.csv?de=ontem", "--de"),
    ("contagens?periodo=semana", "\"periodo\" deve ser hora ou dia"),
    ("contagens?periodo=hora&dia=2026-13-01", "\"dia\" deve ser uma data aaaa-mm-dd"),
    ("contagens?periodo=dia&dias=367", "\"dias\" deve ser um número de 1 a 366"),
    ("contagens?periodo=hora&dias=3", "desconhecido para periodo=hora"),
    ("afd?leiaute=2000", "ponto: leiaute desconhecido \"2000\""),
    ("afd?crc=md5", "ponto: CRC desconhecido"),
    ("afd?saida=/tmp/x", "parâmetro desconhecido \"saida\""),
    ("afd?banco=/tmp/x.db", "parâmetro desconhecido \"banco\""),
    ("afd?omitir_sem_cpf=talvez", "\"omitir_sem_cpf\" deve ser 1 ou 0"),
    ("afd?empregador_documento=12345678000100", "ponto: "),
])
def test_bad_parameters_are_400_with_a_portuguese_message(site, consulta, trecho):
    r = pede(site.url + "/api/" + consulta)
    if trecho is None:  # a blank employee is no filter: every punch
        assert r.status == 200
        return
    assert r.status == 400, (consulta, r.status, r.corpo)
    assert trecho in r.json()["erro"], r.json()


def test_unknown_paths_are_json_404(site):
    r = pede(site.url + "/api/nada")
    assert r.status == 404 and r.json()["erro"] == "não encontrado."


def test_an_employee_is_found_by_name_pis_cpf_or_card(site):
    ana = [m for m in exportados(site, "--relogio", "2") if m["pis"] == "12034567899"]
    assert ana
    for termo in ["ana", "ANA SOUZA", "Âna", "12034567899", "529.982.247-25"]:
        r = pede(site.url + "/api/marcacoes?relogio=2&por_pagina=500&funcionario=" +
                 urllib_quote(termo)).json()
        assert sorted(map(identidade, r["marcacoes"])) == sorted(map(identidade, ana)), termo
    cartao3 = [m for m in exportados(site, "--relogio", "1") if m["cartao"] == 3]
    r = pede(site.url + "/api/marcacoes?relogio=1&por_pagina=500&funcionario=3").json()
    assert sorted(map(identidade, r["marcacoes"])) == sorted(map(identidade, cartao3))
    r = pede(site.url + "/api/marcacoes?funcionario=ninguem-assim").json()
    assert r["total"] == 0 and r["marcacoes"] == []


def urllib_quote(t: str) -> str:
    import urllib.parse
    return urllib.parse.quote(t)


def test_counts_per_hour_and_per_day_add_up_to_the_stored_punches(site):
    ontem = (date.today() - timedelta(days=1)).isoformat()
    do_dia = exportados(site, "--relogio", "2", "--de", ontem, "--ate", ontem)
    assert do_dia
    r = pede(site.url + f"/api/contagens?periodo=hora&dia={ontem}&relogio=2").json()
    assert r["periodo"] == "hora" and r["dia"] == ontem and r["relogios"] == [2]
    assert [c["hora"] for c in r["contagens"]] == list(range(24))
    for c in r["contagens"]:
        assert c["marcacoes"] == sum(1 for m in do_dia if int(m["data_hora"][11:13]) == c["hora"])
    r = pede(site.url + "/api/contagens?periodo=dia&relogio=1,2").json()
    assert len(r["contagens"]) == 30 and r["contagens"][-1]["dia"] == date.today().isoformat()
    todos = exportados(site, "--relogio", "1") + exportados(site, "--relogio", "2")
    for c in r["contagens"]:
        assert c["marcacoes"] == sum(1 for m in todos if m["data_hora"][:10] == c["dia"]), c


def test_the_csv_download_is_what_ponto_exportar_prints(site):
    ontem = (date.today() - timedelta(days=1)).isoformat()
    r = pede(site.url + f"/api/marcacoes.csv?relogio=2&de={ontem}")
    assert r.status == 200 and r.cabecalhos["Content-Type"].startswith("text/csv")
    assert r.corpo.decode("utf-8") == ponto(site.pasta, "exportar", "--banco", site.banco,
                                            "--relogio", "2", "--de", ontem, "--formato", "csv")


def mesmo_afd(web: bytes, linha_de_comando: bytes) -> bool:
    """Equal files; the header's generation time may differ by the moment each was made."""
    a, b = web.split(b"\r\n"), linha_de_comando.split(b"\r\n")
    assert len(a) == len(b) and a[1:] == b[1:]
    return a[0] == b[0]


@pytest.mark.parametrize("leiaute", ["671", "1510"])
def test_the_afd_download_is_what_ponto_exportar_afd_writes(site, leiaute):
    saida = site.pasta / f"afd-{leiaute}.txt"
    for _ in range(20):
        r = pede(site.url + f"/api/afd?relogio=2&leiaute={leiaute}&fuso=-0300&rascunho=1")
        assert r.status == 200, r.corpo
        assert r.cabecalhos["Content-Disposition"] == 'attachment; filename="AFD_relogio_2.txt"'
        # The header fields left blank are told, as the command tells them.
        assert "Aviso" in urllib_unquote(r.cabecalhos["X-Quorvel-Avisos"])
        ponto(site.pasta, "exportar", "afd", "--banco", site.banco, "--relogio", "2",
              "--leiaute", leiaute, "--fuso", "-0300", "--relogios", site.relogios,
              "--rascunho", "--saida", str(saida))
        if mesmo_afd(r.corpo, saida.read_bytes()):
            break
    else:
        pytest.fail("o cabeçalho do AFD diferiu em 20 tentativas")
    # The clocks file's header fields reach the page's export as they reach the command's.
    assert b"RASCUNHO - Padaria Modelo" in r.corpo
    # Without the draft mark, a file whose header lacks a mandatory field is refused.
    r = pede(site.url + "/api/afd?relogio=2&fuso=-0300")
    assert r.status in (400, 422), r.corpo
    assert "campos obrigatórios do cabeçalho não informados" in r.json()["erro"]
    # A fingerprint clock has no AFD: the command's own words, not a file.
    r = pede(site.url + "/api/afd?relogio=1")
    assert r.status == 422
    assert r.json()["erro"] == "Nenhuma marcação de relógio tarvenix no banco para esse filtro.\n"


def urllib_unquote(t: str) -> str:
    import urllib.parse
    return urllib.parse.unquote(t)


def test_events_bring_each_new_punch_once_and_the_store_holds_it(site):
    e = Eventos(site.url)
    try:
        inicial = e.proximo("relogios")
        assert [r["relogio"] for r in inicial] == [1, 2, 3]
        recebidas = []
        while len(recebidas) < 4:
            m = e.proximo("marcacao", 60)
            assert list(m) == CAMPOS_MARCACAO
            recebidas.append(m)
        assert all(m["relogio"] == 3 for m in recebidas)
        assert len(set(map(identidade, recebidas))) == len(recebidas)
        nsrs = [int(m["nsr"]) for m in recebidas]
        assert nsrs == sorted(nsrs)
        guardadas = {identidade(m) for m in exportados(site, "--relogio", "3")}
        assert all(identidade(m) in guardadas for m in recebidas)
        # A clock's row follows its punches.
        r = e.proximo("relogio", 30, lambda d: d["relogio"] == 3)
        assert list(r) == CAMPOS_RELOGIO
    finally:
        e.fecha()


def test_twenty_pages_watch_at_once_and_each_gets_the_same_punch(site):
    paginas = [Eventos(site.url) for _ in range(20)]
    try:
        for p in paginas:
            p.proximo("relogios")
        # The first punch every page saw after all of them were watching.
        primeira = paginas[0].proximo("marcacao", 60)
        for p in paginas[1:]:
            p.proximo("marcacao", 60, lambda d: identidade(d) == identidade(primeira))
    finally:
        for p in paginas:
            p.fecha()


def rss_kib(pid: int) -> int:
    for linha in open(f"/proc/{pid}/status"):
        if linha.startswith("VmRSS:"):
            return int(linha.split()[1])
    return 0


def fechada_pelo_servico(porta_servico: int, porta_pagina: int) -> bool:
    """The service's end of a connection to the page at `porta_pagina` is closed or closing
    (FIN sent behind what the page never read), as the kernel's table shows it."""
    for linha in open("/proc/net/tcp").readlines()[1:]:
        campos = linha.split()
        local, remoto = (int(c.split(":")[1], 16) for c in campos[1:3])
        if (local, remoto) == (porta_servico, porta_pagina):
            return campos[3] != "01"  # anything but ESTABLISHED
    return True


def test_a_page_that_stops_reading_is_dropped_and_the_service_does_not_grow(tmp_path):
    # A clock that punches a hundred times a second, so events pile up fast.
    rapido = Daemon(tmp_path, "rapido", ["codigo=7,modelo=tarvenix,exemplo"],
                    ["--marcacoes-por-minuto", "6000"])
    servico = Servico(tmp_path, str(tmp_path / "rapido.db"),
                      arquivo_relogios(tmp_path, [f"7;127.0.0.1:{rapido.portas[0]};tarvenix"]))
    try:
        espera(lambda: "pronto: primeira reconciliação" in servico.texto(), 90, "o serviço")
        antes = rss_kib(servico.p.pid)
        lentas = []
        for _ in range(4):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.connect(("127.0.0.1", servico.porta))
            s.sendall(b"GET /api/eventos HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            lentas.append(s)
        # Nobody reads. The service gives up on each page instead of queueing for it.
        for s in lentas:
            porta = s.getsockname()[1]
            espera(lambda: fechada_pelo_servico(servico.porta, porta), 120,
                   f"o serviço fechar a página {porta}")
        total = 0
        for s in lentas:
            s.settimeout(30)
            while (b := s.recv(65536)):
                total += len(b)
            s.close()
        assert total < 4 * 1024 * 1024
        assert rss_kib(servico.p.pid) - antes < 64 * 1024
        # The service still serves, and a new page watches as before.
        e = Eventos(servico.url)
        try:
            e.proximo("marcacao", 60)
        finally:
            e.fecha()
    finally:
        assert servico.para() == 0
        rapido.para()


def test_atualizar_needs_a_token_and_the_loopback_page_checks_the_host(site):
    r = pede(site.url + "/api/relogios/3/atualizar", metodo="POST", cabecalhos={"X-Quorvel": "1"})
    assert r.status == 403 and "--web-token" in r.json()["erro"]
    # A name that points here from elsewhere (DNS rebinding) does not reach the API.
    r = pede(site.url + "/api/relogios", cabecalhos={"Host": "exemplo.invalid:80"})
    assert r.status == 403
    # The page itself has no data and loads.
    r = pede(site.url + "/")
    assert r.status == 200 and b"Painel de coleta" in r.corpo
    assert "script-src 'self'" in r.cabecalhos["Content-Security-Policy"]


TOKEN = "segredo-do-painel-0123456789"


def test_off_loopback_every_endpoint_needs_the_token_and_the_action_its_header(site, tmp_path):
    sem = subprocess.run([PONTO, "servico", "--banco", site.banco, "--relogios", site.relogios,
                          "--web", "0.0.0.0:0"], capture_output=True, env=ambiente(tmp_path),
                         timeout=60)
    assert sem.returncode == 2
    assert "exige --web-token ARQUIVO" in sem.stderr.decode()
    curto = tmp_path / "curto"
    curto.write_text("abc\n")
    r = subprocess.run([PONTO, "web", "--banco", site.banco, "--web", "0.0.0.0:0",
                        "--web-token", str(curto)], capture_output=True, timeout=60)
    assert r.returncode == 2 and "curto demais" in r.stderr.decode()

    arquivo = tmp_path / "token"
    arquivo.write_text(TOKEN + "\n")
    outro = Servico(tmp_path, str(tmp_path / "outro.db"), site.relogios, web="0.0.0.0:0",
                    extra=["--web-token", str(arquivo)], nome="comtoken")
    try:
        base = f"http://127.0.0.1:{outro.porta}"
        espera(lambda: "pronto: primeira reconciliação" in outro.texto(), 90, "o segundo serviço")
        for caminho in ["/api/relogios", "/api/marcacoes", "/api/marcacoes.csv", "/api/contagens",
                        "/api/eventos", "/api/afd?relogio=2", "/api/nada"]:
            for token in (None, "errado", TOKEN + "x"):
                r = pede(base + caminho, token=token)
                assert r.status == 401, (caminho, token, r.status)
                assert r.cabecalhos["WWW-Authenticate"].startswith("Bearer")
        r = pede(base + "/api/relogios/3/atualizar", metodo="POST")
        assert r.status == 401
        assert pede(base + "/api/relogios", token=TOKEN).status == 200
        assert pede(base + "/api/afd?relogio=2&rascunho=1", token=TOKEN).status == 200
        # The action: the token and the page's own header, else refused.
        r = pede(base + "/api/relogios/3/atualizar", token=TOKEN, metodo="POST")
        assert r.status == 403 and "X-Quorvel" in r.json()["erro"]
        r = pede(base + "/api/relogios/9/atualizar", token=TOKEN, metodo="POST",
                 cabecalhos={"X-Quorvel": "1"})
        assert r.status == 409 and "não é coletado por este serviço" in r.json()["erro"]
        espera(lambda: all(x["conectado"] for x in pede(base + "/api/relogios", token=TOKEN).json()),
               60, "os relógios do segundo serviço conectados")
        r = pede(base + "/api/relogios/3/atualizar", token=TOKEN, metodo="POST",
                 cabecalhos={"X-Quorvel": "1"})
        assert r.status == 202 and r.json() == {"relogio": 3, "pedido": "aceito"}
        espera(lambda: "relógio 3: atualização pedida pelo painel" in outro.texto(), 30,
               "o serviço atender o pedido")
        # `ponto web` only shows: the action belongs to a service.
    finally:
        assert outro.para() == 0
