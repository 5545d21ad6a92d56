#include "quorvel/lista_relogio.h"

namespace quorvel {

namespace {
constexpr std::string_view kClasse = "ListaRelogio";
}

void ListaRelogio::Add(const std::shared_ptr<Relogio>& parRelogio,
                       const std::shared_ptr<CZKEM>& parCZKEM) {
  if (!parRelogio) LancaObjetoNaoDefinido();
  const Relogio& r = *parRelogio;
  if (r.Codigo() <= 0) LancaErro(-31, "O código do relógio deve ser informado.", kClasse, "Add");
  if (r.TipoConexao() == ConexaoIP && r.IP().empty())
    LancaErro(-32, "O endereço IP para comunicação com o relógio deve ser informado.", kClasse,
              "Add");
  if (r.TipoConexao() == ConexaoSerial && r.PortaSerial() < 1)
    LancaErro(-32, "A porta serial para comunicação com o relógio deve ser informada.", kClasse,
              "Add");
  std::string chave = std::to_string(r.Codigo());
  if (ExisteNaColecao(itens_, chave))
    LancaErro(-24, "Este relógio já foi adicionado a coleção.", kClasse, "Add");
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
    LancaErro(-34, "Não foi possível remover o relógio. - " + DescricaoDaExcecaoAtual(), kClasse,
              "Remove");
  }
}

}  // namespace quorvel
