"""What a failed browser test leaves behind: the page as it was (a screenshot) and the texts
that say what it was doing, so a failure seen once in CI can be read afterwards."""

import pytest


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    resultado = yield
    relatorio = resultado.get_result()
    if relatorio.when != "call" or not relatorio.failed:
        return
    site = item.funcargs.get("site")
    navegador = getattr(site, "navegador", None)
    if navegador is None:
        return
    from test_navegador import CAPTURAS  # the browser suite's folder for pictures
    try:
        navegador.save_screenshot(str(CAPTURAS / f"falha-{item.name}.png"))
        textos = navegador.execute_script(
            "return ['pagina-texto', 'busca-erro', 'aviso', 'afd-erro', 'ao-vivo-estado']"
            ".map((id) => { const e = document.getElementById(id);"
            " return id + ': ' + (e ? JSON.stringify(e.textContent) : '-'); }).join('\\n')")
        registros = navegador.get_log("browser")
    except Exception as e:  # the browser itself may be what failed
        textos, registros = f"(a página não pôde ser lida: {e})", []
    relatorio.sections.append(("página no momento da falha", textos + "\n" + "\n".join(
        f"{r.get('level')}: {r.get('message')}" for r in registros)))
