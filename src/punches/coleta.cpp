// On-demand punch collection from one clock.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include "common/nsr.h"
#include "control/interno.h"

namespace quorvel {

namespace {

// Punches come in runs of the same day: the day's part of the date is converted once and
// reused while it repeats, the time of day read straight from its digits. Anything that is
// not the plain shape goes through the general conversion, which also raises for bad dates.
class DatasDoDia {
 public:
  DataHora DeTexto(const std::string& texto, const ConfiguracaoRegional& regional) {
    // "aaaa-mm-dd hh:mm:ss", the form clocks send.
    if (texto.size() == 19 && texto[4] == '-' && texto[7] == '-' && texto[10] == ' ' &&
        texto[13] == ':' && texto[16] == ':') {
      int h = 0, mi = 0, s = 0;
      if (Dois(texto, 11, h) && Dois(texto, 14, mi) && Dois(texto, 17, s) && h < 24 && mi < 60 &&
          s < 60) {
        // The day's ten characters compared as two words, not through a library call.
        uint64_t oito = 0;
        uint16_t dois = 0;
        std::memcpy(&oito, texto.data(), sizeof oito);
        std::memcpy(&dois, texto.data() + sizeof oito, sizeof dois);
        if (!temDiaTexto_ || oito != diaOito_ || dois != diaDois_) {
          const DataHora dia = DataHora::DeTexto(std::string_view(texto).substr(0, 10), regional);
          diaOito_ = oito, diaDois_ = dois;
          temDiaTexto_ = true;
          meiaNoiteTexto_ = dia.Segundos();
        }
        return DataHora::DeSegundos(meiaNoiteTexto_ + h * 3600 + mi * 60 + s);
      }
    }
    return DataHora::DeTexto(texto, regional);
  }

  DataHora DosNumeros(int32_t ano, int32_t mes, int32_t dia, int32_t h, int32_t mi, int32_t s,
                      const ConfiguracaoRegional& regional) {
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
      return interno::DataHoraDoRelogio(ano, mes, dia, h, mi, s, regional);  // raises
    if (!(ano == ano_ && mes == mes_ && dia == dia_ && temDia_)) {
      meiaNoite_ = interno::DataHoraDoRelogio(ano, mes, dia, 0, 0, 0, regional).Segundos();
      ano_ = ano, mes_ = mes, dia_ = dia, temDia_ = true;
    }
    return DataHora::DeSegundos(meiaNoite_ + h * 3600 + mi * 60 + s);
  }

 private:
  static bool Dois(const std::string& t, size_t p, int& v) {
    if (t[p] < '0' || t[p] > '9' || t[p + 1] < '0' || t[p + 1] > '9') return false;
    v = (t[p] - '0') * 10 + (t[p + 1] - '0');
    return true;
  }
  // "aaaa-mm-dd" of the day cached, as its first eight characters and its last two.
  uint64_t diaOito_ = 0;
  uint16_t diaDois_ = 0;
  bool temDiaTexto_ = false;
  int64_t meiaNoiteTexto_ = 0;
  bool temDia_ = false;
  int32_t ano_ = 0, mes_ = 0, dia_ = 0;
  int64_t meiaNoite_ = 0;
};

}  // namespace

// A read that ends with last error -2 did not reach the end of the log: the link fell. The
// link is reopened and the read resumed after what was already received (the fingerprint log
// re-read with the punches already received skipped; the register log from the pointer after
// the last record received, any record delivered again dropped). Attempts that bring nothing
// new count; kTentativasSemProgresso of them in a row end the call with -43 and no list, so a
// short result is never handed out as a whole one.
std::shared_ptr<ListaMarcacao> ComunicacaoZK::ObterMarcacaoRelogio(int16_t parCodigoRelogio,
                                                                   int32_t parIndexPonteiro,
                                                                   int32_t parNSRPonteiro) {
  // One run of everything: handed over once, at the end.
  std::shared_ptr<ListaMarcacao> tudo;
  if (!Coleta(parCodigoRelogio, parIndexPonteiro, parNSRPonteiro, INT32_MAX,
              [&](std::shared_ptr<ListaMarcacao> lote) { tudo = std::move(lote); }))
    return nullptr;
  return tudo;
}

bool ComunicacaoZK::ObterMarcacaoRelogioEmLotes(
    int16_t parCodigoRelogio, int32_t parIndexPonteiro, int32_t parNSRPonteiro, int32_t porLote,
    const std::function<void(const ListaMarcacao&)>& recebe) {
  if (porLote < 1) LancaArgumentoInvalido("porLote deve ser ao menos 1");
  return Coleta(parCodigoRelogio, parIndexPonteiro, parNSRPonteiro, porLote,
                [&](std::shared_ptr<ListaMarcacao> lote) { recebe(*lote); });
}

bool ComunicacaoZK::Coleta(int16_t parCodigoRelogio, int32_t parIndexPonteiro,
                           int32_t parNSRPonteiro, int32_t porLote,
                           const std::function<void(std::shared_ptr<ListaMarcacao>)>& entrega) {
  cancelaColeta_ = false;
  const auto entrada = RelogioConectado(parCodigoRelogio);
  const std::shared_ptr<Relogio> relogio = entrada->Relogio();
  const std::shared_ptr<CZKEM> czkem = entrada->CZKEM();
  CZKEM& sdk = *czkem;
  const int32_t maquina = relogio->Codigo();
  const int16_t codigo = relogio->Codigo();
  // The run being filled; `recebidas` counts every punch of the collection, handed over or not.
  auto lista = std::make_shared<ListaMarcacao>();
  int64_t recebidas = 0;
  bool entregou = false;
  auto acrescenta = [&] {
    ++recebidas;
    if (lista->Count() < porLote) return;
    entrega(std::exchange(lista, std::make_shared<ListaMarcacao>()));
    entregou = true;
  };
  int16_t semProgresso = 0;
  // Counts an attempt cut by a lost link; raises once the clock stopped giving anything.
  auto contaQueda = [&](bool progrediu) {
    semProgresso = progrediu ? 0 : static_cast<int16_t>(semProgresso + 1);
    if (semProgresso >= interno::kTentativasSemProgresso)
      interno::LancaRelogioInacessivel(codigo, "ObterMarcacaoRelogio");
  };

  if (relogio->ModeloRelogio() == EModeloRelogio_Quorvel) {
    // The whole log through the standing connection; pointers do not apply.
    const ConfiguracaoRegional& regional = host_.Regional();
    DatasDoDia datas;
    int32_t cartao = 0, valor = 0, modo = 0;
    std::string texto;
    bool retomada = false;
    for (;;) {
      bool progrediu = false;
      if (sdk.SdkReadAllLogs(maquina)) {
        int64_t posicao = 0;
        const int64_t jaRecebidas = recebidas;
        // The call comes first and the flag is tested after it: a punch delivered when the
        // cancel request is found is dropped, as the clock has already moved past it.
        while (sdk.SdkGetNextLog(maquina, cartao, valor, modo, texto) && !cancelaColeta_) {
          if (posicao++ < jaRecebidas) continue;  // received before the link fell
          lista->AdicionaLida(cartao, codigo, datas.DeTexto(texto, regional), modo == 1);
          acrescenta();
          progrediu = true;
        }
        if (cancelaColeta_) break;
      } else if (retomada && interno::UltimoErro(sdk) != sdk::codigo::kLinkPerdido) {
        // The log that was being read cannot be read again: what was received is not whole.
        interno::LancaRelogioInacessivel(codigo, "ObterMarcacaoRelogio");
      }
      // A refused log read or the end of the walk: only a lost link is not the end.
      if (interno::UltimoErro(sdk) != sdk::codigo::kLinkPerdido) break;
      contaQueda(progrediu);
      interno::ReabreAposQueda(host_, *entrada);
      if (cancelaColeta_) break;  // asked for while the reopen yielded
      retomada = true;
    }
  } else {
    sdk.SdkDisconnect();
    host_.Cede();
    interno::ReabreConexao(*entrada);
    host_.Cede();
    std::string versao;
    sdk.SdkGetSysOption(maquina, "mrpversion", versao);
    const bool porNsr = PonteiroPorNsr(std::move(versao));
    const int32_t ponteiro = porNsr ? parNSRPonteiro : parIndexPonteiro;
    sdk.SdkSetLogPointer(maquina, ponteiro);

    DatasDoDia datas;
    std::optional<int64_t> ultimoNsr;  // of the records received, to resume after it
    bool retomada = false;
    std::string nsr, pis;
    int32_t ano = 0, mes = 0, dia = 0, hora = 0, minuto = 0, segundo = 0;
    for (;;) {
      bool progrediu = false;
      while (sdk.SdkGetNextNsrLog(maquina, nsr, pis, ano, mes, dia, hora, minuto, segundo) &&
             !cancelaColeta_) {
        const std::optional<int64_t> numero = NsrNumerico(nsr);
        // A clock whose pointer delivers the record it names hands the last one out again.
        if (retomada && numero && ultimoNsr && *numero <= *ultimoNsr) continue;
        // The clock's numbers name the date day first; built straight from them, with the
        // same strict validation a text would get.
        const DataHora momento =
            datas.DosNumeros(ano, mes, dia, hora, minuto, segundo, host_.Regional());
        lista->AdicionaLida(0, codigo, momento, false, nsr, pis);
        if (numero) ultimoNsr = numero;
        progrediu = true;
        acrescenta();
        if (recebidas % 10 == 0) host_.Cede();
      }
      if (cancelaColeta_) break;
      if (interno::UltimoErro(sdk) != sdk::codigo::kLinkPerdido) break;
      contaQueda(progrediu);
      // The register read's own retry steps: a second, a yield, a fresh link, the pointer.
      host_.Espera(1000);
      host_.Cede();
      if (cancelaColeta_) break;
      sdk.SdkDisconnect();
      interno::ReabreConexao(*entrada);
      // Resume after the last record received: by its NSR, or by the count read so far.
      int64_t retoma = ponteiro;
      if (porNsr && ultimoNsr)
        retoma = *ultimoNsr;
      else if (!porNsr)
        retoma = static_cast<int64_t>(ponteiro) + recebidas;
      sdk.SdkSetLogPointer(maquina, static_cast<int32_t>(std::min<int64_t>(retoma, INT32_MAX)));
      retomada = true;
    }
    host_.Cede();
  }

  if (cancelaColeta_) return false;
  // The last run, or the empty list of a collection that found nothing.
  if (lista->Count() > 0 || !entregou) entrega(std::move(lista));
  return true;
}

}  // namespace quorvel
