#include "sessao.h"

#include <algorithm>
#include <csignal>

#include "arquivos.h"
#include "quorvel/sdk/sdk_rede.h"

namespace ponto {

using namespace quorvel;

namespace {

volatile std::sig_atomic_t g_interrompido = 0;
EventLoop* g_loop = nullptr;

void AoInterromper(int) {
  g_interrompido = 1;
  if (g_loop) g_loop->Interrompe();
}

constexpr const char* kEnderecoEmbutido[] = {"embutido-1", "embutido-2"};

}  // namespace

std::string NomeModelo(EModeloRelogio m) {
  const std::string_view nome = NomeDoModelo(m);
  return nome.empty() ? std::to_string(static_cast<int32_t>(m)) : std::string(nome);
}

DataHora DataHoraDe(const std::string& texto, const std::string& opcao) {
  DataHora d;
  if (!DataHora::TentaDeTexto(texto, ConfiguracaoRegional{}, d))
    throw ErroDeUso("data e hora inválida em " + opcao + ": \"" + texto +
                    "\" (use dd/mm/aaaa hh:mm:ss).");
  return d;
}

bool Sessao::Interrompido() { return g_interrompido != 0; }

Sessao::Sessao(const Opcoes& o, size_t relogiosPorControle) {
  // First: Ctrl-C also ends a wait for the embedded clocks' lock.
  std::signal(SIGINT, AoInterromper);
  std::signal(SIGTERM, AoInterromper);
  if (auto f = o.Valor("--formato")) formato_ = FormatoDe(*f);
  bom_ = o.Tem("--bom");
  const bool temEndereco = o.Tem("--ip") || o.Tem("--serial");
  if (o.Tem("--relogios") && temEndereco)
    throw ErroDeUso("use --relogios ou --relogio com --ip/--serial, não os dois.");
  if (temEndereco && !o.Tem("--relogio"))
    throw ErroDeUso("--ip e --serial precisam de --relogio CÓDIGO.");
  if (o.Tem("--ip") && o.Tem("--serial")) throw ErroDeUso("use --ip ou --serial, não os dois.");

  const std::string chavePadrao = o.Valor("--chave").value_or("");
  std::vector<std::string> chaves;  // one per clock in relogios_
  if (o.Tem("--relogios")) {
    // --relogio N with a clocks file: that one clock of the file.
    std::optional<long long> escolhido;
    if (o.Tem("--relogio")) escolhido = o.Numero("--relogio", 1, 32767);
    for (auto& item : LeRelogios(*o.Valor("--relogios"))) {
      if (escolhido && item.relogio->Codigo() != *escolhido) continue;
      if (!item.modeloInformado) modeloDoRelogio_.insert(item.relogio->Codigo());
      relogios_.push_back(item.relogio);
      chaves.push_back(item.chave.value_or(chavePadrao));
    }
    if (escolhido && relogios_.empty())
      throw ErroDeUso("o relógio " + std::to_string(*escolhido) + " não está em " +
                      *o.Valor("--relogios") + ".");
  } else if (temEndereco) {
    auto r = std::make_shared<Relogio>();
    r->Codigo(static_cast<int16_t>(o.Numero("--relogio", 1, 32767)));
    if (o.Tem("--serial")) {
      r->TipoConexao(ConexaoSerial);
      r->PortaSerial(PortaSerialDe(o.Obrigatorio("--serial"), "--serial"));
    } else {
      const std::string ip = o.Obrigatorio("--ip");
      ConfereEndereco(ip, "--ip");
      r->IP(ip);
    }
    // Left out, the clock's own announcement decides when it connects.
    r->ModeloRelogio(o.Tem("--modelo") ? ModeloDe(*o.Valor("--modelo")) : EModeloRelogio_Quorvel);
    if (!o.Tem("--modelo")) modeloDoRelogio_.insert(r->Codigo());
    relogios_.push_back(r);
  } else {
    if (o.Tem("--modelo")) ModeloDe(*o.Valor("--modelo"));  // still reject a bad model
    // Embedded virtual clocks: every command works on a fresh machine.
    const EModeloRelogio modelos[] = {EModeloRelogio_Quorvel, EModeloRelogio_Tarvenix};
    for (int i = 0; i < 2; ++i) {
      auto d = std::make_shared<sdk::DispositivoVirtual>(modelos[i]);
      d->DefineIdentificacaoRep(sdk::IdentificacaoPadrao(i + 1));
      auto r = std::make_shared<Relogio>();
      r->Codigo(static_cast<int16_t>(i + 1));
      r->IP(kEnderecoEmbutido[i]);
      r->ModeloRelogio(modelos[i]);
      relogios_.push_back(r);
      embutidos_.push_back(d);
    }
    if (o.Tem("--relogio")) {
      const auto codigo = o.Numero("--relogio", 1, 2);
      relogios_ = {relogios_[static_cast<size_t>(codigo - 1)]};
      embutidos_ = {embutidos_[static_cast<size_t>(codigo - 1)]};
    }
    // Their state from the last run (the sample data the first time), before anyone sees them.
    std::vector<std::pair<int, std::shared_ptr<sdk::DispositivoVirtual>>> abertos;
    for (size_t i = 0; i < relogios_.size(); ++i)
      abertos.emplace_back(relogios_[i]->Codigo(), embutidos_[i]);
    try {
      estado_ = std::make_unique<EstadoDosEmbutidos>(abertos, &Sessao::Interrompido);
    } catch (const std::runtime_error& e) {
      throw ErroDeConexao(e.what());
    }
    for (size_t i = 0; i < relogios_.size(); ++i)
      sdk::RedeVirtual::Instancia().Publica(relogios_[i]->IP(), 4370, embutidos_[i]);
  }

  // Embedded clocks live in this process; any other clock is reached over the network.
  FabricaCZKEM fabrica = sdk::FabricaVirtual();
  if (embutidos_.empty())
    fabrica = [this] {
      sdk::OpcoesRede rede;
      rede.chave = chaveDoProximo_;
      return sdk::CriaSdkRede(std::move(rede));
    };
  const size_t faixas =
      relogiosPorControle == 0
          ? 1
          : std::max<size_t>(1, (relogios_.size() + relogiosPorControle - 1) / relogiosPorControle);
  for (size_t f = 0; f < faixas; ++f)
    controles_.push_back(std::make_unique<ComunicacaoZK>(loop_, fabrica));
  for (size_t i = 0; i < relogios_.size(); ++i) {
    chaveDoProximo_ = i < chaves.size() ? chaves[i] : chavePadrao;
    controles_[i % faixas]->AddRelogio(relogios_[i]);
    faixaDe_[relogios_[i]->Codigo()] = i % faixas;
  }

  g_loop = &loop_;
  // Ctrl-C during a collection reaches the control at its next yield.
  vigia_ = loop_.CriaTimer([this] {
    if (g_interrompido)
      for (auto& c : controles_) c->CancelaColeta();
  });
  vigia_->Intervalo(20);
  vigia_->Habilitado(true);
}

Sessao::~Sessao() {
  vigia_.reset();
  controles_.clear();
  estado_.reset();  // what the embedded clocks hold now is on disk before the lock is let go
  for (const auto& r : relogios_)
    if (r->IP().rfind("embutido-", 0) == 0) sdk::RedeVirtual::Instancia().Retira(r->IP(), 4370);
  g_loop = nullptr;
}

std::string Sessao::Onde(const Relogio& r) {
  if (r.TipoConexao() == ConexaoSerial) {
    if (auto dispositivo = DispositivoSerial(r.PortaSerial())) return "serial " + *dispositivo;
    return "porta serial " + std::to_string(r.PortaSerial());
  }
  const std::string& ip = r.IP();
  if (!ip.empty() && ip.front() == '[')
    return ip.find("]:") != std::string::npos ? ip : ip + ":4370";
  const auto doisPontos = std::count(ip.begin(), ip.end(), ':');
  if (doisPontos == 1) return ip;                              // host:porta
  return doisPontos > 1 ? "[" + ip + "]:4370" : ip + ":4370";  // bare IPv6, or a plain host
}

std::vector<std::pair<int16_t, std::string>> Sessao::ConectaAlcancaveis() {
  std::vector<std::pair<int16_t, std::string>> falhas;
  int16_t pendente = 0;
  bool respondeu = false, conectou = false;
  for (auto& controle : controles_) {
    controle->Eventos().RelogioConectado = [&](int16_t c) {
      if (c == pendente) respondeu = conectou = true;
    };
    controle->Eventos().ErroConexaoRelogio = [&](int16_t c) {
      if (c == pendente) respondeu = true;
    };
  }
  for (const auto& r : relogios_) {
    pendente = r->Codigo();
    for (;;) {
      respondeu = conectou = false;
      Controle(pendente).ConectarRelogio(pendente);
      loop_.RodaAte([&] { return respondeu; }, std::chrono::seconds(30));
      if (Interrompido()) throw ErroDeConexao("interrompido pelo usuário.");
      if (conectou) break;
      bool tentarDeNovo = false;
      const std::string motivo = MotivoDaFalha(pendente, tentarDeNovo);
      if (tentarDeNovo) continue;  // now with the model the clock announced
      falhas.emplace_back(pendente, motivo);
      break;
    }
  }
  for (auto& controle : controles_) {
    controle->Eventos().RelogioConectado = nullptr;
    controle->Eventos().ErroConexaoRelogio = nullptr;
  }
  return falhas;
}

std::string Sessao::MotivoDaFalha(int16_t codigo, bool& tentarDeNovo) {
  tentarDeNovo = false;
  const auto entrada = Controle(codigo).Relogios().ItemByCodRelogio(std::to_string(codigo));
  const std::string texto = std::to_string(codigo);
  if (!entrada) return "o relógio " + texto + " não está registrado.";
  const Relogio& r = *entrada->Relogio();
  CZKEM& sdk = *entrada->CZKEM();
  // The SDK object says why: a key refused is not an unreachable clock, nor is a clock that
  // answered as the other model. The refusal's code first: asking anything else clears it.
  int32_t motivo = 0;
  sdk.SdkGetLastError(motivo);
  if (motivo == sdk::codigo::kChaveIncorreta)
    return "relógio " + texto + " (" + Onde(r) + "): chave de comunicação recusada.";
  if (motivo == sdk::codigo::kTentativasDeChave)
    return "relógio " + texto + " (" + Onde(r) +
           "): chave não conferida: chaves incorretas demais deste computador no último minuto;"
           " tente de novo em um minuto.";
  if (motivo == sdk::codigo::kChaveExigida)
    return "relógio " + texto + " (" + Onde(r) +
           "): o relógio exige uma chave de comunicação (--chave).";
  int32_t anunciado = 0;
  if (sdk.SdkGetDeviceModel(codigo, anunciado) &&
      anunciado != static_cast<int32_t>(r.ModeloRelogio()) &&
      (anunciado == EModeloRelogio_Quorvel || anunciado == EModeloRelogio_Tarvenix)) {
    const auto modelo = static_cast<EModeloRelogio>(anunciado);
    if (modeloDoRelogio_.erase(codigo) > 0) {
      entrada->Relogio()->ModeloRelogio(modelo);
      tentarDeNovo = true;
      return {};
    }
    return "o relógio " + texto + " é do modelo " + NomeModelo(modelo) + "; foi registrado como " +
           NomeModelo(r.ModeloRelogio()) + ".";
  }
  return "não foi possível conectar ao relógio " + texto + " (" + Onde(r) + ").";
}

void Sessao::Conecta() {
  const auto falhas = ConectaAlcancaveis();
  if (!falhas.empty()) throw ErroDeConexao(falhas.front().second);
}

}  // namespace ponto
