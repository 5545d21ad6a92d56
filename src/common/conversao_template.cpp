#include "quorvel/sdk/conversao_template.h"

#include "quorvel/codigos.h"

namespace quorvel::sdk {

std::optional<std::string> ConverteTemplateVirtual(const std::string& texto) {
  if (texto.size() < 4) return std::nullopt;
  for (char c : texto)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
          c == '/' || c == '='))
      return std::nullopt;
  return "V10:" + texto;
}

bool ConverteTemplateSdk(const std::string& entrada, std::string& saida, int32_t& tamanho,
                         int32_t& ultimoErro) {
  auto convertido = ConverteTemplateVirtual(entrada);
  if (!convertido) {
    ultimoErro = codigo::kArgumentoInvalido;
    return false;
  }
  saida = std::move(*convertido);
  tamanho = static_cast<int32_t>(saida.size());
  ultimoErro = codigo::kSucesso;
  return true;
}

}  // namespace quorvel::sdk
