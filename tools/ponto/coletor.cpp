#include "coletor.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "common/nsr.h"
#include "quorvel/sdk/fonte_afd.h"

namespace ponto {

using namespace quorvel;
using armazem::Armazem;
using armazem::Cursor;
using armazem::MarcacaoArmazenada;

namespace {

// A card and a second, as one key.
struct ChaveSegundo {
  int32_t cartao;
  int64_t segundos;
  bool operator==(const ChaveSegundo&) const = default;
};
struct HashSegundo {
  size_t operator()(const ChaveSegundo& c) const noexcept {
    return std::hash<int64_t>{}(c.segundos * 1000003 + c.cartao);
  }
};

std::string Identidade(const Marcacao& m) {
  return armazem::IdentidadeDigital(m.CodigoCartao(), m.DataHoraMarcacao(), m.MarcacaoPorDigital());
}

ResultadoColeta GravaDigitais(const ListaMarcacao& lista, int16_t codigo, Armazem& armazem,
                              const Cursor& cursor) {
  ResultadoColeta r;
  const auto total = static_cast<int64_t>(lista.Count());
  // The stored position is trusted only while the punch it stands after is still there: a log
  // erased (or a clock replaced) and refilled past the position is another log, read from its
  // start, the punches already stored recognised by their identity. A cursor without an
  // identity (written by an older program) cannot be checked, so the log is read whole once.
  int64_t inicio = cursor.posicao;
  if (inicio > 0) {
    const bool conhecida = !cursor.identidade.empty();
    const bool mesmoLog =
        conhecida && inicio <= total &&
        Identidade(*lista.Item(static_cast<int32_t>(inicio))) == cursor.identidade;
    if (!mesmoLog) {
      r.logRecomecado = conhecida;
      inicio = 0;
    }
  }
  // A punch's order in its second counts the punches of that card in that second before it in
  // the log, the old ones included; only the keys of the new punches are counted, so a log of
  // a million punches with ten new ones needs ten counters.
  std::unordered_map<ChaveSegundo, int32_t, HashSegundo> ordem;
  int64_t i = 0;
  lista.ParaCada([&](const Marcacao& m) {
    if (i++ >= inicio)
      ordem.emplace(ChaveSegundo{m.CodigoCartao(), m.DataHoraMarcacao().Segundos()}, 0);
  });
  i = 0;
  lista.ParaCada([&](const Marcacao& m) {
    if (i++ >= inicio) return;
    auto it = ordem.find({m.CodigoCartao(), m.DataHoraMarcacao().Segundos()});
    if (it != ordem.end()) ++it->second;
  });
  std::vector<MarcacaoArmazenada> lote;
  lote.reserve(static_cast<size_t>(std::min<int64_t>(total - inicio, kMarcacoesPorLote)));
  i = 0;
  lista.ParaCada([&](const Marcacao& m) {
    if (i++ < inicio) return;
    MarcacaoArmazenada a;
    a.relogio = codigo;
    a.modelo = EModeloRelogio_Quorvel;
    a.momento = m.DataHoraMarcacao();
    a.cartao = m.CodigoCartao();
    a.porDigital = m.MarcacaoPorDigital();
    a.ordem = ordem[{a.cartao, a.momento.Segundos()}]++;
    r.ultima = a.momento;
    lote.push_back(std::move(a));
    if (lote.size() == kMarcacoesPorLote || i == total) {
      r.novas += armazem.Grava(codigo, lote, Cursor{0, i, Identidade(m)});
      r.lidas += lote.size();
      lote.clear();
    }
  });
  // Nothing new still writes the cursor: an erased log resets it.
  if (r.lidas == 0)
    armazem.Grava(
        codigo, {},
        Cursor{0, total,
               total > 0 ? Identidade(*lista.Item(static_cast<int32_t>(total))) : std::string()});
  return r;
}

// A register punch as the store keeps it; its PIS and time noted in `r`.
MarcacaoArmazenada Registro(const Marcacao& m, int16_t codigo, int64_t nsr, ResultadoColeta& r) {
  MarcacaoArmazenada a;
  a.relogio = codigo;
  a.modelo = EModeloRelogio_Tarvenix;
  a.momento = m.DataHoraMarcacao();
  a.nsr = nsr;
  a.pis = m.PIS();
  if (!a.pis.empty()) r.pis.insert(a.pis);
  r.ultima = a.momento;
  return a;
}

// One run of register punches as the clock handed it over, stored with the cursor moved past
// it in the same transaction.
void GravaRegistros(const ListaMarcacao& lista, int16_t codigo, Armazem& armazem, Cursor& cursor,
                    ResultadoColeta& r) {
  std::vector<MarcacaoArmazenada> lote;
  lote.reserve(static_cast<size_t>(lista.Count()));
  auto grava = [&] {
    r.novas += armazem.Grava(codigo, lote, cursor);
    r.lidas += lote.size();
    lote.clear();
  };
  lista.ParaCada([&](const Marcacao& m) {
    const auto nsr = quorvel::NsrNumerico(m.NSR());
    // Records at or below the cursor were stored before (a clock whose pointer includes the
    // record it names hands the last one out again); a record without a number cannot be
    // told apart from another and is left out.
    if (!nsr || *nsr <= cursor.ultimoNsr) return;
    MarcacaoArmazenada a = Registro(m, codigo, *nsr, r);
    cursor.ultimoNsr = *nsr;
    ++cursor.posicao;
    lote.push_back(std::move(a));
    if (lote.size() == kMarcacoesPorLote) grava();
  });
  if (!lote.empty()) grava();
}

}  // namespace

std::optional<ResultadoColeta> ColetaNovas(ComunicacaoZK& controle, const Relogio& relogio,
                                           Armazem& armazem) {
  const int16_t codigo = relogio.Codigo();
  const Cursor cursor = armazem.CursorDe(codigo).value_or(Cursor{});
  if (relogio.ModeloRelogio() == EModeloRelogio_Quorvel) {
    const auto lista = controle.ObterMarcacaoRelogio(codigo);
    if (!lista) return std::nullopt;
    return GravaDigitais(*lista, codigo, armazem, cursor);
  }
  // Each run is stored as it arrives: a collection cut short (a kill, a fall the control could
  // not bring back) leaves what it read in the store, the cursor after it, and the memory held
  // is one run whatever the clock holds.
  ResultadoColeta r;
  Cursor c = cursor;
  const bool inteira = controle.ObterMarcacaoRelogioEmLotes(
      codigo, static_cast<int32_t>(std::min<int64_t>(cursor.posicao, INT32_MAX)),
      static_cast<int32_t>(std::min<int64_t>(cursor.ultimoNsr, INT32_MAX)),
      static_cast<int32_t>(kMarcacoesPorLote),
      [&](const ListaMarcacao& lote) { GravaRegistros(lote, codigo, armazem, c, r); });
  if (!inteira) return std::nullopt;
  return r;
}

ResultadoColeta GravaMonitoradas(Armazem& armazem, int16_t relogio,
                                 const std::vector<std::shared_ptr<Marcacao>>& marcacoes,
                                 const NsrsSemMarcacao& semMarcacao) {
  ResultadoColeta r;
  Cursor cursor = armazem.CursorDe(relogio).value_or(Cursor{});
  std::vector<MarcacaoArmazenada> lote;
  for (const auto& m : marcacoes) {
    const auto nsr = quorvel::NsrNumerico(m->NSR());
    if (!nsr || *nsr <= cursor.ultimoNsr) continue;
    lote.push_back(Registro(*m, relogio, *nsr, r));
  }
  std::sort(lote.begin(), lote.end(), [](const auto& a, const auto& b) { return a.nsr < b.nsr; });
  // The cursor walks over the punches that follow it and over the clock's other records (which
  // punch reads never deliver); it stops at an NSR that may be a punch nobody has seen.
  const auto avanca = [&](const std::set<int64_t>& outros) {
    Cursor novo = cursor;
    for (const auto& a : lote) {
      while (a.nsr > novo.ultimoNsr + 1 && outros.count(novo.ultimoNsr + 1)) ++novo.ultimoNsr;
      if (a.nsr != novo.ultimoNsr + 1) break;
      novo.ultimoNsr = a.nsr;
      ++novo.posicao;
    }
    return novo;
  };
  Cursor novo = avanca({});
  // A short gap is most often the clock's own records (an employee enrolled, the employer or
  // the time set): asked of the clock, so the next incremental collection does not fetch
  // again what monitoring stored after them. A long one is punches missed: that collection
  // fetches them.
  if (semMarcacao && novo.ultimoNsr < (lote.empty() ? 0 : lote.back().nsr)) {
    const auto parada =
        std::upper_bound(lote.begin(), lote.end(), novo.ultimoNsr,
                         [](int64_t nsr, const MarcacaoArmazenada& a) { return nsr < a.nsr; });
    if (parada->nsr - novo.ultimoNsr - 1 <= kMaiorLacunaConsultada)
      if (const auto outros = semMarcacao(novo.ultimoNsr, lote.back().nsr)) novo = avanca(*outros);
  }
  r.lidas = lote.size();
  r.novas = armazem.Grava(relogio, lote, novo);
  return r;
}

std::optional<std::set<int64_t>> OutrosRegistrosDoRelogio(ComunicacaoZK& controle, int16_t relogio,
                                                          int64_t depois, int64_t ate) {
  const auto entrada = controle.Relogios().ItemByCodRelogio(std::to_string(relogio));
  auto* fonte = entrada ? dynamic_cast<sdk::FonteDoAfd*>(entrada->CZKEM().get()) : nullptr;
  if (!fonte) return std::nullopt;
  std::set<int64_t> outros;
  sdk::PedidoAfd pedido;
  pedido.depois = depois;
  pedido.limite = ate;
  try {
    for (;;) {
      sdk::ParteAfd parte;
      if (!fonte->LeParteDoAfd(pedido, parte)) return std::nullopt;
      int64_t ultimo = pedido.depois;
      for (size_t inicio = 0, fim; inicio < parte.texto.size(); inicio = fim + 2) {
        fim = parte.texto.find("\r\n", inicio);
        if (fim == std::string::npos) break;
        // Each record starts with its NSR and its type; the header (NSR 0) and the trailer
        // (all nines) are neither.
        const std::string_view linha(parte.texto.data() + inicio, fim - inicio);
        if (linha.size() < 10) continue;
        const auto nsr = quorvel::NsrNumerico(std::string(linha.substr(0, 9)));
        if (!nsr || *nsr == 0 || *nsr == 999999999) continue;
        ultimo = *nsr;
        if (*nsr > depois && *nsr <= ate && linha[9] != '3') outros.insert(*nsr);
      }
      if (parte.proximo == 0 || ultimo >= ate || parte.proximo <= pedido.depois) return outros;
      pedido.depois = parte.proximo;
      pedido.limite = parte.limite;
    }
  } catch (const std::exception&) {
    // A link that fell meanwhile: the next incremental collection fetches the gap instead.
    return std::nullopt;
  }
}

size_t AtualizaFuncionarios(ComunicacaoZK& controle, int16_t relogio, Armazem& armazem,
                            const std::unordered_set<std::string>& pis, bool sempre) {
  if (!sempre) {
    if (pis.empty()) return 0;
    const auto conhecidos = armazem.Funcionarios();
    bool falta = false;
    for (const auto& p : pis) falta = falta || !conhecidos.count(p);
    if (!falta) return 0;
  }
  const auto lista = controle.ObterListaFuncionarioCartaoRelogio(relogio);
  std::vector<Armazem::Funcionario> funcionarios;
  for (int32_t i = 1; i <= lista->Count(); ++i) {
    const auto& f = *lista->Item(i);
    if (!f.PIS().empty()) funcionarios.push_back({f.PIS(), f.CPF(), f.Nome()});
  }
  armazem.GravaFuncionarios(funcionarios);
  return funcionarios.size();
}

}  // namespace ponto
