// The device SDK over a virtual clock: every CZKEM operation on the device's state.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include "quorvel/erro.h"
#include "quorvel/sdk/relogio_virtual.h"
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
      d.Anota({{"t", "en"}, {"v", habilita}});
      d.habilitado_ = habilita;
      return true;
    });
  }
  bool SdkRefreshData(int32_t) override {
    return Com("SdkRefreshData", [](DispositivoVirtual&) { return true; });
  }
  bool SdkGetDeviceStatus(int32_t, int32_t codigo, int32_t& valor) override {
    return Com("SdkGetDeviceStatus", [&](DispositivoVirtual& d) {
      switch (codigo) {
        case 1:
          valor = static_cast<int32_t>(
              std::count_if(d.usuarios_.begin(), d.usuarios_.end(),
                            [](const auto& u) { return u.second.privilegio >= 2; }));
          return true;
        case 2:
          valor = static_cast<int32_t>(d.usuarios_.size());
          return true;
        case 3:
          valor = static_cast<int32_t>(d.templates_.size());
          return true;
        case 4:
          valor = static_cast<int32_t>(
              std::count_if(d.usuarios_.begin(), d.usuarios_.end(),
                            [](const auto& u) { return !u.second.senha.empty(); }));
          return true;
        case 5:
          valor = 0;
          return true;  // no administrator-managed counter is kept
        case 6:
          valor = static_cast<int32_t>(d.log_.size());
          return true;
        case 7:
          valor = d.capacidades_.templates;
          return true;
        case 8:
          valor = d.capacidades_.usuarios;
          return true;
        case 9:
          valor = d.capacidades_.registros;
          return true;
        default:
          return Falha(codigo::kArgumentoInvalido);
      }
    });
  }
  bool SdkSetDeviceInfo(int32_t, int32_t item, int32_t valor) override {
    return Com("SdkSetDeviceInfo", [&](DispositivoVirtual& d) {
      const int32_t novo = item == 1 ? d.informacoes_[1] + 1 : valor;  // item 1 counts applies
      d.Anota({{"t", "in"}, {"k", item}, {"v", novo}});
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
      const DataHora novo = DataHora::DePartes(a, me, di, h, mi, s);
      const int64_t deslocamento = novo.Segundos() - d.fonteTempo_().Segundos();
      RegistroFiscalVirtual f;
      f.tipo = 4;
      f.ajustado = novo;
      d.RegistraFiscal(std::move(f), {{{"t", "tm"}, {"v", deslocamento}}});
      d.deslocamentoSegundos_ = deslocamento;
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
      d.Anota({{"t", "op"}, {"k", nome}, {"v", valor}});
      d.opcoes_[nome] = valor;
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
      d.Anota({{"t", "op"}, {"k", "~DaylightPeriod"}, {"v", periodo}});
      d.horarioVeraoInicio_ = inicio;
      d.horarioVeraoFim_ = fim;
      d.opcoes_["~DaylightPeriod"] = periodo;
      return true;
    });
  }
  bool SdkClearAllData(int32_t) override {
    return Com("SdkClearAllData", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      d.Anota({{"t", "ca"}});
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
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (tipo != 0 && tipo != 1) return Falha(codigo::kArgumentoInvalido);
      RegistroFiscalVirtual f;
      f.tipo = 2;
      f.empregador = {nome, documento, cei, endereco, tipo};
      d.RegistraFiscal(
          f,
          {{{"t", "em"}, {"n", nome}, {"d", documento}, {"c", cei}, {"e", endereco}, {"k", tipo}}});
      d.empregador_ = std::move(f.empregador);
      return true;
    });
  }

  bool LeParteDoAfd(const PedidoAfd& pedido, ParteAfd& parte) override {
    return Com("LeParteDoAfd", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      const auto dia = [](int32_t v) {
        return v == 0 || DataHora::PartesValidas(v / 10000, v / 100 % 100, v % 100, 0, 0, 0);
      };
      if (!dia(pedido.de) || !dia(pedido.ate) ||
          (pedido.de != 0 && pedido.ate != 0 && pedido.de > pedido.ate) || pedido.depois < 0 ||
          pedido.limite < 0)
        return Falha(codigo::kArgumentoInvalido);
      parte = d.ParteDoAfdSemTrava(pedido);
      return true;
    });
  }

  bool SdkReadAllLogs(int32_t) override {
    return Com("SdkReadAllLogs", [&](DispositivoVirtual& d) {
      // The fingerprint model hands out its whole log from the start; the register model
      // keeps walking from its read pointer.
      // The log as it is now, without copying it: its length and which log it is. The log
      // only grows until erased, and an erase changes its generation.
      if (d.modelo_ == EModeloRelogio_Quorvel) {
        limiteLido_ = d.log_.size();
        geracaoLida_ = d.geracaoLog_;
        cursorLog_ = 0;
      }
      return true;
    });
  }
  bool SdkGetNextLog(int32_t, int32_t& cartao, int32_t& valor, int32_t& modo,
                     std::string& texto) override {
    return Com("SdkGetNextLog", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      if (cursorLog_ >= limiteLido_ || geracaoLida_ != d.geracaoLog_ || cursorLog_ >= d.log_.size())
        return Falha(codigo::kNaoEncontrado);
      const MarcacaoVirtual& m = d.log_[cursorLog_++];
      cartao = m.cartao;
      valor = m.estado;
      modo = m.modo;
      texto = TextoMarcacao(m);
      return true;
    });
  }
  bool SdkGetNextNsrLog(int32_t, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                        int32_t& di, int32_t& h, int32_t& mi, int32_t& s) override {
    return Com("SdkGetNextNsrLog", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (cursorNsr_ >= d.log_.size()) return Falha(codigo::kNaoEncontrado);
      const MarcacaoVirtual& m = d.log_[cursorNsr_++];
      nsr = m.nsr;
      pis = m.pis;
      const PartesDataHora p = m.momento.Partes();
      a = p.ano, me = m.dataImpossivel ? 13 : p.mes, di = p.dia, h = p.hora, mi = p.minuto,
      s = p.segundo;
      return true;
    });
  }
  bool SdkSetLogPointer(int32_t, int32_t ponteiro) override {
    return Com("SdkSetLogPointer", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Tarvenix) return Falha(codigo::kNaoSuportado);
      if (ponteiro < 0) return Falha(codigo::kArgumentoInvalido);
      // Both pointer forms name the last record already collected: reading resumes after it.
      // From firmware 2.1.12 on it is an NSR, before that a record count; NSRs start at 1 and
      // are never erased, so both land on the same record here.
      size_t i = 0;
      if (PonteiroPorNsr(d.firmware_)) {
        while (i < d.log_.size() && std::stoll(d.log_[i].nsr) <= ponteiro) ++i;
      } else {
        i = std::min<size_t>(static_cast<size_t>(ponteiro), d.log_.size());
      }
      cursorNsr_ = i;
      return true;
    });
  }
  bool SdkClearLogs(int32_t) override {
    return Com("SdkClearLogs", [&](DispositivoVirtual& d) {
      if (d.modelo_ != EModeloRelogio_Quorvel) return Falha(codigo::kNaoSuportado);
      d.Anota({{"t", "cl"}});
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
      return Grava(d, id, [&](UsuarioVirtual& u) {
        u.nome = nome, u.senha = senha, u.privilegio = privilegio, u.habilitado = habilitado;
      });
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
      return Grava(d, usuario, [&](UsuarioVirtual& u) {
        u.nome = nome, u.senha = senha, u.privilegio = privilegio, u.habilitado = habilitado;
        u.pis = pis, u.cpf = cpf, u.cartao = cartao;
      });
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
    return Com("SdkDeleteEnrollData",
               [&](DispositivoVirtual& d) { return Apaga(d, std::to_string(usuario), dado); });
  }
  bool SdkDeleteEnrollDataByTextId(int32_t, const std::string& usuario, int32_t dado) override {
    return Com("SdkDeleteEnrollDataByTextId",
               [&](DispositivoVirtual& d) { return Apaga(d, usuario, dado); });
  }
  bool SdkGetUserTemplate(int32_t, int32_t usuario, int32_t dedo, std::string& texto,
                          int32_t& tamanho) override {
    return Com("SdkGetUserTemplate", [&](DispositivoVirtual& d) {
      return LeTemplate(d, std::to_string(usuario), dedo, texto, tamanho);
    });
  }
  bool SdkSetUserTemplate(int32_t, int32_t usuario, int32_t dedo,
                          const std::string& texto) override {
    return Com("SdkSetUserTemplate", [&](DispositivoVirtual& d) {
      // The fingerprint model stores only converted templates.
      if (texto.rfind("V10:", 0) != 0) return Falha(codigo::kArgumentoInvalido);
      return GravaTemplate(d, std::to_string(usuario), dedo, texto);
    });
  }
  bool SdkDeleteUserTemplate(int32_t, int32_t usuario, int32_t dedo) override {
    return Com("SdkDeleteUserTemplate", [&](DispositivoVirtual& d) {
      return ApagaTemplate(d, std::to_string(usuario), dedo);
      return true;
    });
  }
  bool SdkGetUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo, int32_t& flag,
                                  std::string& texto, int32_t& tamanho) override {
    return Com("SdkGetUserTemplateByTextId", [&](DispositivoVirtual& d) {
      if (!LeTemplate(d, usuario, dedo, texto, tamanho)) return false;
      flag = 1;
      return true;
    });
  }
  bool SdkSetUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo, int32_t,
                                  const std::string& texto) override {
    return Com("SdkSetUserTemplateByTextId", [&](DispositivoVirtual& d) {
      if (!ConverteTemplateVirtual(texto)) return Falha(codigo::kArgumentoInvalido);
      return GravaTemplate(d, usuario, dedo, texto);
    });
  }
  bool SdkDeleteUserTemplateByTextId(int32_t, const std::string& usuario, int32_t dedo) override {
    return Com("SdkDeleteUserTemplateByTextId", [&](DispositivoVirtual& d) {
      return ApagaTemplate(d, usuario, dedo);
      return true;
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
      // A new link reads register records from the end of the log: only new ones, unless
      // a pointer is set.
      cursorNsr_ = d->log_.size();
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

  template <class F>
  bool Grava(DispositivoVirtual& d, const std::string& id, F&& preenche) {
    auto it = d.usuarios_.find(id);
    UsuarioVirtual novo;
    if (it == d.usuarios_.end()) {
      if (static_cast<int64_t>(d.usuarios_.size()) >= d.capacidades_.usuarios)
        return Falha(codigo::kMemoriaCheia);
      novo.id = id;
    } else {
      novo = it->second;
    }
    const bool existia = it != d.usuarios_.end();
    preenche(novo);
    if (d.modelo_ == EModeloRelogio_Tarvenix) {
      // An employee included or changed is a fiscal record of its own.
      d.RegistraFiscal(RegistroDeEmpregado(existia ? 'A' : 'I', novo), {UsuarioJson(novo)});
    } else {
      d.AnotaUsuario(novo);
    }
    d.usuarios_[id] = std::move(novo);
    return true;
  }

  // A register clock's record of an employee included, changed or removed: by CPF, or by PIS
  // for an employee without one.
  static RegistroFiscalVirtual RegistroDeEmpregado(char operacao, const UsuarioVirtual& u) {
    RegistroFiscalVirtual f;
    f.tipo = 5;
    f.operacao = operacao;
    f.identificador = u.cpf.empty() ? u.pis : u.cpf;
    f.nome = u.nome;
    f.pis = u.pis;
    return f;
  }

  bool GravaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo,
                     const std::string& texto) {
    if (dedo < 0 || dedo > 9) return Falha(codigo::kArgumentoInvalido);
    if (!d.usuarios_.count(id)) return Falha(codigo::kNaoEncontrado);
    auto chave = std::make_pair(id, dedo);
    if (!d.templates_.count(chave) &&
        static_cast<int64_t>(d.templates_.size()) >= d.capacidades_.templates)
      return Falha(codigo::kMemoriaCheia);
    d.Anota({{"t", "tp"}, {"id", id}, {"d", dedo}, {"v", texto}});
    d.templates_[chave] = texto;
    return true;
  }

  bool ApagaTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo) {
    if (!d.templates_.count({id, dedo})) return Falha(codigo::kNaoEncontrado);
    d.Anota({{"t", "td"}, {"id", id}, {"d", dedo}});
    d.templates_.erase({id, dedo});
    return true;
  }

  bool LeTemplate(DispositivoVirtual& d, const std::string& id, int32_t dedo, std::string& texto,
                  int32_t& tamanho) {
    auto it = d.templates_.find({id, dedo});
    if (it == d.templates_.end()) return Falha(codigo::kNaoEncontrado);
    texto = it->second;
    tamanho = static_cast<int32_t>(texto.size());
    return true;
  }

  // Data numbers: 0 and 12 the whole user with its templates, 1..9 one finger (finger 0 goes
  // with the whole user), 10 the password, 11 every fingerprint.
  bool Apaga(DispositivoVirtual& d, const std::string& id, int32_t dado) {
    auto it = d.usuarios_.find(id);
    if (it == d.usuarios_.end()) return Falha(codigo::kNaoEncontrado);
    // Every record of the change is journaled together before any of it is applied.
    std::vector<nlohmann::json> registros;
    std::vector<int32_t> dedos;
    auto dedosDe = [&](int32_t de, int32_t ate) {
      for (int32_t f = de; f <= ate; ++f)
        if (d.templates_.count({id, f})) {
          dedos.push_back(f);
          registros.push_back({{"t", "td"}, {"id", id}, {"d", f}});
        }
    };
    if (dado == 0 || dado == 12) {
      dedosDe(0, 9);
      registros.push_back({{"t", "ud"}, {"id", id}});
    } else if (dado >= 1 && dado <= 9) {
      dedosDe(dado, dado);
    } else if (dado == 10) {
      UsuarioVirtual semSenha = it->second;
      semSenha.senha.clear();
      d.AnotaUsuario(semSenha);
      it->second = std::move(semSenha);
      return true;
    } else if (dado == 11) {
      dedosDe(0, 9);
    } else {
      return Falha(codigo::kArgumentoInvalido);
    }
    if ((dado == 0 || dado == 12) && d.modelo_ == EModeloRelogio_Tarvenix) {
      d.RegistraFiscal(RegistroDeEmpregado('E', it->second), std::move(registros));
    } else {
      d.AnotaVarios(registros);
    }
    for (int32_t f : dedos) d.templates_.erase({id, f});
    if (dado == 0 || dado == 12) d.usuarios_.erase(it);
    return true;
  }

  std::shared_ptr<DispositivoVirtual> dispositivo_;
  uint64_t geracao_ = 0;
  std::optional<EModeloRelogio> modeloDoLink_;  // as the clock of the last link opened says
  int32_t ultimoErro_ = codigo::kSucesso;
  size_t limiteLido_ = 0;
  uint64_t geracaoLida_ = 0;
  size_t cursorLog_ = 0;
  size_t cursorNsr_ = 0;
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
