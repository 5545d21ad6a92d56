// On-demand punch collection from one clock.
#include <algorithm>

#include "control/interno.h"

namespace quorvel {

namespace {

// Upper-case, every "VER" removed, blanks around stripped: "Ver 2.1.12 " gives "2.1.12".
std::string NormalizaVersao(std::string versao) {
  std::transform(versao.begin(), versao.end(), versao.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  });
  for (size_t pos; (pos = versao.find("VER")) != std::string::npos;) versao.erase(pos, 3);
  const size_t inicio = versao.find_first_not_of(' ');
  if (inicio == std::string::npos) return {};
  const size_t fim = versao.find_last_not_of(' ');
  return versao.substr(inicio, fim - inicio + 1);
}

// Firmware from "2.1.12" on takes the pointer as an NSR, earlier firmware as a record index.
// The comparison is by character code, as text: "2.1.9" counts as later than "2.1.12".
bool VersaoUsaNsr(const std::string& versaoNormalizada) {
  return versaoNormalizada.compare("2.1.12") >= 0;
}

}  // namespace

std::shared_ptr<ListaMarcacao> ComunicacaoZK::ObterMarcacaoRelogio(int16_t parCodigoRelogio,
                                                                   int32_t parIndexPonteiro,
                                                                   int32_t parNSRPonteiro) {
  cancelaColeta_ = false;
  const auto entrada = RelogioConectado(parCodigoRelogio);
  const std::shared_ptr<Relogio> relogio = entrada->Relogio();
  const std::shared_ptr<CZKEM> czkem = entrada->CZKEM();
  CZKEM& sdk = *czkem;
  const int32_t maquina = relogio->Codigo();
  std::shared_ptr<ListaMarcacao> lista;

  if (relogio->ModeloRelogio() == EModeloRelogio_Quorvel) {
    // The whole log through the standing connection; pointers do not apply.
    if (sdk.SdkReadAllLogs(maquina)) {
      int32_t cartao = 0, valor = 0, modo = 0;
      std::string texto;
      const ConfiguracaoRegional& regional = host_.Regional();
      // The call comes first and the flag is tested after it: a punch delivered when the
      // cancel request is found is dropped, as the clock has already moved past it.
      while (sdk.SdkGetNextLog(maquina, cartao, valor, modo, texto) && !cancelaColeta_) {
        auto marcacao = std::make_shared<Marcacao>();
        marcacao->CodigoCartao(cartao);
        marcacao->CodigoRelogio(relogio->Codigo());
        marcacao->DataHoraMarcacao(DataHora::DeTexto(texto, regional));
        marcacao->MarcacaoPorDigital(modo == 1);
        if (!lista) lista = std::make_shared<ListaMarcacao>();
        lista->Add(std::move(marcacao));
      }
    }
  } else {
    sdk.SdkDisconnect();
    host_.Cede();
    interno::ReabreConexao(*entrada);
    host_.Cede();
    std::string versao;
    sdk.SdkGetSysOption(maquina, "mrpversion", versao);
    const int32_t ponteiro =
        VersaoUsaNsr(NormalizaVersao(std::move(versao))) ? parNSRPonteiro : parIndexPonteiro;
    sdk.SdkSetLogPointer(maquina, ponteiro);

    lista = std::make_shared<ListaMarcacao>();
    int16_t tentativas = 0;
    for (;;) {
      const DataHora inicio = host_.Agora();
      std::string nsr, pis;
      int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
      while (sdk.SdkGetNextNsrLog(maquina, nsr, pis, ano, mes, dia, hora, minuto, segundo) &&
             !cancelaColeta_) {
        // The clock's numbers name the date day first; built straight from them, with the
        // same strict validation a text would get.
        const DataHora momento = interno::DataHoraDoRelogio(ano, mes, dia, hora, minuto, segundo);
        auto marcacao = std::make_shared<Marcacao>();
        marcacao->CodigoCartao(0);
        marcacao->NSR(nsr);
        marcacao->PIS(pis);
        marcacao->CodigoRelogio(relogio->Codigo());
        marcacao->DataHoraMarcacao(momento);
        marcacao->MarcacaoPorDigital(false);
        lista->Add(std::move(marcacao));
        if (lista->Count() % 10 == 0) host_.Cede();
      }
      if (lista->Count() > 0) break;
      // An empty read is retried only when the link was lost and the attempt took at least
      // a second (a clock that answers at once with nothing really has nothing).
      ++tentativas;
      int32_t codigo = 0;
      sdk.SdkGetLastError(codigo);
      if (codigo != interno::kErroLinkPerdido) break;
      if (host_.Agora().Segundos() - inicio.Segundos() < 1) break;
      if (tentativas >= 3) break;
      host_.Espera(1000);
      host_.Cede();
      sdk.SdkDisconnect();
      interno::ReabreConexao(*entrada);
      sdk.SdkSetLogPointer(maquina, ponteiro);
    }
    host_.Cede();
  }

  if (cancelaColeta_) return nullptr;
  return lista ? lista : std::make_shared<ListaMarcacao>();
}

}  // namespace quorvel
