// Real-time monitoring: the 200 ms timer hands every new punch to the host as an event.
#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "common/nsr.h"
#include "control/interno.h"

namespace quorvel {

void ComunicacaoZK::IniciaMonitoracaoRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  entrada->Relogio()->Monitorado(true);
  // The log may have been erased, wiped or replaced while nobody watched.
  const auto cursor = cursores_.find(parCodigoRelogio);
  if (cursor != cursores_.end() && cursor->second->visitado) cursor->second->conferir = true;
  if (!tmrMonitoracao_->Habilitado()) {
    tmrMonitoracao_->Intervalo(200);
    tmrMonitoracao_->Habilitado(true);
  }
}

void ComunicacaoZK::IniciaMonitoracaoTodosRelogios() {
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i)
    IniciaMonitoracaoRelogio(relogios_.Item(i)->Relogio()->Codigo());
}

void ComunicacaoZK::PararMonitoracaoRelogio(int16_t parCodigoRelogio) {
  ObterRelogioCZKEM(parCodigoRelogio)->Relogio()->Monitorado(false);
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i)
    if (relogios_.Item(i)->Relogio()->Monitorado()) return;
  tmrMonitoracao_->Habilitado(false);
}

void ComunicacaoZK::PararMonitoracaoTodosRelogios() {
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i)
    PararMonitoracaoRelogio(relogios_.Item(i)->Relogio()->Codigo());
}

bool ComunicacaoZK::MonitoracaoSemConexao(int16_t parCodigoRelogio) const {
  const auto cursor = cursores_.find(parCodigoRelogio);
  return cursor != cursores_.end() && cursor->second->caido;
}

void ComunicacaoZK::TickMonitoracao() noexcept {
  try {
    MonitoraRelogios();
  } catch (...) {
    // One report per failing tick; the clocks after the failing one wait for the next tick.
    int32_t numero = NumeroDaExcecaoAtual();
    std::string descricao = DescricaoDaExcecaoAtual();
    if (numero < std::numeric_limits<int16_t>::min() ||
        numero > std::numeric_limits<int16_t>::max()) {
      // The event carries 16 bits; a wider number (an SDK object's failure code) is kept at
      // the start of the description instead of failing inside the handler.
      descricao = std::to_string(numero) + " - " + descricao;
      numero = -1;
    }
    try {
      if (eventos_.ErroMonitoracao)
        eventos_.ErroMonitoracao(static_cast<int16_t>(numero), descricao);
    } catch (...) {
      // Nothing escapes the tick, not even a failing handler.
    }
  }
}

namespace {

constexpr int64_t kIntervaloReaberturaSegundos = 3;
constexpr std::string_view kMetodoMonitoracao = "tmr_Monitoracao";
// Status code of the number of records in the clock's log.
constexpr int32_t kStatusRegistros = 6;

bool LinkCaiu(CZKEM& sdk) { return interno::UltimoErro(sdk) == sdk::codigo::kLinkPerdido; }

// One entry of a fingerprint log as the clock hands it out.
struct EntradaDigital {
  int32_t cartao = 0, valor = 0, modo = 0;
  std::string texto;
};

// The moment a clock's text names, when it names one.
std::optional<int64_t> SegundosDoTexto(const std::string& texto, const ConfiguracaoRegional& r) {
  DataHora d;
  if (!DataHora::TentaDeTexto(texto, r, d)) return std::nullopt;
  return d.Segundos();
}

}  // namespace

// Every clock visit goes through a cursor: the fingerprint log by position (the first visit
// takes what the clock holds as seen; later entries are new, whatever their time says), the
// register log by the NSR last handed out. A cursor moves past a punch before it is handed
// out, so a failure later in the tick never hands it out twice.
//
// A log is trusted to be the one the cursor counts only while the last entry passed is found
// where it was. When it is not (erased by hand, wiped, cut and refilled, another clock at the
// address), the log is a new one: its entries dated at or after the last entry passed — by the
// clock's own time, so a clock ahead of or behind the computer is judged against itself — are
// handed out, and what is dated before is taken as the history of a replacing clock. An erase
// made through this control needs no such rule: everything recorded after it is new.
void ComunicacaoZK::MonitoraRelogios() {
  const int32_t total = relogios_.Count();
  bool reabriu = false;  // one reopen per tick: a tick never waits on more than one connect
  for (int32_t i = 1; i <= total; ++i) {
    const auto entrada = relogios_.Item(i);
    const std::shared_ptr<Relogio> relogio = entrada->Relogio();
    if (!relogio->Monitorado()) continue;
    const int16_t codigo = relogio->Codigo();
    GeraExcessaoSeRelogioDesconectado(codigo);
    std::shared_ptr<CursorMonitoracao>& lugar = cursores_[codigo];
    if (!lugar) lugar = std::make_shared<CursorMonitoracao>();
    const std::shared_ptr<CursorMonitoracao> guarda = lugar;
    CursorMonitoracao& cursor = *guarda;
    if (cursor.caido) {
      if (reabriu || host_.Agora().Segundos() < cursor.proximaReabertura) continue;
      reabriu = true;
      bool aberta = false;
      try {
        aberta = ReabreMonitorado(*entrada, cursor);
      } catch (...) {
        // A reopen that fails as a call is part of the outage already reported: tried again
        // at the next attempt's time, never reported per tick.
        cursor.proximaReabertura = host_.Agora().Segundos() + kIntervaloReaberturaSegundos;
      }
      if (!aberta) continue;
    }
    const bool vivo = relogio->ModeloRelogio() == EModeloRelogio_Quorvel
                          ? MonitoraDigital(*entrada, cursor)
                          : MonitoraRegistro(*entrada, cursor);
    if (!vivo) MarcaQuedaMonitorada(codigo, cursor);
  }
}

void ComunicacaoZK::EntregaMonitorada(std::shared_ptr<Marcacao> marcacao) {
  if (eventos_.MarcacaoRecolhida) eventos_.MarcacaoRecolhida(marcacao);
}

bool ComunicacaoZK::MonitoraDigital(const RelogioCZKEM& entrada, CursorMonitoracao& cursor) {
  CZKEM& sdk = *entrada.CZKEM();
  const int16_t codigo = entrada.Relogio()->Codigo();
  const ConfiguracaoRegional& regional = host_.Regional();
  if (cursor.visitado && !cursor.conferir) {
    // Nothing new costs one status read, whatever the size of the log. A log of the same size
    // is taken as unchanged; any other size is read and its last entry passed checked.
    int32_t registros = 0;
    if (sdk.SdkGetDeviceStatus(codigo, kStatusRegistros, registros)) {
      if (registros == cursor.posicao) return true;
    } else if (LinkCaiu(sdk)) {
      return false;
    }
  }
  if (!sdk.SdkReadAllLogs(codigo)) return !LinkCaiu(sdk);  // a refusal: nothing to do now

  const auto passa = [&](int64_t indice, const EntradaDigital& e) {
    cursor.posicao = indice + 1;
    cursor.temUltima = true;
    cursor.cartaoUltima = e.cartao;
    cursor.modoUltima = e.modo;
    cursor.textoUltima = e.texto;
  };
  const auto entrega = [&](const EntradaDigital& e) {
    auto marcacao = std::make_shared<Marcacao>();
    marcacao->CodigoCartao(e.cartao);
    marcacao->CodigoRelogio(codigo);
    marcacao->DataHoraMarcacao(DataHora::DeTexto(e.texto, regional));
    marcacao->MarcacaoPorDigital(e.modo == 1);
    EntregaMonitorada(std::move(marcacao));
  };
  const auto eAUltima = [&](const EntradaDigital& e) {
    return cursor.temUltima && e.cartao == cursor.cartaoUltima && e.modo == cursor.modoUltima &&
           e.texto == cursor.textoUltima;
  };

  // The log is the same one while the last entry passed stands at its position (or nothing
  // was passed yet); decided when the walk reaches that position.
  enum class Log {
    Indefinido,
    Mesmo,
    Outro
  } log =
      (!cursor.visitado || cursor.posicao == 0 || !cursor.temUltima) ? Log::Mesmo : Log::Indefinido;
  std::optional<int64_t> achada;  // where the last entry passed was found in another log
  EntradaDigital e;
  int64_t indice = 0;
  while (sdk.SdkGetNextLog(codigo, e.cartao, e.valor, e.modo, e.texto)) {
    const int64_t i = indice++;
    if (!cursor.visitado) {
      passa(i, e);
      continue;
    }
    if (log == Log::Indefinido && i == cursor.posicao - 1)
      log = eAUltima(e) ? Log::Mesmo : Log::Outro;
    if (log == Log::Mesmo) {
      if (i < cursor.posicao) continue;
      passa(i, e);
      entrega(e);
    } else if (eAUltima(e)) {
      achada = i;  // a log that lost its oldest entries still holds it, further up
    }
  }
  if (LinkCaiu(sdk)) return false;  // a first visit or a check cut short is made again
  if (!cursor.visitado) {
    cursor.visitado = true;
    cursor.posicao = indice;  // what the clock holds at the first visit is not news
    return true;
  }
  // Only a log at least as long as the position can be the old one with its oldest entries
  // dropped; in a shorter one an entry like the last passed (same card, second and mode) is a
  // new punch, not the old one.
  if (indice < cursor.posicao) achada.reset();
  if (log != Log::Mesmo) {
    // Another log: walked again from where the old one ends in it, or from its start.
    const int64_t inicio = achada ? *achada + 1 : 0;
    const std::optional<int64_t> desde =
        achada ? std::nullopt : SegundosDoTexto(cursor.textoUltima, regional);
    if (!sdk.SdkReadAllLogs(codigo)) return !LinkCaiu(sdk);
    cursor.posicao = 0;
    cursor.temUltima = false;
    indice = 0;
    while (sdk.SdkGetNextLog(codigo, e.cartao, e.valor, e.modo, e.texto)) {
      const int64_t i = indice++;
      if (i < inicio) continue;
      passa(i, e);
      if (desde) {
        const std::optional<int64_t> quando = SegundosDoTexto(e.texto, regional);
        if (quando && *quando < *desde) continue;  // the history of a replacing clock
      }
      entrega(e);
    }
    if (LinkCaiu(sdk)) return false;
  }
  cursor.conferir = false;
  return true;
}

bool ComunicacaoZK::MonitoraRegistro(const RelogioCZKEM& entrada, CursorMonitoracao& cursor) {
  CZKEM& sdk = *entrada.CZKEM();
  const int16_t codigo = entrada.Relogio()->Codigo();
  const ConfiguracaoRegional& regional = host_.Regional();
  if (!cursor.visitado) {
    // Where to resume should the link fall before any record is handed out.
    int32_t registros = 0;
    if (sdk.SdkGetDeviceStatus(codigo, kStatusRegistros, registros)) cursor.registros = registros;
    cursor.visitado = true;
  }

  // A check puts the pointer on the record before the last one passed, in the form the
  // firmware reads, so the walk starts by meeting that record again.
  bool conferindo = false;
  std::optional<int64_t> desde;  // set while walking a new log from its start
  const auto recomeca = [&] {
    // A new log: from its start, leaving out what is dated before the last record passed.
    if (cursor.ultimoNsr >= 0)
      desde = cursor.segundosUltimo;
    else
      desde = std::numeric_limits<int64_t>::min();
    cursor.ultimoNsr = -1;
    cursor.registros = 0;
    conferindo = false;
    return sdk.SdkSetLogPointer(codigo, 0) || !LinkCaiu(sdk);
  };
  if (cursor.conferir) {
    std::string versao;
    sdk.SdkGetSysOption(codigo, "mrpversion", versao);
    if (LinkCaiu(sdk)) return false;
    const bool porNsr = PonteiroPorNsr(std::move(versao));
    if (cursor.ultimoNsr >= 0) {
      const int64_t ponteiro = porNsr || cursor.registros < 0 ? cursor.ultimoNsr : cursor.registros;
      conferindo = true;
      sdk.SdkSetLogPointer(codigo,
                           static_cast<int32_t>(std::clamp<int64_t>(ponteiro - 1, 0, INT32_MAX)));
    } else if (cursor.registros >= 0) {
      // Nothing passed yet to recognise: a log shorter than at the first visit is a new one.
      int32_t registros = 0;
      if (!sdk.SdkGetDeviceStatus(codigo, kStatusRegistros, registros) && LinkCaiu(sdk))
        return false;
      if (registros < cursor.registros) {
        if (!recomeca()) return false;
      } else {
        sdk.SdkSetLogPointer(codigo,
                             static_cast<int32_t>(std::min<int64_t>(cursor.registros, INT32_MAX)));
      }
    }
    if (LinkCaiu(sdk)) return false;
  }

  std::string nsr, pis;
  int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
  bool recomecou = desde.has_value();
  for (;;) {
    if (!sdk.SdkReadAllLogs(codigo)) return !LinkCaiu(sdk);
    bool primeiro = true;
    while (sdk.SdkGetNextNsrLog(codigo, nsr, pis, ano, mes, dia, hora, minuto, segundo)) {
      const std::optional<int64_t> numero = NsrNumerico(nsr);
      const bool valida =
          interno::DataHoraDoRelogioValida(ano, mes, dia, hora, minuto, segundo, regional);
      // Converted once: the check, the date filter and the punch all use it.
      const DataHora momento =
          valida ? interno::DataHoraDoRelogio(ano, mes, dia, hora, minuto, segundo, regional)
                 : DataHora();
      const int64_t segundos = momento.Segundos();
      const bool eraPrimeiro = std::exchange(primeiro, false);
      if (conferindo && numero) {
        if (*numero == cursor.ultimoNsr && segundos == cursor.segundosUltimo) {
          conferindo = false;  // the same log: what follows is new
          continue;
        }
        // A clock whose pointer delivers the record it names starts one record earlier.
        if (eraPrimeiro && *numero == cursor.ultimoNsr - 1) continue;
      }
      if (conferindo || (numero && cursor.ultimoNsr >= 0 && *numero < cursor.ultimoNsr)) {
        // Not the log the cursor counts: the clock was wiped or replaced.
        if (recomecou) break;  // one new start per visit
        recomecou = true;
        if (!recomeca()) return false;
        continue;
      }
      // A record delivered again after a reopen was handed out already.
      if (numero && *numero == cursor.ultimoNsr) continue;
      if (numero) {
        cursor.ultimoNsr = *numero;
        cursor.segundosUltimo = segundos;
      }
      if (cursor.registros >= 0) ++cursor.registros;
      if (desde && valida && segundos < *desde) continue;  // the history of a replacing clock
      auto marcacao = std::make_shared<Marcacao>();
      marcacao->CodigoCartao(0);
      marcacao->NSR(nsr);
      marcacao->PIS(pis);
      marcacao->CodigoRelogio(codigo);
      // An impossible date raises, after the cursor moved past it.
      marcacao->DataHoraMarcacao(
          valida ? momento
                 : interno::DataHoraDoRelogio(ano, mes, dia, hora, minuto, segundo, regional));
      marcacao->MarcacaoPorDigital(false);
      EntregaMonitorada(std::move(marcacao));
    }
    if (LinkCaiu(sdk)) return false;
    // A walk that ended before the last record passed came back: the log is shorter, so new.
    if (!conferindo || recomecou) break;
    recomecou = true;
    if (!recomeca()) return false;
  }
  cursor.conferir = false;
  return true;
}

void ComunicacaoZK::MarcaQuedaMonitorada(int16_t codigo, CursorMonitoracao& cursor) {
  cursor.proximaReabertura = host_.Agora().Segundos() + kIntervaloReaberturaSegundos;
  cursor.conferir = true;
  if (cursor.caido) return;  // one report per outage
  cursor.caido = true;
  try {
    interno::LancaRelogioInacessivel(codigo, kMetodoMonitoracao);
  } catch (const Erro& e) {
    try {
      if (eventos_.ErroMonitoracao)
        eventos_.ErroMonitoracao(static_cast<int16_t>(e.Numero()), e.Descricao());
    } catch (...) {
      // A failing handler must not stop the other clocks' visits.
    }
  }
}

bool ComunicacaoZK::ReabreMonitorado(const RelogioCZKEM& entrada, CursorMonitoracao& cursor) {
  const int16_t codigo = entrada.Relogio()->Codigo();
  CZKEM& sdk = *entrada.CZKEM();
  sdk.SdkDisconnect();
  if (!interno::ReabreConexao(entrada)) {
    cursor.proximaReabertura = host_.Agora().Segundos() + kIntervaloReaberturaSegundos;
    return false;
  }
  // A new link may reach another clock, or the same clock with another log: the visit that
  // follows checks before it trusts the cursor (and puts a register pointer where to resume).
  cursor.conferir = true;
  cursor.caido = false;
  try {
    if (eventos_.RelogioConectado) eventos_.RelogioConectado(codigo);
  } catch (...) {
  }
  return true;
}

void ComunicacaoZK::LogApagado(int16_t codigo) {
  auto it = cursores_.find(codigo);
  if (it == cursores_.end() || !it->second->visitado) return;
  it->second->posicao = 0;
  it->second->temUltima = false;
  it->second->conferir = false;
}

}  // namespace quorvel
