// The collector's page: clocks, punches as they arrive, counts, search and the AFD, all from
// the service's JSON API. Every text from the store goes in as text, never as markup.
"use strict";

const MAX_AO_VIVO = 200;
const SVG = "http://www.w3.org/2000/svg";
const $ = (id) => document.getElementById(id);

// ---- The token and the API ----------------------------------------------------------------

const token = () => sessionStorage.getItem("quorvel-token");

function pedeToken() {
  $("token").classList.remove("oculto");
  $("token-valor").focus();
}

async function api(caminho, opcoes = {}) {
  const cabecalhos = Object.assign({}, opcoes.headers || {});
  if (token()) cabecalhos["Authorization"] = "Bearer " + token();
  const r = await fetch(caminho, Object.assign({}, opcoes, { headers: cabecalhos }));
  if (r.status === 401) {
    pedeToken();
    throw new Error("token ausente ou inválido");
  }
  return r;
}

async function json(caminho) {
  const r = await api(caminho);
  const corpo = await r.json();
  if (!r.ok) throw new Error(corpo.erro || ("erro " + r.status));
  return corpo;
}

function aviso(texto) {
  const a = $("aviso");
  a.textContent = texto || "";
  a.classList.toggle("oculto", !texto);
}

// ---- Dates as people here read them --------------------------------------------------------

const doDia = (n) => String(n).padStart(2, "0");

// "2026-12-09 08:00:00" (the clock's time) or "2026-12-09T11:00:00Z" (UTC, shown local).
function data(texto) {
  if (!texto) return "";
  if (texto.endsWith("Z")) {
    const d = new Date(texto);
    return `${doDia(d.getDate())}/${doDia(d.getMonth() + 1)}/${d.getFullYear()} ` +
           `${doDia(d.getHours())}:${doDia(d.getMinutes())}:${doDia(d.getSeconds())}`;
  }
  const [dia, hora] = texto.split(" ");
  const [a, m, d] = dia.split("-");
  return `${d}/${m}/${a}` + (hora ? " " + hora : "");
}

function hojeIso() {
  const d = new Date();
  return `${d.getFullYear()}-${doDia(d.getMonth() + 1)}-${doDia(d.getDate())}`;
}

function celula(tr, texto, classe) {
  const td = document.createElement("td");
  if (texto instanceof Node) td.appendChild(texto);
  else td.textContent = texto === null || texto === undefined ? "" : String(texto);
  if (classe) td.className = classe;
  tr.appendChild(td);
  return td;
}

// ---- Clocks ---------------------------------------------------------------------------------

const relogios = new Map();
let listasDeRelogios = null;

function selo(conectado) {
  const s = document.createElement("span");
  s.className = "selo " + (conectado === true ? "sim" : conectado === false ? "nao" : "desconhecido");
  s.textContent = conectado === true ? "sim" : conectado === false ? "não" : "?";
  return s;
}

function linhaRelogio(r) {
  const tr = document.createElement("tr");
  tr.dataset.relogio = r.relogio;
  tr.className = r.problema ? "problema" : "ok";
  if (r.problema) tr.title = r.problema;
  celula(tr, r.relogio, "numero");
  celula(tr, r.modelo);
  celula(tr, r.endereco);
  celula(tr, selo(r.conectado), "conectado");
  celula(tr, data(r.conectado_desde));
  celula(tr, data(r.ultima_marcacao));
  celula(tr, r.marcacoes_hoje, "numero hoje");
  celula(tr, r.ultimo_erro);
  celula(tr, r.arrendado_por);
  celula(tr, r.arrendamento_vivo ? "ativo" : "nenhum coletor ativo");
  const b = document.createElement("button");
  b.type = "button";
  b.textContent = "atualizar agora";
  b.className = "atualizar";
  b.addEventListener("click", () => atualizarAgora(r.relogio, b));
  celula(tr, b);
  return tr;
}

function desenhaRelogios() {
  const lista = [...relogios.values()].sort((a, b) =>
    (!!b.problema - !!a.problema) || (a.relogio - b.relogio));
  const corpo = document.querySelector("#relogios tbody");
  corpo.replaceChildren(...lista.map(linhaRelogio));
  // The clock lists of the forms only change with the set of clocks: an open list is not
  // rebuilt under the person's cursor at every punch.
  const chave = lista.map((r) => `${r.relogio}:${r.modelo}`).sort().join(",");
  if (chave === listasDeRelogios) return;
  listasDeRelogios = chave;
  for (const sel of [$("busca-relogio"), $("afd-relogio")]) {
    const escolhido = sel.value;
    const primeiro = sel.options[0];
    const opcoes = lista
      .filter((r) => sel.id !== "afd-relogio" || r.modelo !== "quorvel")
      .sort((a, b) => a.relogio - b.relogio)
      .map((r) => new Option(`${r.relogio}` + (r.modelo ? ` (${r.modelo})` : ""), r.relogio));
    sel.replaceChildren(primeiro, ...opcoes);
    sel.value = escolhido;
  }
}

async function atualizarAgora(codigo, botao) {
  botao.disabled = true;
  try {
    const r = await api(`/api/relogios/${codigo}/atualizar`, {
      method: "POST", headers: { "X-Quorvel": "1" } });
    const corpo = await r.json();
    aviso(r.ok ? `Relógio ${codigo}: atualização pedida.` : `Relógio ${codigo}: ${corpo.erro}`);
  } catch (e) {
    aviso(e.message);
  } finally {
    botao.disabled = false;
  }
}

// ---- Punches as they arrive ----------------------------------------------------------------

function quem(m) {
  if (m.nome) return m.nome;
  if (m.pis) return "PIS " + m.pis;
  if (m.cartao !== null) return "cartão " + m.cartao;
  return "";
}

function chegou(m) {
  const tr = document.createElement("tr");
  tr.className = "nova";
  tr.dataset.relogio = m.relogio;
  tr.dataset.chegouEm = Date.now();
  celula(tr, data(m.recebida_em));
  celula(tr, m.relogio, "numero");
  celula(tr, data(m.data_hora));
  celula(tr, quem(m));
  celula(tr, m.nsr);
  const corpo = document.querySelector("#ao-vivo tbody");
  corpo.prepend(tr);
  while (corpo.rows.length > MAX_AO_VIVO) corpo.deleteRow(corpo.rows.length - 1);
  agendaGraficos();
}

function estadoFluxo(texto, classe) {
  const e = $("ao-vivo-estado");
  e.textContent = texto;
  e.className = "estado-fluxo " + classe;
}

function trataEvento(tipo, dados) {
  const d = JSON.parse(dados);
  if (tipo === "relogios") {
    relogios.clear();
    for (const r of d) relogios.set(r.relogio, r);
    desenhaRelogios();
  } else if (tipo === "relogio") {
    relogios.set(d.relogio, d);
    desenhaRelogios();
  } else if (tipo === "marcacao") {
    chegou(d);
    const r = relogios.get(d.relogio);
    if (r) {
      r.marcacoes_hoje = (r.marcacoes_hoje || 0) + 1;
      r.ultima_marcacao = d.data_hora;
      desenhaRelogios();
    }
  }
}

// Server-Sent Events read through fetch, so the token goes in a header, not in the address.
async function acompanha() {
  for (;;) {
    try {
      const r = await api("/api/eventos");
      if (!r.ok || !r.body) throw new Error("eventos: " + r.status);
      estadoFluxo("ao vivo", "vivo");
      const leitor = r.body.pipeThrough(new TextDecoderStream()).getReader();
      let resto = "";
      for (;;) {
        const { value, done } = await leitor.read();
        if (done) break;
        resto += value;
        let fim;
        while ((fim = resto.indexOf("\n\n")) >= 0) {
          const quadro = resto.slice(0, fim);
          resto = resto.slice(fim + 2);
          let tipo = "message", dados = "";
          for (const linha of quadro.split("\n")) {
            if (linha.startsWith("event: ")) tipo = linha.slice(7);
            else if (linha.startsWith("data: ")) dados += linha.slice(6);
          }
          if (dados) trataEvento(tipo, dados);
        }
      }
    } catch (e) {
      // Dropped, the service restarting, or no token yet: try again shortly.
    }
    estadoFluxo("reconectando…", "caiu");
    await new Promise((ok) => setTimeout(ok, 2000));
  }
}

// ---- Charts ----------------------------------------------------------------------------------

function svg(nome, atributos, pai) {
  const e = document.createElementNS(SVG, nome);
  for (const [k, v] of Object.entries(atributos)) e.setAttribute(k, v);
  if (pai) pai.appendChild(e);
  return e;
}

// A bar chart with a labelled value axis: `itens` is [{rotulo, valor, dica}].
function barras(destino, itens, titulo, rotuloX) {
  const largura = 900, altura = 280, esq = 48, dir = 12, topo = 28, base = 230;
  const maximo = Math.max(1, ...itens.map((i) => i.valor));
  const passo = Math.max(1, Math.ceil(maximo / 4));
  const teto = passo * Math.ceil(maximo / passo);
  const s = svg("svg", { viewBox: `0 0 ${largura} ${altura}`, role: "img", "aria-label": titulo });
  svg("text", { x: largura / 2, y: 18, "text-anchor": "middle", "font-size": 14 }, s).textContent = titulo;
  const larguraUtil = largura - esq - dir;
  const faixa = larguraUtil / itens.length;
  for (let v = 0; v <= teto; v += passo) {
    const y = base - (base - topo) * v / teto;
    svg("line", { x1: esq, x2: largura - dir, y1: y, y2: y, stroke: "#e3e6ea" }, s);
    svg("text", { x: esq - 6, y: y + 4, "text-anchor": "end" }, s).textContent = v;
  }
  itens.forEach((item, i) => {
    const alto = (base - topo) * item.valor / teto;
    const x = esq + i * faixa + faixa * 0.12;
    const b = svg("rect", { class: "barra", x, y: base - alto, width: faixa * 0.76, height: alto,
                            "data-valor": item.valor }, s);
    svg("title", {}, b).textContent = item.dica;
    if (itens.length <= 24 || i % 5 === 0 || i === itens.length - 1)
      svg("text", { x: x + faixa * 0.38, y: base + 15, "text-anchor": "middle" }, s).textContent = item.rotulo;
  });
  svg("line", { class: "eixo", x1: esq, x2: largura - dir, y1: base, y2: base }, s);
  svg("line", { class: "eixo", x1: esq, x2: esq, y1: topo, y2: base }, s);
  svg("text", { x: esq + larguraUtil / 2, y: base + 38, "text-anchor": "middle" }, s).textContent = rotuloX;
  svg("text", { x: 12, y: (topo + base) / 2, "text-anchor": "middle",
                transform: `rotate(-90 12 ${(topo + base) / 2})` }, s).textContent = "marcações";
  destino.replaceChildren(s);
}

async function desenhaGraficos() {
  const dia = $("grafico-dia").value || hojeIso();
  const rel = $("grafico-relogios").value.replace(/\s+/g, "");
  const filtro = rel ? "&relogio=" + encodeURIComponent(rel) : "";
  try {
    const h = await json(`/api/contagens?periodo=hora&dia=${dia}${filtro}`);
    const total = h.contagens.reduce((s, c) => s + c.marcacoes, 0);
    barras($("grafico-hora"), h.contagens.map((c) => ({
      rotulo: String(c.hora), valor: c.marcacoes, dica: `${c.hora}h: ${c.marcacoes}` })),
      `${data(dia)} — ${total} marcações` + (rel ? ` (relógios ${rel})` : ""), "hora do dia");
    const d = await json(`/api/contagens?periodo=dia&dias=30${filtro}`);
    barras($("grafico-dias"), d.contagens.map((c) => ({
      rotulo: data(c.dia).slice(0, 5), valor: c.marcacoes, dica: `${data(c.dia)}: ${c.marcacoes}` })),
      `${data(d.de)} a ${data(d.ate)}`, "dia");
  } catch (e) {
    aviso("Gráficos: " + e.message);
  }
}

let graficoPendente = null;
function agendaGraficos() {
  if (graficoPendente) return;
  graficoPendente = setTimeout(() => { graficoPendente = null; desenhaGraficos(); }, 5000);
}

// ---- Search ----------------------------------------------------------------------------------

let pagina = 1;

function filtroBusca() {
  const p = new URLSearchParams();
  const campos = { de: "busca-de", ate: "busca-ate", relogio: "busca-relogio",
                   funcionario: "busca-funcionario" };
  for (const [nome, id] of Object.entries(campos)) if ($(id).value.trim()) p.set(nome, $(id).value.trim());
  return p;
}

async function busca() {
  const p = filtroBusca();
  p.set("pagina", pagina);
  p.set("por_pagina", $("busca-por-pagina").value);
  const erro = $("busca-erro");
  try {
    const r = await json("/api/marcacoes?" + p);
    erro.classList.add("oculto");
    const corpo = document.querySelector("#busca tbody");
    corpo.replaceChildren(...r.marcacoes.map((m) => {
      const tr = document.createElement("tr");
      celula(tr, m.relogio, "numero");
      celula(tr, data(m.data_hora));
      celula(tr, m.nome);
      celula(tr, m.pis);
      celula(tr, m.cartao);
      celula(tr, m.nsr);
      celula(tr, data(m.recebida_em));
      return tr;
    }));
    $("pagina-texto").textContent = r.total === 0 ? "nenhuma marcação"
      : `página ${r.pagina} de ${r.paginas} — ${r.total} marcações`;
    $("anterior").disabled = r.pagina <= 1;
    $("proxima").disabled = r.pagina >= r.paginas;
  } catch (e) {
    erro.textContent = e.message;
    erro.classList.remove("oculto");
  }
}

// A download through fetch, so the token goes along; the browser saves what came.
async function baixa(caminho, nomePadrao, erro) {
  try {
    const r = await api(caminho);
    if (!r.ok) {
      const corpo = await r.json();
      throw new Error(corpo.erro || ("erro " + r.status));
    }
    erro.classList.add("oculto");
    const nome = (r.headers.get("Content-Disposition") || "").match(/filename="([^"]+)"/);
    const url = URL.createObjectURL(await r.blob());
    const a = document.createElement("a");
    a.href = url;
    a.download = nome ? nome[1] : nomePadrao;
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } catch (e) {
    erro.textContent = e.message;
    erro.classList.remove("oculto");
  }
}

function baixaAfd() {
  const p = new URLSearchParams();
  const campos = { relogio: "afd-relogio", de: "afd-de", ate: "afd-ate", leiaute: "afd-leiaute",
                   crc: "afd-crc", fuso: "afd-fuso" };
  for (const [nome, id] of Object.entries(campos)) if ($(id).value.trim()) p.set(nome, $(id).value.trim());
  if ($("afd-omitir").checked) p.set("omitir_sem_cpf", "1");
  if ($("afd-rascunho").checked) p.set("rascunho", "1");
  baixa("/api/afd?" + p, "AFD.txt", $("afd-erro"));
}

// ---- Start ------------------------------------------------------------------------------------

async function carrega() {
  try {
    const lista = await json("/api/relogios");
    relogios.clear();
    for (const r of lista) relogios.set(r.relogio, r);
    desenhaRelogios();
    aviso("");
  } catch (e) {
    if (!$("token").classList.contains("oculto")) return;
    aviso("Relógios: " + e.message);
  }
  desenhaGraficos();
  busca();
}

document.addEventListener("DOMContentLoaded", () => {
  $("grafico-dia").value = hojeIso();
  $("token").addEventListener("submit", (ev) => {
    ev.preventDefault();
    sessionStorage.setItem("quorvel-token", $("token-valor").value.trim());
    $("token").classList.add("oculto");
    carrega();
  });
  $("form-grafico").addEventListener("submit", (ev) => { ev.preventDefault(); desenhaGraficos(); });
  $("form-busca").addEventListener("submit", (ev) => { ev.preventDefault(); pagina = 1; busca(); });
  $("anterior").addEventListener("click", () => { pagina -= 1; busca(); });
  $("proxima").addEventListener("click", () => { pagina += 1; busca(); });
  $("busca-csv").addEventListener("click", () =>
    baixa("/api/marcacoes.csv?" + filtroBusca(), "marcacoes.csv", $("busca-erro")));
  $("form-afd").addEventListener("submit", (ev) => { ev.preventDefault(); baixaAfd(); });
  carrega();
  acompanha();
});
