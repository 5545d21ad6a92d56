// The enumerations of the public interface; every value is a 32-bit integer.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

enum EModeloRelogio : int32_t { EModeloRelogio_Quorvel = 0, EModeloRelogio_Tarvenix = 1 };

// Each model's name as people, files and command lines write it.
struct NomeDeModelo {
  EModeloRelogio modelo;
  std::string_view nome;
};
inline constexpr NomeDeModelo kNomesDeModelo[] = {{EModeloRelogio_Quorvel, "quorvel"},
                                                  {EModeloRelogio_Tarvenix, "tarvenix"}};
// Nothing for a name of no model (names are lower case).
constexpr std::optional<EModeloRelogio> ModeloPorNome(std::string_view nome) {
  for (const auto& m : kNomesDeModelo)
    if (m.nome == nome) return m.modelo;
  return std::nullopt;
}
// Empty for a value of no model.
constexpr std::string_view NomeDoModelo(EModeloRelogio modelo) {
  for (const auto& m : kNomesDeModelo)
    if (m.modelo == modelo) return m.nome;
  return {};
}

enum ETipoConexao : int32_t { ConexaoIP = 0, ConexaoSerial = 1 };

enum EDiaDaSemana : int32_t {
  Domingo = 0,
  Segunda = 1,
  Terca = 2,
  Quarta = 3,
  Quinta = 4,
  Sexta = 5,
  Sabado = 6
};

enum ETipoDocumento : int32_t { CNPJ = 0, CPF = 1 };

enum EFalhaEnvioFuncionario : int32_t {
  RelogioRecusou = 0,
  RelogioRecusouTemplate = 1,
  NaoPossuiSenhaOuTemplate = 2
};

enum EDedoDigital : int32_t {
  MinimoEsquerdo = 0,
  AnularEsquerdo = 1,
  MedioEsquerdo = 2,
  IndicadorEsquerdo = 3,
  PolegarEsquerdo = 4,
  MinimoDireito = 5,
  AnularDireito = 6,
  MedioDireito = 7,
  IndicadorDireito = 8,
  PolegarDireito = 9
};

}  // namespace quorvel
