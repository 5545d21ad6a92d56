#include "sessao.h"

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
  switch (m) {
    case EModeloRelogio_Quorvel:
      return "quorvel";
    case EModeloRelogio_Tarvenix:
      return "tarvenix";
  }
  return std::to_string(static_cast<int32_t>(m));
}

DataHora DataHoraDe(const std::string& texto, const std::string& opcao) {
  DataHora d;
  if (!DataHora::TentaDeTexto(texto, ConfiguracaoRegional{}, d))
    throw ErroDeUso("data e hora inválida em " + opcao + ": \"" + texto +
                    "\" (use dd/mm/aaaa hh:mm:ss).");
  return d;
}

bool Sessao::Interrompido() { return g_interrompido != 0; }

Sessao::Sessao(const Opcoes& o) {
  if (auto f = o.Valor("--formato")) formato_ = FormatoDe(*f);
  const bool temEndereco = o.Tem("--ip") || o.Tem("--serial");
  if (o.Tem("--relogios") && (temEndereco || o.Tem("--relogio")))
    throw ErroDeUso("use --relogios ou --relogio, não os dois.");
  if (temEndereco && !o.Tem("--relogio"))
    throw ErroDeUso("--ip e --serial precisam de --relogio CÓDIGO.");
  if (o.Tem("--ip") && o.Tem("--serial")) throw ErroDeUso("use --ip ou --serial, não os dois.");

  if (o.Tem("--relogios")) {
    relogios_ = LeRelogios(*o.Valor("--relogios"));
  } else if (temEndereco) {
    auto r = std::make_shared<Relogio>();
    r->Codigo(static_cast<int16_t>(o.Numero("--relogio", 1, 32767)));
    if (o.Tem("--serial")) {
      r->TipoConexao(ConexaoSerial);
      r->PortaSerial(static_cast<int16_t>(o.Numero("--serial", 1, 32767)));
    } else {
      r->IP(o.Obrigatorio("--ip"));
    }
    r->ModeloRelogio(o.Tem("--modelo") ? ModeloDe(*o.Valor("--modelo")) : EModeloRelogio_Quorvel);
    relogios_.push_back(r);
  } else {
    if (o.Tem("--modelo")) ModeloDe(*o.Valor("--modelo"));  // still reject a bad model
    // Embedded virtual clocks: every command works on a fresh machine.
    const EModeloRelogio modelos[] = {EModeloRelogio_Quorvel, EModeloRelogio_Tarvenix};
    for (int i = 0; i < 2; ++i) {
      auto d = std::make_shared<sdk::DispositivoVirtual>(modelos[i]);
      sdk::SemeiaExemplo(*d);
      sdk::RedeVirtual::Instancia().Publica(kEnderecoEmbutido[i], 4370, d);
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
  }

  // Embedded clocks live in this process; any other clock is reached over the network.
  sdk::OpcoesRede rede;
  rede.chave = o.Valor("--chave").value_or("");
  controle_ = std::make_unique<ComunicacaoZK>(
      loop_, embutidos_.empty() ? sdk::FabricaRede(rede) : sdk::FabricaVirtual());
  for (const auto& r : relogios_) controle_->AddRelogio(r);

  g_loop = &loop_;
  std::signal(SIGINT, AoInterromper);
  std::signal(SIGTERM, AoInterromper);
  // Ctrl-C during a collection reaches the control at its next yield.
  vigia_ = loop_.CriaTimer([this] {
    if (g_interrompido) controle_->CancelaColeta();
  });
  vigia_->Intervalo(20);
  vigia_->Habilitado(true);
}

Sessao::~Sessao() {
  vigia_.reset();
  controle_.reset();
  for (const auto& r : relogios_)
    if (r->IP().rfind("embutido-", 0) == 0) sdk::RedeVirtual::Instancia().Retira(r->IP(), 4370);
  g_loop = nullptr;
}

void Sessao::Conecta() {
  int16_t pendente = 0;
  bool respondeu = false, conectou = false;
  controle_->Eventos().RelogioConectado = [&](int16_t c) {
    if (c == pendente) respondeu = conectou = true;
  };
  controle_->Eventos().ErroConexaoRelogio = [&](int16_t c) {
    if (c == pendente) respondeu = true;
  };
  for (const auto& r : relogios_) {
    pendente = r->Codigo();
    respondeu = conectou = false;
    controle_->ConectarRelogio(pendente);
    loop_.RodaAte([&] { return respondeu; }, std::chrono::seconds(30));
    if (Interrompido()) throw ErroDeConexao("interrompido pelo usuário.");
    if (!conectou) {
      const std::string onde = r->TipoConexao() == ConexaoSerial
                                   ? "porta serial " + std::to_string(r->PortaSerial())
                                   : r->IP() + ":4370";
      throw ErroDeConexao("não foi possível conectar ao relógio " + std::to_string(pendente) +
                          " (" + onde + ").");
    }
  }
  controle_->Eventos().RelogioConectado = nullptr;
  controle_->Eventos().ErroConexaoRelogio = nullptr;
}

}  // namespace ponto
