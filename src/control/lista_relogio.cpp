#include "quorvel/lista_relogio.h"

namespace quorvel {

namespace {
constexpr std::string_view kClasse = "ListaRelogio";
}

void ListaRelogio::Add(const std::shared_ptr<Relogio>& parRelogio,
                       const std::shared_ptr<CZKEM>& parCZKEM) {
  if (!parRelogio) LancaObjetoNaoDefinido();
  const Relogio& r = *parRelogio;
  if (r.Codigo() <= 0) LancaErro(erro::kCodigoRelogioAusente, kClasse, "Add");
  if (r.TipoConexao() == ConexaoIP && r.IP().empty())
    LancaErro(erro::kEnderecoIpAusente, kClasse, "Add");
  if (r.TipoConexao() == ConexaoSerial && r.PortaSerial() < 1)
    LancaErro(erro::kPortaSerialAusente, kClasse, "Add");
  std::string chave = std::to_string(r.Codigo());
  if (ExisteNaColecao(itens_, chave)) LancaErro(erro::kRelogioRepetido, kClasse, "Add");
  EnvolveErro(kClasse, "Add", [&] {
    auto entrada = std::make_shared<RelogioCZKEM>();
    entrada->Relogio(parRelogio);
    entrada->CZKEM(parCZKEM);
    itens_.Add(std::move(entrada), std::move(chave));
  });
}

std::shared_ptr<RelogioCZKEM> ListaRelogio::Item(int32_t parIndex) const {
  return EnvolveErro(kClasse, "Item", [&] { return itens_.Item(parIndex); });
}

std::shared_ptr<RelogioCZKEM> ListaRelogio::ItemByCodRelogio(
    std::string_view parCodigoRelogio) const {
  const auto* item = itens_.Procura(parCodigoRelogio);
  return item ? *item : nullptr;
}

void ListaRelogio::Remove(std::string_view parCodigoRelogio) {
  try {
    itens_.Remove(parCodigoRelogio);
  } catch (...) {
    LancaErro(erro::kRemocaoRelogio, kClasse, "Remove", DescricaoDaExcecaoAtual());
  }
}

}  // namespace quorvel
