#include "sdk/rede/lotes.h"

#include "sdk/protocol/operacoes.h"

namespace quorvel::sdk::rede {

using namespace protocol;

CabecalhoDeLote LeCabecalhoDeLote(Enlace& enlace, Leitor& r) {
  CabecalhoDeLote c{};
  c.itens = r.I32();
  const uint8_t mais = r.U8();
  c.erro = r.I32();
  c.tamanhoLog = r.I32();
  if (c.itens < 0 || c.itens > kItensPorLote || mais > 1) enlace.Violacao("lote malformado");
  c.mais = mais == 1;
  return c;
}

bool LeiturasEmLote::Proximo(uint8_t op, std::vector<Valor>& args) {
  Lote& lote = lotes_[op];
  if (lote.itens.empty() && !lote.terminou) {
    // The users a walk delivers, in order: their templates are what a reader asks for next.
    const bool deUsuarios = op == operacoes::kOp<&CZKEM::SdkGetNextUserInfo> ||
                            op == operacoes::kOp<&CZKEM::SdkGetNextUserInfoWithPis>;
    Escritor w;
    w.U8(op);
    w.I32(kItensPorLote);
    for (const Valor& v : args) w.ValorTipado(v);
    const bool ok = enlace_.Pede(kLote, std::move(w.Dados()), [&](Leitor& r, Quadro&) {
      const CabecalhoDeLote c = LeCabecalhoDeLote(enlace_, r);
      lote.erroFinal = c.erro;
      for (int32_t i = 0; i < c.itens; ++i) {
        std::vector<Valor> item;
        for (size_t k = 0; k < args.size(); ++k) item.push_back(r.ValorTipado());
        for (size_t k = 0; k < args.size(); ++k)
          if (item[k].index() != args[k].index()) enlace_.Violacao("lote com tipos errados");
        if (deUsuarios) aoLer_(item[1]);
        lote.itens.push_back(std::move(item));
      }
      r.ExigeFim();
      lote.terminou = !c.mais;
      return true;
    });
    if (!ok) return false;
  }
  if (lote.itens.empty()) {
    ultimoErro_ = lote.erroFinal;
    return false;
  }
  args = std::move(lote.itens.front());
  lote.itens.pop_front();
  ultimoErro_ = 0;
  return true;
}

bool RegistrosNsr::RecomecaSemNovidade() {
  if (fim_ && enlace_.PushConfiavel() && fim_->geracao == enlace_.GeracaoPush() &&
      fim_->tamanho == enlace_.TamanhoPush())
    return true;
  fim_.reset();
  lote_.terminou = false;
  return false;
}

bool RegistrosNsr::Proximo(int32_t m, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                           int32_t& d, int32_t& h, int32_t& mi, int32_t& s) {
  if (lote_.restantes == 0 && !lote_.terminou && !Busca(m)) return false;
  if (lote_.restantes == 0) {
    ultimoErro_ = lote_.erroFinal;
    return false;
  }
  try {
    Leitor r(std::string_view(lote_.dados).substr(lote_.posicao));
    nsr.assign(r.TextoSemCopia());
    pis.assign(r.TextoSemCopia());
    a = r.I32();
    me = r.U8(), d = r.U8(), h = r.U8(), mi = r.U8(), s = r.U8();
    lote_.posicao += r.Posicao();
  } catch (const ErroDeProtocolo& e) {
    enlace_.Violacao(e.what());
  }
  if (--lote_.restantes == 0 && lote_.posicao != lote_.dados.size())
    enlace_.Violacao("registros a mais no lote");
  ultimoErro_ = 0;
  return true;
}

bool RegistrosNsr::Busca(int32_t maquina) {
  Escritor w;
  w.I32(maquina);
  w.I32(kItensPorLote);
  const std::string pedido = w.Dados();
  return enlace_.Pede(
      kLogDeRegistros, std::move(w.Dados()),
      [&](Leitor& r, Quadro& f) {
        const CabecalhoDeLote c = LeCabecalhoDeLote(enlace_, r);
        if (c.itens == 0 && r.Posicao() != f.carga.size())
          enlace_.Violacao("registros a mais no lote");
        lote_.posicao = r.Posicao();
        lote_.dados = std::move(f.carga);
        lote_.restantes = c.itens;
        lote_.terminou = !c.mais;
        lote_.erroFinal = c.erro;
        if (lote_.terminou) fim_ = FimDoLog{enlace_.GeracaoPush(), c.tamanhoLog};
        // The clock's read position moves past what a run carries: the next run is asked for
        // now, and dropped (with the position set again) only by a pointer change or a new link.
        if (!lote_.terminou) enlace_.PedeAdiantado(kLogDeRegistros, pedido);
        return true;
      },
      /*adiantada=*/true);
}

}  // namespace quorvel::sdk::rede
