// The template conversion SdkConvertTemplate performs. It runs on the host, not on a clock, so
// every backend gives the same answer for the same text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvel::sdk {

// The deterministic template conversion of the virtual clock: "V10:" + text for a text of
// letters, digits, '+', '/', '=' (at least 4 characters); nothing otherwise.
std::optional<std::string> ConverteTemplateVirtual(const std::string& texto);
// SdkConvertTemplate on that conversion, for every backend: fills the outputs and the last
// error (-5 for a text that does not convert, outputs untouched).
bool ConverteTemplateSdk(const std::string& entrada, std::string& saida, int32_t& tamanho,
                         int32_t& ultimoErro);

}  // namespace quorvel::sdk
