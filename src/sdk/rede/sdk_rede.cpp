// The network backend: CZKEM over the project's clock protocol, on one link per SDK object
// (enlace.h), with the reads a walk makes served from what came in batches (lotes.h,
// log_digital.h) and template reads from what was read ahead (antecipadas.h). Every other
// operation is one exchange built from the call list (chamadas.h).
#include "quorvel/sdk/sdk_rede.h"

#include "quorvel/sdk/conversao_template.h"
#include "quorvel/sdk/fonte_afd.h"
#include "sdk/rede/antecipadas.h"
#include "sdk/rede/chamadas.h"
#include "sdk/rede/enlace.h"
#include "sdk/rede/log_digital.h"
#include "sdk/rede/lotes.h"

namespace quorvel::sdk {

namespace {

using namespace protocol;
using rede::Chamada;
template <auto Membro>
constexpr uint8_t kOp = operacoes::kOp<Membro>;

class SdkRede final : public CZKEM, public FonteDoAfd {
 public:
  explicit SdkRede(OpcoesRede o) : opcoes_(std::move(o)) {}

  bool SdkConnectNetwork(const std::string& ip, int32_t porta) override {
    enlace_.Fecha();
    return enlace_.Abre(rede::AbreTcp(ip, porta, opcoes_.tempoConexaoMs));
  }
  bool SdkConnectSerial(int32_t porta, int32_t, int32_t baud) override {
    enlace_.Fecha();
    if (baud != 115200) {
      ultimoErro_ = codigo::kArgumentoInvalido;
      return false;
    }
    return enlace_.Abre(rede::AbreSerial(CaminhoSerial(porta)));
  }
  void SdkDisconnect() override { enlace_.Fecha(); }
  void SdkGetLastError(int32_t& c) override { c = ultimoErro_; }

  bool SdkEnableDevice(int32_t m, bool h) override { return Chama<&CZKEM::SdkEnableDevice>(m, h); }
  bool SdkRefreshData(int32_t m) override { return Chama<&CZKEM::SdkRefreshData>(m); }
  bool SdkGetDeviceStatus(int32_t m, int32_t c, int32_t& v) override {
    // The log's size as last pushed, while pushes can stand in for asking.
    if (c == kStatusRegistrosDoLog && enlace_.PushConfiavel()) {
      v = static_cast<int32_t>(enlace_.TamanhoPush());
      ultimoErro_ = 0;
      return true;
    }
    return Chama<&CZKEM::SdkGetDeviceStatus>(m, c, v);
  }
  bool SdkSetDeviceInfo(int32_t m, int32_t i, int32_t v) override {
    return Chama<&CZKEM::SdkSetDeviceInfo>(m, i, v);
  }
  bool SdkGetDeviceTime(int32_t m, int32_t& a, int32_t& me, int32_t& d, int32_t& h, int32_t& mi,
                        int32_t& s) override {
    return Chama<&CZKEM::SdkGetDeviceTime>(m, a, me, d, h, mi, s);
  }
  bool SdkSetDeviceTime(int32_t m, int32_t a, int32_t me, int32_t d, int32_t h, int32_t mi,
                        int32_t s) override {
    return Chama<&CZKEM::SdkSetDeviceTime>(m, a, me, d, h, mi, s);
  }
  // Announced in the hello: no round trip.
  bool SdkGetDeviceModel(int32_t, int32_t& modelo) override {
    const auto anunciado = enlace_.ModeloAnunciado();
    if (!anunciado) {
      ultimoErro_ = codigo::kLinkPerdido;
      return false;
    }
    modelo = static_cast<int32_t>(*anunciado);
    ultimoErro_ = 0;
    return true;
  }
  bool SdkGetFirmwareVersion(int32_t m, std::string& v) override {
    return Chama<&CZKEM::SdkGetFirmwareVersion>(m, v);
  }
  bool SdkGetSysOption(int32_t m, const std::string& n, std::string& v) override {
    return Chama<&CZKEM::SdkGetSysOption>(m, n, v);
  }
  bool SdkSetSysOption(int32_t m, const std::string& n, const std::string& v) override {
    return Chama<&CZKEM::SdkSetSysOption>(m, n, v);
  }
  bool SdkRefreshOptions(int32_t m) override { return Chama<&CZKEM::SdkRefreshOptions>(m); }
  bool SdkSetDaylight(int32_t m, int32_t l, const std::string& i, const std::string& f) override {
    return Chama<&CZKEM::SdkSetDaylight>(m, l, i, f);
  }
  bool SdkClearAllData(int32_t m) override { return Chama<&CZKEM::SdkClearAllData>(m); }
  bool SdkTestOperation(int32_t a) override { return Chama<&CZKEM::SdkTestOperation>(a); }
  bool SdkSetEmployer(int32_t m, const std::string& n, int32_t t, const std::string& d,
                      const std::string& c, const std::string& e) override {
    return Chama<&CZKEM::SdkSetEmployer>(m, n, t, d, c, e);
  }

  // ---- The log ------------------------------------------------------------------------------
  bool SdkReadAllLogs(int32_t m) override {
    if (registros_.RecomecaSemNovidade()) {
      ultimoErro_ = 0;
      return true;
    }
    logDigital_.Recomeca();
    return Chama<&CZKEM::SdkReadAllLogs>(m);
  }
  bool SdkGetNextLog(int32_t, int32_t& c, int32_t& v, int32_t& mo, std::string& t) override {
    return logDigital_.Proximo(c, v, mo, t);
  }
  bool SdkGetNextNsrLog(int32_t m, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                        int32_t& d, int32_t& h, int32_t& mi, int32_t& s) override {
    return registros_.Proximo(m, nsr, pis, a, me, d, h, mi, s);
  }
  bool SdkSetLogPointer(int32_t m, int32_t p) override {
    registros_.Reset();
    const bool r = Chama<&CZKEM::SdkSetLogPointer>(m, p);
    // A run asked for ahead was read from the old position (its answer was taken off the line
    // before this call's): it is dropped, and the walk starts over from the new one.
    enlace_.DescartaAdiantado(kLogDeRegistros);
    return r;
  }
  bool SdkClearLogs(int32_t m) override { return Chama<&CZKEM::SdkClearLogs>(m); }

  // ---- Users --------------------------------------------------------------------------------
  bool SdkReadAllUserIds(int32_t m) override {
    lotes_.Esquece(kOp<&CZKEM::SdkGetNextUserInfo>);
    lotes_.Esquece(kOp<&CZKEM::SdkGetNextUserInfoWithPis>);
    templates_.Reset();
    return Chama<&CZKEM::SdkReadAllUserIds>(m);
  }
  bool SdkSetUserInfo(int32_t m, int32_t u, const std::string& n, const std::string& s, int32_t p,
                      bool h) override {
    return Chama<&CZKEM::SdkSetUserInfo>(m, u, n, s, p, h);
  }
  bool SdkGetNextUserInfo(int32_t m, int32_t& u, std::string& n, std::string& s, int32_t& p,
                          bool& h) override {
    return Proximo<&CZKEM::SdkGetNextUserInfo>(m, u, n, s, p, h);
  }
  bool SdkSetUserInfoWithPis(int32_t m, const std::string& u, const std::string& n,
                             const std::string& s, int32_t p, bool h, const std::string& pis,
                             const std::string& cpf) override {
    return Chama<&CZKEM::SdkSetUserInfoWithPis>(m, u, n, s, p, h, pis, cpf);
  }
  bool SdkGetNextUserInfoWithPis(int32_t m, std::string& u, std::string& n, std::string& s,
                                 int32_t& p, bool& h, std::string& pis, std::string& cpf) override {
    return Proximo<&CZKEM::SdkGetNextUserInfoWithPis>(m, u, n, s, p, h, pis, cpf);
  }
  bool SdkQueryUserInfo(int32_t m, std::string& n, std::string& t, int32_t& num, bool& f) override {
    return Chama<&CZKEM::SdkQueryUserInfo>(m, n, t, num, f);
  }
  bool SdkSetCardNumber(const std::string& c) override {
    return Chama<&CZKEM::SdkSetCardNumber>(c);
  }
  bool SdkGetUserCardByTextId(int32_t m, const std::string& u, std::string& c) override {
    return Chama<&CZKEM::SdkGetUserCardByTextId>(m, u, c);
  }
  bool SdkDeleteEnrollData(int32_t m, int32_t u, int32_t m2, int32_t d) override {
    return Chama<&CZKEM::SdkDeleteEnrollData>(m, u, m2, d);
  }
  bool SdkDeleteEnrollDataByTextId(int32_t m, const std::string& u, int32_t d) override {
    return Chama<&CZKEM::SdkDeleteEnrollDataByTextId>(m, u, d);
  }

  // ---- Templates ----------------------------------------------------------------------------
  bool SdkGetUserTemplate(int32_t m, int32_t u, int32_t d, std::string& t, int32_t& n) override {
    return LeTemplate<&CZKEM::SdkGetUserTemplate>(m, u, d, t, n);
  }
  bool SdkSetUserTemplate(int32_t m, int32_t u, int32_t d, const std::string& t) override {
    return Chama<&CZKEM::SdkSetUserTemplate>(m, u, d, t);
  }
  bool SdkDeleteUserTemplate(int32_t m, int32_t u, int32_t d) override {
    return Chama<&CZKEM::SdkDeleteUserTemplate>(m, u, d);
  }
  bool SdkGetUserTemplateByTextId(int32_t m, const std::string& u, int32_t d, int32_t& f,
                                  std::string& t, int32_t& n) override {
    return LeTemplate<&CZKEM::SdkGetUserTemplateByTextId>(m, u, d, f, t, n);
  }
  bool SdkSetUserTemplateByTextId(int32_t m, const std::string& u, int32_t d, int32_t f,
                                  const std::string& t) override {
    return Chama<&CZKEM::SdkSetUserTemplateByTextId>(m, u, d, f, t);
  }
  bool SdkDeleteUserTemplateByTextId(int32_t m, const std::string& u, int32_t d) override {
    return Chama<&CZKEM::SdkDeleteUserTemplateByTextId>(m, u, d);
  }
  bool SdkConvertTemplate(const std::string& e, std::string& s, int32_t& n) override {
    // A computation of the SDK itself, in the template format the clocks share.
    return ConverteTemplateSdk(e, s, n, ultimoErro_);
  }

  // ---- The register clock's own fiscal file -------------------------------------------------
  bool LeParteDoAfd(const PedidoAfd& pedido, ParteAfd& parte) override {
    if (pedido.depois < 0 || pedido.depois > INT32_MAX || pedido.limite < 0 ||
        pedido.limite > INT32_MAX) {
      ultimoErro_ = codigo::kArgumentoInvalido;
      return false;
    }
    Escritor w;
    w.I32(pedido.de);
    w.I32(pedido.ate);
    w.I32(static_cast<int32_t>(pedido.depois));
    w.I32(static_cast<int32_t>(pedido.limite));
    return enlace_.Pede(kArquivoFiscal, std::move(w.Dados()), [&](Leitor& r, Quadro&) {
      const uint8_t resposta = r.U8();
      ultimoErro_ = r.I32();
      parte.limite = r.I32();
      parte.proximo = r.I32();
      parte.texto = r.Texto();
      r.ExigeFim();
      if (resposta > 1 || parte.limite < 0 || parte.proximo < 0)
        enlace_.Violacao("parte do arquivo fiscal malformada");
      // A part that does not move on would be asked for again forever.
      if (resposta == 1 && parte.proximo != 0 && parte.proximo <= pedido.depois)
        enlace_.Violacao("parte do arquivo fiscal que não avança");
      return resposta == 1;
    });
  }

 private:
  static constexpr int32_t kStatusRegistrosDoLog = 6;

  // One operation as one exchange: the request from the parameters, the answer back into them.
  template <auto Membro, class... Argumentos>
  bool Chama(Argumentos&&... a) {
    auto valores = Chamada<Membro>::Pedido(a...);
    const bool r = ChamaComValores(kOp<Membro>, Chamada<Membro>::kNatureza, valores);
    Chamada<Membro>::Resposta(r, valores, a...);
    return r;
  }

  // The next item of a walk, from the batch in hand or the next one.
  template <auto Membro, class... Argumentos>
  bool Proximo(Argumentos&&... a) {
    auto valores = Chamada<Membro>::Pedido(a...);
    const bool r = lotes_.Proximo(kOp<Membro>, valores);
    Chamada<Membro>::Resposta(r, valores, a...);
    return r;
  }

  // A template read: from what was read ahead when it holds it, else one exchange.
  template <auto Membro, class... Argumentos>
  bool LeTemplate(Argumentos&&... a) {
    auto valores = Chamada<Membro>::Pedido(a...);
    const std::optional<bool> antecipada = templates_.Entrega(kOp<Membro>, valores);
    const bool r = antecipada ? *antecipada
                              : ChamaComValores(kOp<Membro>, Chamada<Membro>::kNatureza, valores);
    Chamada<Membro>::Resposta(r, valores, a...);
    return r;
  }

  bool ChamaComValores(uint8_t op, operacoes::Natureza natureza, std::vector<Valor>& args) {
    // A write may change templates: what was read ahead is no longer known.
    if (natureza == operacoes::Natureza::Escrita) templates_.EsqueceRespostas();
    Escritor w;
    for (const Valor& v : args) w.ValorTipado(v);
    return enlace_.Pede(op, std::move(w.Dados()), [&](Leitor& r, Quadro&) {
      const uint8_t resposta = r.U8();
      ultimoErro_ = r.I32();
      std::vector<Valor> volta;
      while (!r.NoFim()) volta.push_back(r.ValorTipado());
      if (resposta > 1 || volta.size() != args.size())
        enlace_.Violacao("resposta com argumentos errados");
      for (size_t i = 0; i < args.size(); ++i)
        if (volta[i].index() != args[i].index()) enlace_.Violacao("resposta com tipos errados");
      args = std::move(volta);
      return resposta == 1;
    });
  }

  // What a closed link takes with it: what was read of the clock at the other end. The
  // fingerprint log's copy stays; the next walk checks it against whichever log it meets.
  void AoFecharLink() {
    lotes_.Reset();
    registros_.Reset();
    templates_.Reset();
  }

  OpcoesRede opcoes_;
  int32_t ultimoErro_ = 0;
  rede::Enlace enlace_{opcoes_, ultimoErro_, [this] { AoFecharLink(); }};
  rede::TemplatesAntecipados templates_{enlace_, ultimoErro_};
  rede::LeiturasEmLote lotes_{enlace_, ultimoErro_,
                              [this](const Valor& usuario) { templates_.AnotaUsuario(usuario); }};
  rede::RegistrosNsr registros_{enlace_, ultimoErro_};
  rede::LogDigital logDigital_{enlace_, ultimoErro_};
};

}  // namespace

std::shared_ptr<CZKEM> CriaSdkRede(OpcoesRede opcoes) {
  return std::make_shared<SdkRede>(std::move(opcoes));
}

FabricaCZKEM FabricaRede(OpcoesRede opcoes) {
  return [opcoes] { return CriaSdkRede(opcoes); };
}

}  // namespace quorvel::sdk
