// Brazilian identifiers and their check digits: PIS (NIS/PASEP), CPF, CNPJ and CEI/CNO. The control
// itself leaves the decision to the clock; hosts check what a person typed before it is sent.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::documentos {

// Valid numbers only: the right count of digits, the check digits right, and not a run of one
// digit ("00000000000", which every check-digit rule accepts). Digits only: formatted input
// ("529.982.247-25") goes through SoDigitos first.
bool PisValido(std::string_view pis);    // 11 digits
bool CpfValido(std::string_view cpf);    // 11 digits
bool CnpjValido(std::string_view cnpj);  // 14 digits
// The employer's CEI, and the CNO (the register of works that took its place, of the same form):
// 12 digits, the last the check digit of the eleven before it.
bool CeiValido(std::string_view cei);

// The digits of a formatted number ("529.982.247-25" -> "52998224725"); the text unchanged
// when it holds anything other than digits and the usual separators (. - / and spaces).
std::string SoDigitos(std::string_view texto);

// The PIS made whole: ten digits and the check digit computed for them.
std::string ComDigitoPis(std::string_view dezDigitos);

}  // namespace quorvel::documentos
