// The control frame: life cycle, clock lookup, the disconnected-clock guard, registration.
#include "quorvel/comunicacao_zk.h"

#include "control/interno.h"

namespace quorvel {

using interno::kClasseControle;

ComunicacaoZK::ComunicacaoZK(Host& host, FabricaCZKEM fabrica)
    : host_(host), fabrica_(std::move(fabrica)) {
  tmrConexao_ = host_.CriaTimer([this] { TickConexao(); });
  tmrConexao_->Intervalo(100);
  tmrMonitoracao_ = host_.CriaTimer([this] { TickMonitoracao(); });
  tmrMonitoracao_->Intervalo(200);
}

ComunicacaoZK::~ComunicacaoZK() { Encerra(); }

int32_t ComunicacaoZK::Encerra() noexcept {
  int32_t falhas = 0;
  const int32_t total = relogios_.Count();
  for (int32_t i = 1; i <= total; ++i) {
    try {
      const auto entrada = relogios_.Item(i);
      // Marked first: a clock whose disconnect fails is still not to be trusted as connected.
      entrada->Conectado(false);
      entrada->CZKEM()->SdkDisconnect();
    } catch (...) {
      ++falhas;
    }
  }
  return falhas;
}

void ComunicacaoZK::Redimensiona(int32_t, int32_t) {
  largura_ = 685;
  altura_ = 700;
}

void ComunicacaoZK::CancelaColeta() { cancelaColeta_ = true; }

std::shared_ptr<RelogioCZKEM> ComunicacaoZK::ObterRelogioCZKEM(int16_t codigo) const {
  auto entrada = relogios_.ItemByCodRelogio(std::to_string(codigo));
  if (!entrada) LancaErro(erro::kRelogioNaoRegistrado, kClasseControle, "ObterRelogioCZKEM");
  return entrada;
}

void ComunicacaoZK::GeraExcessaoSeRelogioDesconectado(int16_t codigo) const {
  if (!ObterRelogioCZKEM(codigo)->Conectado())
    interno::LancaRelogioInacessivel(codigo, "GeraExcessaoSeRelogioDesconectado");
}

std::shared_ptr<RelogioCZKEM> ComunicacaoZK::RelogioConectado(int16_t codigo) const {
  GeraExcessaoSeRelogioDesconectado(codigo);
  return ObterRelogioCZKEM(codigo);
}

// ---- Registration ----------------------------------------------------------------------
// Every entry gets an SDK object of its own from the factory. A registration that the
// registry rejects simply drops the object it made, and removing a clock releases exactly
// that clock's object, so the remaining clocks keep theirs.

void ComunicacaoZK::AddRelogio(const std::shared_ptr<Relogio>& parRelogio) {
  relogios_.Add(parRelogio, fabrica_());
}

void ComunicacaoZK::AddRelogioIP(int16_t parCodigo, const std::string& parIP,
                                 EModeloRelogio parModeloRelogio) {
  auto sdk = fabrica_();
  auto relogio = std::make_shared<Relogio>();
  relogio->TipoConexao(ConexaoIP);
  relogio->Codigo(parCodigo);
  relogio->IP(parIP);
  relogio->ModeloRelogio(parModeloRelogio);
  relogios_.Add(relogio, sdk);
}

void ComunicacaoZK::AddRelogioSerial(int16_t parCodigo, int16_t parPortaSerial) {
  auto sdk = fabrica_();
  auto relogio = std::make_shared<Relogio>();
  relogio->TipoConexao(ConexaoSerial);
  relogio->Codigo(parCodigo);
  relogio->PortaSerial(parPortaSerial);
  relogio->ModeloRelogio(EModeloRelogio_Quorvel);
  relogios_.Add(relogio, sdk);
}

void ComunicacaoZK::RemoverRelogio(int16_t parCodigoRelogio) {
  const auto entrada = ObterRelogioCZKEM(parCodigoRelogio);
  relogios_.Remove(std::to_string(entrada->Relogio()->Codigo()));
  // A clock registered later under this code may be another one: it starts afresh.
  cursores_.erase(parCodigoRelogio);
}

void ComunicacaoZK::RemoverTodosRelogios() {
  const int32_t total = relogios_.Count();
  for (int32_t i = 0; i < total; ++i) {
    const auto entrada = relogios_.Item(1);
    relogios_.Remove(std::to_string(entrada->Relogio()->Codigo()));
    cursores_.erase(entrada->Relogio()->Codigo());
  }
}

}  // namespace quorvel
