// Real-time monitoring: the 200 ms timer hands every new punch to the host as an event.
#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

#include "control/interno.h"

namespace quorvel {

void ComunicacaoZK::IniciaMonitoracaoRelogio(int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  entrada->Relogio()->Monitorado(true);
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

}  // namespace

// Every clock visit goes through a cursor: the fingerprint log by position (the first visit
// takes what the clock holds as seen; later entries are new, whatever their time says), the
// register log by the NSR last handed out. A cursor moves past a punch before it is handed
// out, so a failure later in the tick never hands it out twice.
void ComunicacaoZK::MonitoraRelogios() {
  const int16_t total = Para16Bits(relogios_.Count());
  bool reabriu = false;  // one reopen per tick: a tick never waits on more than one connect
  for (int16_t i = 1; i <= total; ++i) {
    const auto entrada = relogios_.Item(i);
    const std::shared_ptr<Relogio> relogio = entrada->Relogio();
    if (!relogio->Monitorado()) continue;
    const int16_t codigo = relogio->Codigo();
    GeraExcessaoSeRelogioDesconectado(codigo);
    CursorMonitoracao& cursor = cursores_[codigo];
    if (cursor.caido) {
      if (reabriu || host_.Agora().Segundos() < cursor.proximaReabertura) continue;
      reabriu = true;
      if (!ReabreMonitorado(*entrada, cursor)) continue;
    }
    const bool vivo = relogio->ModeloRelogio() == EModeloRelogio_Quorvel
                          ? MonitoraDigital(*entrada, cursor)
                          : MonitoraRegistro(*entrada, cursor);
    if (!vivo) MarcaQuedaMonitorada(codigo, cursor);
  }
}

bool ComunicacaoZK::MonitoraDigital(const RelogioCZKEM& entrada, CursorMonitoracao& cursor) {
  CZKEM& sdk = *entrada.CZKEM();
  const int16_t codigo = entrada.Relogio()->Codigo();
  if (cursor.visitado) {
    // Nothing new costs one status read, whatever the size of the log.
    int32_t registros = 0;
    if (sdk.SdkGetDeviceStatus(codigo, kStatusRegistros, registros)) {
      if (registros == cursor.posicao) return true;
    } else if (LinkCaiu(sdk)) {
      return false;
    }
  }
  if (!sdk.SdkReadAllLogs(codigo)) return !LinkCaiu(sdk);  // a refusal: nothing to do now

  const ConfiguracaoRegional& regional = host_.Regional();
  int32_t cartao = 0, valor = 0, modo = 0;
  std::string texto;
  int64_t posicao = 0;
  while (sdk.SdkGetNextLog(codigo, cartao, valor, modo, texto)) {
    const int64_t indice = posicao++;
    if (!cursor.visitado || indice < cursor.posicao) continue;
    cursor.posicao = indice + 1;
    auto marcacao = std::make_shared<Marcacao>();
    marcacao->CodigoCartao(cartao);
    marcacao->CodigoRelogio(codigo);
    marcacao->DataHoraMarcacao(DataHora::DeTexto(texto, regional));
    marcacao->MarcacaoPorDigital(modo == 1);
    if (eventos_.MarcacaoRecolhida) eventos_.MarcacaoRecolhida(marcacao);
  }
  if (LinkCaiu(sdk)) return false;  // a first visit cut short is made again
  if (!cursor.visitado) {
    cursor.visitado = true;
    cursor.posicao = posicao;  // what the clock holds at the first visit is not news
  } else if (posicao < cursor.posicao) {
    cursor.posicao = posicao;  // erased: only what comes after its new end is new
  }
  return true;
}

bool ComunicacaoZK::MonitoraRegistro(const RelogioCZKEM& entrada, CursorMonitoracao& cursor) {
  CZKEM& sdk = *entrada.CZKEM();
  const int16_t codigo = entrada.Relogio()->Codigo();
  if (!cursor.visitado) {
    // Where to resume should the link fall before any record is handed out.
    int32_t registros = 0;
    if (sdk.SdkGetDeviceStatus(codigo, kStatusRegistros, registros))
      cursor.registrosNaPrimeiraVisita = registros;
    cursor.visitado = true;
  }
  if (!sdk.SdkReadAllLogs(codigo)) return !LinkCaiu(sdk);
  std::string nsr, pis;
  int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
  while (sdk.SdkGetNextNsrLog(codigo, nsr, pis, ano, mes, dia, hora, minuto, segundo)) {
    const std::optional<int64_t> numero = interno::NsrNumerico(nsr);
    if (numero) {
      // A record delivered again after a reopen was handed out already.
      if (*numero <= cursor.ultimoNsr) continue;
      cursor.ultimoNsr = *numero;
    }
    const DataHora momento =
        interno::DataHoraDoRelogio(ano, mes, dia, hora, minuto, segundo, host_.Regional());
    auto marcacao = std::make_shared<Marcacao>();
    marcacao->CodigoCartao(0);
    marcacao->NSR(nsr);
    marcacao->PIS(pis);
    marcacao->CodigoRelogio(codigo);
    marcacao->DataHoraMarcacao(momento);
    marcacao->MarcacaoPorDigital(false);
    if (eventos_.MarcacaoRecolhida) eventos_.MarcacaoRecolhida(marcacao);
  }
  return !LinkCaiu(sdk);
}

void ComunicacaoZK::MarcaQuedaMonitorada(int16_t codigo, CursorMonitoracao& cursor) {
  cursor.proximaReabertura = host_.Agora().Segundos() + kIntervaloReaberturaSegundos;
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
  if (entrada.Relogio()->ModeloRelogio() != EModeloRelogio_Quorvel) {
    // A new link starts wherever the clock puts it; resume after the last record handed out
    // (NSRs count records from 1, so the same number serves either pointer form).
    const int64_t ponteiro =
        cursor.ultimoNsr >= 0 ? cursor.ultimoNsr : cursor.registrosNaPrimeiraVisita;
    if (ponteiro >= 0)
      sdk.SdkSetLogPointer(codigo, static_cast<int32_t>(std::min<int64_t>(ponteiro, INT32_MAX)));
  }
  cursor.caido = false;
  try {
    if (eventos_.RelogioConectado) eventos_.RelogioConectado(codigo);
  } catch (...) {
  }
  return true;
}

void ComunicacaoZK::LogApagado(int16_t codigo) {
  auto it = cursores_.find(codigo);
  if (it != cursores_.end() && it->second.visitado) it->second.posicao = 0;
}

}  // namespace quorvel
