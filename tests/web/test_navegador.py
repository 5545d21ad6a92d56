"""The page in a real browser: headless Chromium driven by Selenium against `ponto servico
--web` on relogio-virtual clocks. What the page shows is compared with what is true (a daemon
killed, a punch made, the store through `ponto exportar`); a screenshot of each state is kept
in QUORVEL_CAPTURAS."""
from __future__ import annotations

import json
import os
import time
from datetime import date, datetime, timedelta
from pathlib import Path

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from suporte import Servico, Site, espera, ponto

CAPTURAS = Path(os.environ.get("QUORVEL_CAPTURAS", "/tmp/quorvel-capturas"))


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    CAPTURAS.mkdir(parents=True, exist_ok=True)
    s = Site(tmp_path_factory.mktemp("navegador"), 20)  # clock 3: a punch every 3 s
    s.downloads = s.pasta / "downloads"
    s.downloads.mkdir()
    s.navegador = abre_navegador(s.downloads)
    s.navegador.get(s.servico.url + "/")
    yield s
    s.navegador.quit()
    s.para()


def abre_navegador(downloads: Path):
    o = Options()
    o.binary_location = "/usr/bin/chromium"
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--window-size=1400,1900", "--lang=pt-BR", "--disable-extensions"]:
        o.add_argument(a)
    o.add_experimental_option("prefs", {"intl.accept_languages": "pt-BR"})
    # A home of its own: the browser keeps nothing in the person's (or CI's) home folder.
    casa = downloads.parent / "casa-do-navegador"
    casa.mkdir(exist_ok=True)
    servico = Service("/usr/bin/chromedriver", env=dict(os.environ, HOME=str(casa)))
    d = webdriver.Chrome(service=servico, options=o)
    d.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow",
                                                   "downloadPath": str(downloads)})
    return d


def captura(site, nome: str) -> None:
    site.navegador.save_screenshot(str(CAPTURAS / nome))


# Read in one script call, so a table or chart the page redraws meanwhile (a clock's row on
# each event, the charts after punches) is read whole, never half old and half new.
LE_TABELA = """
return [...document.querySelectorAll('#' + arguments[0] + ' tbody tr')].map(tr => ({
  classe: tr.className, relogio: tr.dataset.relogio || null, chegou: tr.dataset.chegouEm || null,
  celulas: [...tr.cells].map(td => td.innerText.trim())}));
"""
LE_BARRAS = """
return [...document.querySelectorAll('#' + arguments[0] + ' rect.barra')].map(b => ({
  valor: Number(b.getAttribute('data-valor')), altura: Number(b.getAttribute('height'))}));
"""


def cor(site, seletor: str) -> str:
    return site.navegador.execute_script(
        "return getComputedStyle(document.querySelector(arguments[0])).backgroundColor", seletor)


def escolhe(d, campo: str, valor: str) -> None:
    """Picks an option as a person does, in one step (the page may redraw the list meanwhile)."""
    d.execute_script("const s = document.getElementById(arguments[0]); s.value = arguments[1];"
                     "s.dispatchEvent(new Event('change'));", campo, valor)
    assert d.execute_script("return document.getElementById(arguments[0]).value", campo) == valor


def linhas(site, tabela: str) -> list[dict]:
    """Rows of a table as the person sees them: the cells' texts, the row's class and data."""
    return site.navegador.execute_script(LE_TABELA, tabela)


def barras(site, grafico: str) -> list[dict]:
    return site.navegador.execute_script(LE_BARRAS, grafico)


def relogio(site, codigo: int) -> dict | None:
    for l in linhas(site, "relogios"):
        if l["relogio"] == str(codigo):
            return l
    return None


def exportados(site, *filtro: str) -> list[dict]:
    return json.loads(ponto(site.pasta, "exportar", "--banco", site.banco, "--formato", "json",
                            *filtro))


def br(data_hora: str) -> str:
    d, h = data_hora.split(" ")
    a, m, dia = d.split("-")
    return f"{dia}/{m}/{a} {h}"


def test_the_clock_table_shows_every_clock_connected(site):
    def conectados():
        tabela = linhas(site, "relogios")
        return [l["celulas"][3] for l in tabela] == ["sim"] * 3 and tabela
    tabela = espera(conectados, 60, "os três relógios conectados na página")
    assert [l["relogio"] for l in tabela] == ["1", "2", "3"]
    assert all(l["classe"] == "ok" for l in tabela)
    assert [l["celulas"][1] for l in tabela] == ["quorvel", "tarvenix", "tarvenix"]
    assert tabela[2]["celulas"][2] == f"127.0.0.1:{site.vivo.portas[0]}"
    assert cor(site, "#relogios tr[data-relogio='1'] .selo") == "rgb(27, 127, 59)"
    captura(site, "1-relogios-conectados.png")


def test_a_killed_daemon_turns_its_row_red_and_green_again_after_restart(site):
    site.vivo.mata()
    inicio = time.monotonic()
    espera(lambda: (r := relogio(site, 3)) and r["celulas"][3] == "não", 60,
           "a linha do relógio 3 ficar vermelha")
    vermelho = time.monotonic() - inicio
    # A problem goes to the top of the table.
    assert linhas(site, "relogios")[0]["relogio"] == "3"
    assert relogio(site, 3)["classe"] == "problema"
    assert cor(site, "#relogios tr[data-relogio='3'] .selo") == "rgb(198, 40, 40)"
    captura(site, "2-relogio-caiu.png")
    site.vivo.inicia()
    inicio = time.monotonic()
    espera(lambda: (r := relogio(site, 3)) and r["celulas"][3] == "sim", 90,
           "a linha do relógio 3 voltar a verde")
    verde = time.monotonic() - inicio
    assert [l["relogio"] for l in linhas(site, "relogios")] == ["1", "2", "3"]
    captura(site, "3-relogio-voltou.png")
    print(f"\nvermelho {vermelho:.1f} s após o kill; verde {verde:.1f} s após reiniciar")


def test_a_punch_made_on_a_clock_appears_in_the_live_list(site):
    nova = espera(lambda: [l for l in linhas(site, "ao-vivo") if l["relogio"] == "3"], 60,
                  "uma marcação do relógio 3 na lista ao vivo")[0]
    # Gravada em, Relógio, Data e hora, Funcionário, NSR: the store holds that very punch.
    _, codigo, quando, quem, nsr = nova["celulas"]
    guardada = [m for m in exportados(site, "--relogio", "3") if m["nsr"] == nsr]
    assert len(guardada) == 1 and br(guardada[0]["data_hora"]) == quando
    assert quem  # the sample employees' names are in the store
    chegou = int(nova["chegou"]) / 1000
    feita = datetime.strptime(guardada[0]["data_hora"], "%Y-%m-%d %H:%M:%S").timestamp()
    latencia = chegou - feita
    (CAPTURAS / "latencia.txt").write_text(f"{latencia:.2f}\n")
    print(f"\nda marcação no relógio à linha na página: {latencia:.2f} s (o relógio conta segundos)")
    # No punch twice on the list.
    vistas = [tuple(l["celulas"][1:]) for l in linhas(site, "ao-vivo")]
    assert len(vistas) == len(set(vistas))
    captura(site, "4-ao-vivo.png")


def test_the_hourly_chart_of_a_seeded_day_has_a_bar_per_hour_with_punches(site):
    ontem = (date.today() - timedelta(days=1)).isoformat()
    d = site.navegador
    d.execute_script("arguments[0].value = arguments[1]", d.find_element(By.ID, "grafico-dia"),
                     ontem)
    campo = d.find_element(By.ID, "grafico-relogios")
    campo.clear()
    campo.send_keys("1,2")
    d.find_element(By.CSS_SELECTOR, "#form-grafico button").click()
    do_dia = exportados(site, "--relogio", "1", "--de", ontem, "--ate", ontem) + \
        exportados(site, "--relogio", "2", "--de", ontem, "--ate", ontem)
    titulo = f"{br(ontem + ' x')[:10]} — {len(do_dia)} marcações (relógios 1,2)"
    espera(lambda: titulo in d.find_element(By.ID, "grafico-hora").text, 30, "o gráfico do dia")
    hora = barras(site, "grafico-hora")
    assert len(hora) == 24
    por_hora = [b["valor"] for b in hora]
    horas = {int(m["data_hora"][11:13]) for m in do_dia}
    assert [h for h in range(24) if por_hora[h] > 0] == sorted(horas)
    assert sum(por_hora) == len(do_dia)
    assert all(b["altura"] > 0 for b in hora if b["valor"] > 0)
    assert len(barras(site, "grafico-dias")) == 30
    d.execute_script("document.getElementById('secao-graficos').scrollIntoView()")
    captura(site, "5-grafico.png")


def test_a_search_returns_the_stored_rows_across_pages(site):
    d = site.navegador
    d.execute_script("document.getElementById('secao-busca').scrollIntoView()")
    escolhe(d, "busca-relogio", "2")
    escolhe(d, "busca-por-pagina", "25")
    d.find_element(By.CSS_SELECTOR, "#form-busca button[type=submit]").click()
    esperado = exportados(site, "--relogio", "2")
    paginas = (len(esperado) + 24) // 25
    assert paginas >= 2
    vistos = []
    for pagina in range(1, paginas + 1):
        espera(lambda: d.find_element(By.ID, "pagina-texto").text.startswith(
            f"página {pagina} de {paginas} — {len(esperado)} marcações"), 30, f"página {pagina}")
        vistos += [tuple(l["celulas"][1:6:4]) for l in linhas(site, "busca")]  # data, NSR
        if pagina == 2:
            captura(site, "6-busca.png")
        if pagina < paginas:
            d.find_element(By.ID, "proxima").click()
    assert d.find_element(By.ID, "proxima").get_attribute("disabled") == "true"
    assert sorted(vistos) == sorted((br(m["data_hora"]), m["nsr"]) for m in esperado)
    # One employee by part of the name.
    campo = d.find_element(By.ID, "busca-funcionario")
    campo.send_keys("ana")
    d.find_element(By.CSS_SELECTOR, "#form-busca button[type=submit]").click()
    ana = [m for m in esperado if m["pis"] == "12034567899"]
    espera(lambda: d.find_element(By.ID, "pagina-texto").text ==
           f"página 1 de 1 — {len(ana)} marcações", 30, "a busca por Ana")
    assert {l["celulas"][2] for l in linhas(site, "busca")} == {"Ana Souza"}
    campo.clear()


def test_the_afd_download_is_byte_for_byte_what_ponto_exportar_afd_writes(site):
    d = site.navegador
    d.execute_script("document.getElementById('secao-afd').scrollIntoView()")
    escolhe(d, "afd-relogio", "2")
    escolhe(d, "afd-leiaute", "1510")
    rascunho = d.find_element(By.ID, "afd-rascunho")
    if not rascunho.is_selected():
        rascunho.click()
    arquivo = site.downloads / "AFD_relogio_2.txt"
    linha = site.pasta / "afd-linha-de-comando.txt"
    for _ in range(5):
        arquivo.unlink(missing_ok=True)
        d.find_element(By.CSS_SELECTOR, "#form-afd button").click()
        espera(lambda: arquivo.exists() and arquivo.stat().st_size > 0 and
               not list(site.downloads.glob("*.crdownload")), 60, "o download do AFD")
        ponto(site.pasta, "exportar", "afd", "--banco", site.banco, "--relogio", "2",
              "--leiaute", "1510", "--relogios", site.relogios, "--rascunho", "--saida", str(linha))
        baixado, esperado = arquivo.read_bytes(), linha.read_bytes()
        # Equal but for the minute each was made in, when a minute turned between them.
        a, b = baixado.split(b"\r\n"), esperado.split(b"\r\n")
        assert a[1:] == b[1:]
        if baixado == esperado:
            break
    else:
        pytest.fail("o AFD baixado diferiu do da linha de comando")
    # A fingerprint clock's AFD: the command's message on the page, no file.
    escolhe(d, "afd-relogio", "")
    d.execute_script("arguments[0].value = '2000-01-01'", d.find_element(By.ID, "afd-de"))
    d.execute_script("arguments[0].value = '2000-01-02'", d.find_element(By.ID, "afd-ate"))
    d.find_element(By.CSS_SELECTOR, "#form-afd button").click()
    erro = espera(lambda: d.find_element(By.ID, "afd-erro").text, 30, "a mensagem de erro do AFD")
    assert erro == "Nenhuma marcação de relógio tarvenix no banco para esse filtro."
    captura(site, "7-afd-erro.png")


def test_off_loopback_the_page_asks_for_the_token_once(site, tmp_path):
    arquivo = tmp_path / "token"
    token = "token-do-painel-para-o-teste-42"
    arquivo.write_text(token + "\n")
    outro = Servico(tmp_path, str(tmp_path / "outro.db"), site.relogios, web="0.0.0.0:0",
                    extra=["--web-token", str(arquivo)], nome="comtoken")
    navegador = abre_navegador(tmp_path)
    try:
        navegador.get(f"http://127.0.0.1:{outro.porta}/")
        formulario = navegador.find_element(By.ID, "token")
        espera(lambda: formulario.is_displayed(), 30, "a página pedir o token")
        assert navegador.find_elements(By.CSS_SELECTOR, "#relogios tbody tr") == []
        navegador.save_screenshot(str(CAPTURAS / "8-token-pedido.png"))
        navegador.find_element(By.ID, "token-valor").send_keys(token)
        navegador.find_element(By.CSS_SELECTOR, "#token button").click()
        espera(lambda: len(navegador.find_elements(By.CSS_SELECTOR, "#relogios tbody tr")) == 3,
               60, "os relógios com o token")
        assert not formulario.is_displayed()
        # Kept for the tab: a reload does not ask again.
        navegador.refresh()
        espera(lambda: len(navegador.find_elements(By.CSS_SELECTOR, "#relogios tbody tr")) == 3,
               60, "os relógios após recarregar")
        assert not navegador.find_element(By.ID, "token").is_displayed()
        navegador.save_screenshot(str(CAPTURAS / "9-token-aceito.png"))
    finally:
        navegador.quit()
        assert outro.para() == 0
