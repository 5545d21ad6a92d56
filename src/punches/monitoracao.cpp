// Real-time monitoring: the 200 ms timer hands every new punch to the host as an event.
#include <limits>

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

void ComunicacaoZK::MonitoraRelogios() {
  const int16_t total = Para16Bits(relogios_.Count());
  const ConfiguracaoRegional& regional = host_.Regional();
  for (int16_t i = 1; i <= total; ++i) {
    const auto entrada = relogios_.Item(i);
    const std::shared_ptr<Relogio> relogio = entrada->Relogio();
    if (!relogio->Monitorado()) continue;
    const int16_t codigo = relogio->Codigo();
    GeraExcessaoSeRelogioDesconectado(codigo);
    const std::shared_ptr<CZKEM> czkem = entrada->CZKEM();
    if (!czkem->SdkReadAllLogs(codigo)) continue;

    // First visit: punches the clock already holds are not news.
    const auto vista = ultimaMarcacaoVista_.find(codigo);
    DataHora ultima = vista != ultimaMarcacaoVista_.end() ? vista->second : host_.Agora();

    if (relogio->ModeloRelogio() == EModeloRelogio_Quorvel) {
      int32_t cartao = 0, valor = 0, modo = 0;
      std::string texto;
      while (czkem->SdkGetNextLog(codigo, cartao, valor, modo, texto)) {
        const DataHora momento = DataHora::DeTexto(texto, regional);
        if (!(momento > ultima)) continue;
        auto marcacao = std::make_shared<Marcacao>();
        marcacao->CodigoCartao(cartao);
        marcacao->CodigoRelogio(codigo);
        marcacao->DataHoraMarcacao(momento);
        marcacao->MarcacaoPorDigital(modo == 1);
        if (eventos_.MarcacaoRecolhida) eventos_.MarcacaoRecolhida(marcacao);
        ultima = momento;
      }
    } else {
      std::string nsr, pis;
      int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
      while (czkem->SdkGetNextNsrLog(codigo, nsr, pis, ano, mes, dia, hora, minuto, segundo)) {
        const DataHora momento = interno::DataHoraDoRelogio(ano, mes, dia, hora, minuto, segundo);
        auto marcacao = std::make_shared<Marcacao>();
        marcacao->CodigoCartao(0);
        marcacao->NSR(nsr);
        marcacao->PIS(pis);
        marcacao->CodigoRelogio(codigo);
        marcacao->DataHoraMarcacao(momento);
        marcacao->MarcacaoPorDigital(false);
        if (eventos_.MarcacaoRecolhida) eventos_.MarcacaoRecolhida(marcacao);
        ultima = momento;
      }
    }
    ultimaMarcacaoVista_[codigo] = ultima;
  }
}

}  // namespace quorvel
