// The device SDK over a virtual clock: every CZKEM operation on the device's state.
#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <utility>

#include "quorvel/erro.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/cadastro_virtual.h"
#include "sdk/leitura_virtual.h"
#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

// ---- SdkVirtual ---------------------------------------------------------------------------

class SdkVirtual final : public CZKEM, public FonteDoAfd {
 public:
  bool SdkConnectNetwork(const std::string& ip, int32_t porta) override {
    return Conecta(RedeVirtual::Instancia().Procura(ip, porta));
  }
  bool SdkConnectSerial(int32_t porta, int32_t, int32_t baud) override {
    if (baud != 115200) {
      ultimoErro_ = codigo::kArgumentoInvalido;
      return false;
    }
    return Conecta(RedeVirtual::Instancia().ProcuraSerial(porta));
  }
  void SdkDisconnect() override { dispositivo_.reset(); }
  bool ConectaDireto(std::shared_ptr<DispositivoVirtual> d) { return Conecta(std::move(d)); }
  void SdkGetLastError(int32_t& c) override { c = ultimoErro_; }

  bool SdkEnableDevice(int32_t, bool habilita) override {
    return Com("SdkEnableDevice", [&](DispositivoVirtual& d) {
      d.Anota([&] { return nlohmann::json{{"t", "en"}, {"v", habilita}}; });
      d.habilitado_ = habilita;
      return true;
    });
  }
  bool SdkRefreshData(int32_t) override {
    return Com("SdkRefreshData", [](DispositivoVirtual&) { return true; });
  }
  bool SdkGetDeviceStatus(int32_t, int32_t codigo, int32_t& valor) override {
    return Com("SdkGetDeviceStatus", [&](DispositivoVirtual& d) {
      return Resultado(CadastroVirtual::Estado(d, codigo, valor));
    });
  }
  bool SdkSetDeviceInfo(int32_t, int32_t item, int32_t valor) override {
    return Com("SdkSetDeviceInfo", [&](DispositivoVirtual& d) {
      const int32_t novo = item == 1 ? d.informacoes_[1] + 1 : valor;  // item 1 counts applies
      d.Anota([&] { return nlohmann::json{{"t", "in"}, {"k", item}, {"v", novo}}; });
      d.informacoes_[item] = novo;
      return true;
    });
  }
  bool SdkGetDeviceTime(int32_t, int32_t& a, int32_t& me, int32_t& di, int32_t& h, int32_t& mi,
                        int32_t& s) override {
    return Com("SdkGetDeviceTime", [&](DispositivoVirtual& d) {
      const PartesDataHora p = d.AgoraSemTrava().Partes();
      a = p.ano, me = p.mes, di = p.dia, h = p.hora, mi = p.minuto, s = p.segundo;
      return true;
    });
  }
  bool SdkSetDeviceTime(int32_t, int32_t a, int32_t me, int32_t di, int32_t h, int32_t mi,
                        int32_t s) override {
    return Com("SdkSetDeviceTime", [&](DispositivoVirtual& d) {
      if (!DataHora::PartesValidas(a, me, di, h, mi, s)) return Falha(codigo::kArgumentoInvalido);
      d.AjustaHoraSemTrava(DataHora::DePartes(a, me, di, h, mi, s));
      return true;
    });
  }
  bool SdkGetFirmwareVersion(int32_t, std::string& versao) override {
    return Com("SdkGetFirmwareVersion", [&](DispositivoVirtual& d) {
      versao = d.modelo_ == EModeloRelogio_Tarvenix ? "Ver " + d.firmware_ : d.firmware_;
      return true;
    });
  }
  bool SdkGetDeviceModel(int32_t, int32_t& modelo) override {
    // What the clock said on the last link opened, closed or not.
    if (!modeloDoLink_) return Falha(codigo::kLinkPerdido);
    modelo = static_cast<int32_t>(*modeloDoLink_);
    ultimoErro_ = codigo::kSucesso;
    return true;
  }
  bool SdkGetSysOption(int32_t, const std::string& nome, std::string& valor) override {
    return Com("SdkGetSysOption", [&](DispositivoVirtual& d) {
      auto it = d.opcoes_.find(nome);
      if (it == d.opcoes_.end()) return Falha(codigo::kNaoEncontrado);
      valor = it->second;
      return true;
    });
  }
  bool SdkSetSysOption(int32_t, const std::string& nome, const std::string& valor) override {
    return Com("SdkSetSysOption", [&](DispositivoVirtual& d) {
      if (nome.empty() || nome == "mrpversion") return Falha(codigo::kArgumentoInvalido);
      d.DefineOpcaoSemTrava(nome, valor);
      return true;
    });
  }
  bool SdkRefreshOptions(int32_t) override {
    return Com("SdkRefreshOptions", [](DispositivoVirtual&) { return true; });
  }
  bool SdkSetDaylight(int32_t, int32_t ligado, const std::string& inicio,
                      const std::string& fim) override {
    return Com("SdkSetDaylight", [&](DispositivoVirtual& d) {
      if ((ligado != 0 && ligado != 1) || !TextoPeriodoValido(inicio) || !TextoPeriodoValido(fim))
        return Falha(codigo::kArgumentoInvalido);
      const std::string periodo = std::to_string(ligado) + ":" + inicio + "-" + fim;
      d.DefineOpcaoSemTrava("~DaylightPeriod", periodo);
      return true;
    });
  }
  bool SdkClearAllData(int32_t) override {
    return Com("SdkClearAllData", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      d.Anota([&] { return nlohmann::json{{"t", "ca"}}; });
      d.usuarios_.clear();
      d.templates_.clear();
      d.log_.clear();
      ++d.geracaoLog_;
      return true;
    });
  }
  bool SdkTestOperation(int32_t argumento) override {
    return Com("SdkTestOperation", [&](DispositivoVirtual&) {
      return argumento == 1 ? true : Falha(codigo::kArgumentoInvalido);
    });
  }
  bool SdkSetEmployer(int32_t, const std::string& nome, int32_t tipo, const std::string& documento,
                      const std::string& cei, const std::string& endereco) override {
    return Com("SdkSetEmployer", [&](DispositivoVirtual& d) {
      return Resultado(d.DefineEmpregadorSemTrava({nome, documento, cei, endereco, tipo}));
    });
  }

  bool LeParteDoAfd(const PedidoAfd& pedido, ParteAfd& parte) override {
    return Com("LeParteDoAfd", [&](DispositivoVirtual& d) {
      d.AcompanhaVeraoSemTrava();
      return Resultado(d.LeParteDoAfdSemTrava(pedido, parte));
    });
  }

  bool SdkReadAllLogs(int32_t) override {
    return Com("SdkReadAllLogs",
               [&](DispositivoVirtual& d) { return Resultado(log_.Recomeca(d)); });
  }
  bool SdkGetNextLog(int32_t, int32_t& cartao, int32_t& valor, int32_t& modo,
                     std::string& texto) override {
    return Com("SdkGetNextLog", [&](DispositivoVirtual& d) {
      return Resultado(log_.Proximo(d, cartao, valor, modo, texto));
    });
  }
  bool SdkGetNextNsrLog(int32_t, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                        int32_t& di, int32_t& h, int32_t& mi, int32_t& s) override {
    return Com("SdkGetNextNsrLog", [&](DispositivoVirtual& d) {
      return Resultado(log_.ProximoNsr(d, nsr, pis, a, me, di, h, mi, s));
    });
  }
  bool SdkSetLogPointer(int32_t, int32_t ponteiro) override {
    return Com("SdkSetLogPointer",
               [&](DispositivoVirtual& d) { return Resultado(log_.Posiciona(d, ponteiro)); });
  }
  bool SdkClearLogs(int32_t) override {
    return Com("SdkClearLogs", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      d.Anota([&] { return nlohmann::json{{"t", "cl"}}; });
      d.log_.clear();
      ++d.geracaoLog_;
      return true;
    });
  }

  bool SdkReadAllUserIds(int32_t) override {
    return Com("SdkReadAllUserIds", [&](DispositivoVirtual& d) {
      usuariosLidos_.clear();
      for (const auto& [id, u] : d.usuarios_) usuariosLidos_.push_back(u);
      cursorUsuario_ = 0;
      return true;
    });
  }
  bool SdkSetUserInfo(int32_t, int32_t usuario, const std::string& nome, const std::string& senha,
                      int32_t privilegio, bool habilitado) override {
    return Com("SdkSetUserInfo", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      if (usuario <= 0) return Falha(codigo::kArgumentoInvalido);
      const std::string id = std::to_string(usuario);
      return Resultado(CadastroVirtual::Grava(d, id, [&](UsuarioVirtual& u) {
        u.nome = nome, u.senha = senha, u.privilegio = privilegio, u.habilitado = habilitado;
      }));
    });
  }
  bool SdkGetNextUserInfo(int32_t, int32_t& usuario, std::string& nome, std::string& senha,
                          int32_t& privilegio, bool& habilitado) override {
    return Com("SdkGetNextUserInfo", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      if (cursorUsuario_ >= usuariosLidos_.size()) return Falha(codigo::kNaoEncontrado);
      const UsuarioVirtual& u = usuariosLidos_[cursorUsuario_++];
      usuario = std::stoi(u.id);
      nome = u.nome, senha = u.senha, privilegio = u.privilegio, habilitado = u.habilitado;
      return true;
    });
  }
  bool SdkSetUserInfoWithPis(int32_t, const std::string& usuario, const std::string& nome,
                             const std::string& senha, int32_t privilegio, bool habilitado,
                             const std::string& pis, const std::string& cpf) override {
    return Com("SdkSetUserInfoWithPis", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (usuario.empty() || !PisValido(pis)) return Falha(codigo::kArgumentoInvalido);
      const std::string cartao = std::exchange(cartaoPendente_, std::string());
      return Resultado(CadastroVirtual::Grava(d, usuario, [&](UsuarioVirtual& u) {
        u.nome = nome, u.senha = senha, u.privilegio = privilegio, u.habilitado = habilitado;
        u.pis = pis, u.cpf = cpf, u.cartao = cartao;
      }));
    });
  }
  bool SdkGetNextUserInfoWithPis(int32_t, std::string& usuario, std::string& nome,
                                 std::string& senha, int32_t& privilegio, bool& habilitado,
                                 std::string& pis, std::string& cpf) override {
    return Com("SdkGetNextUserInfoWithPis", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (cursorUsuario_ >= usuariosLidos_.size()) return Falha(codigo::kNaoEncontrado);
      const UsuarioVirtual& u = usuariosLidos_[cursorUsuario_++];
      usuario = u.id, nome = u.nome, senha = u.senha, privilegio = u.privilegio;
      habilitado = u.habilitado, pis = u.pis, cpf = u.cpf;
      return true;
    });
  }
  bool SdkQueryUserInfo(int32_t, std::string& nome, std::string& senha, int32_t& privilegio,
                        bool& habilitado) override {
    return Com("SdkQueryUserInfo", [&](DispositivoVirtual& d) {
      for (const auto& [id, u] : d.usuarios_)
        if (u.nome == nome) {
          senha = u.senha, privilegio = u.privilegio, habilitado = u.habilitado;
          return true;
        }
      return Falha(codigo::kNaoEncontrado);
    });
  }
  bool SdkSetCardNumber(const std::string& cartao) override {
    return Com("SdkSetCardNumber", [&](DispositivoVirtual&) {
      cartaoPendente_ = cartao;
      return true;
    });
  }
  bool SdkGetUserCardByTextId(int32_t, const std::string& usuario, std::string& cartao) override {
    return Com("SdkGetUserCardByTextId", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      const auto u = d.usuarios_.find(usuario);
      if (u == d.usuarios_.end()) return Falha(codigo::kNaoEncontrado);
      cartao = u->second.cartao;
      return true;
    });
  }
  bool SdkDeleteEnrollData(int32_t, int32_t usuario, int32_t, int32_t dado) override {
    return Com("SdkDeleteEnrollData", [&](DispositivoVirtual& d) {
      return Resultado(CadastroVirtual::Apaga(d, std::to_string(usuario), dado));
    });
  }
  bool SdkDeleteEnrollDataByTextId(int32_t, const std::string& usuario, int32_t dado) override {
    return Com("SdkDeleteEnrollDataByTextId", [&](DispositivoVirtual& d) {
      return Resultado(CadastroVirtual::Apaga(d, usuario, dado));
    });
  }
  bool SdkGetUserTemplate(int32_t, int32_t usuario, int32_t dedo, std::string& texto,
                          int32_t& tamanho) override {
    return Com("SdkGetUserTemplate", [&](DispositivoVirtual& d) {
      return Resultado(
          CadastroVirtual::LeTemplate(d, std::to_string(usuario), dedo, texto, tamanho));
    });
  }
  bool SdkSetUserTemplate(int32_t, int32_t usuario, int32_t dedo,
                          const std::string& texto) override {
    return Com("SdkSetUserTemplate", [&](DispositivoVirtual& d) {
      // The fingerprint model stores only converted templates.
      if (texto.rfind("V10:", 0) != 0) return Falha(codigo::kArgumentoInvalido);
      return Resultado(CadastroVirtual::GravaTemplate(d, std::to_string(usuario), dedo, texto));
    });
  }
  bool SdkDeleteUserTemplate(int32_t, int32_t usuario, int32_t dedo) override {
    return Com("SdkDeleteUserTemplate", [&](DispositivoVirtual& d) {
      return Resultado(CadastroVirtual::ApagaTemplate(d, std::to_string(usuario), dedo));
    });
  }
  bool SdkGetUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo, int32_t& flag,
                                  std::string& texto, int32_t& tamanho) override {
    return Com("SdkGetUserTemplateByTextId", [&](DispositivoVirtual& d) {
      if (!Resultado(CadastroVirtual::LeTemplate(d, usuario, dedo, texto, tamanho))) return false;
      flag = 1;
      return true;
    });
  }
  bool SdkSetUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo, int32_t,
                                  const std::string& texto) override {
    return Com("SdkSetUserTemplateByTextId", [&](DispositivoVirtual& d) {
      if (!ConverteTemplateVirtual(texto)) return Falha(codigo::kArgumentoInvalido);
      return Resultado(CadastroVirtual::GravaTemplate(d, usuario, dedo, texto));
    });
  }
  bool SdkDeleteUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo) override {
    return Com("SdkDeleteUserTemplateByTextId", [&](DispositivoVirtual& d) {
      return Resultado(CadastroVirtual::ApagaTemplate(d, usuario, dedo));
    });
  }
  bool SdkConvertTemplate(const std::string& entrada, std::string& saida,
                          int32_t& tamanho) override {
    // A computation of the SDK itself: no clock, no link needed.
    return ConverteTemplateSdk(entrada, saida, tamanho, ultimoErro_);
  }

 private:
  bool Conecta(std::shared_ptr<DispositivoVirtual> d) {
    dispositivo_.reset();
    if (!d) {
      ultimoErro_ = codigo::kLinkPerdido;
      return false;
    }
    {
      std::lock_guard l(d->mutex_);
      auto it = d->falhas_.find("SdkConnectNetwork");
      if (it != d->falhas_.end() && !it->second.lanca) {
        ultimoErro_ = it->second.codigo;
        if (it->second.vezes > 0 && --it->second.vezes == 0) d->falhas_.erase(it);
        return false;
      }
      geracao_ = d->geracaoLink_;
      ++d->conexoes_;
      log_.NoFim(*d);
    }
    modeloDoLink_ = d->Modelo();
    dispositivo_ = std::move(d);
    ultimoErro_ = codigo::kSucesso;
    return true;
  }

  bool Falha(int32_t c) {
    ultimoErro_ = c;
    return false;
  }
  bool Resultado(int32_t c) { return c == codigo::kSucesso || Falha(c); }

  template <class F>
  bool Com(const char* operacao, F&& corpo) {
    std::shared_ptr<DispositivoVirtual> d = dispositivo_;
    if (!d) return Falha(codigo::kLinkPerdido);
    int32_t espera = 0;
    std::function<void(int32_t)> funcaoEspera;
    {
      std::lock_guard l(d->mutex_);
      espera = d->lentidaoMs_;
      funcaoEspera = d->espera_;
    }
    if (espera > 0) {
      if (funcaoEspera)
        funcaoEspera(espera);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(espera));
    }
    std::lock_guard l(d->mutex_);
    const int32_t recusa = d->Admite(operacao, true, geracao_);
    if (recusa != codigo::kSucesso) return Falha(recusa);
    ultimoErro_ = codigo::kSucesso;
    try {
      return corpo(*d);
    } catch (const FalhaDeGravacao& f) {
      return Falha(f.codigo);  // journaled before applied: nothing changed
    }
  }

  std::shared_ptr<DispositivoVirtual> dispositivo_;
  uint64_t geracao_ = 0;
  std::optional<EModeloRelogio> modeloDoLink_;  // as the clock of the last link opened says
  int32_t ultimoErro_ = codigo::kSucesso;
  LeituraDoLogVirtual log_;
  std::vector<UsuarioVirtual> usuariosLidos_;
  size_t cursorUsuario_ = 0;
  std::string cartaoPendente_;
};

std::shared_ptr<CZKEM> CriaSdkVirtual() { return std::make_shared<SdkVirtual>(); }

std::shared_ptr<CZKEM> CriaSdkVirtualConectado(std::shared_ptr<DispositivoVirtual> d) {
  auto s = std::make_shared<SdkVirtual>();
  s->ConectaDireto(std::move(d));
  return s;
}

FabricaCZKEM FabricaVirtual() {
  return [] { return CriaSdkVirtual(); };
}

}  // namespace quorvel::sdk
