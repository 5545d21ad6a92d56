#include "quorvel/documentos.h"

#include <algorithm>

namespace quorvel::documentos {

namespace {

bool SoAlgarismos(std::string_view t, size_t tamanho) {
  return t.size() == tamanho &&
         std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool UmSoAlgarismo(std::string_view t) {
  return std::all_of(t.begin(), t.end(), [&](char c) { return c == t.front(); });
}

// Check digit by weights, modulus 11: 11 - rest, with 10 and 11 written as 0.
int Digito(std::string_view t, const int* pesos, size_t n) {
  int soma = 0;
  for (size_t i = 0; i < n; ++i) soma += (t[i] - '0') * pesos[i];
  const int dv = 11 - soma % 11;
  return dv >= 10 ? 0 : dv;
}

constexpr int kPesosPis[10] = {3, 2, 9, 8, 7, 6, 5, 4, 3, 2};

}  // namespace

bool PisValido(std::string_view pis) {
  return SoAlgarismos(pis, 11) && !UmSoAlgarismo(pis) &&
         Digito(pis, kPesosPis, 10) == pis[10] - '0';
}

bool CpfValido(std::string_view cpf) {
  static constexpr int kPrimeiro[9] = {10, 9, 8, 7, 6, 5, 4, 3, 2};
  static constexpr int kSegundo[10] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2};
  return SoAlgarismos(cpf, 11) && !UmSoAlgarismo(cpf) &&
         Digito(cpf, kPrimeiro, 9) == cpf[9] - '0' && Digito(cpf, kSegundo, 10) == cpf[10] - '0';
}

bool CnpjValido(std::string_view cnpj) {
  static constexpr int kPrimeiro[12] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  static constexpr int kSegundo[13] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  return SoAlgarismos(cnpj, 14) && !UmSoAlgarismo(cnpj) &&
         Digito(cnpj, kPrimeiro, 12) == cnpj[12] - '0' &&
         Digito(cnpj, kSegundo, 13) == cnpj[13] - '0';
}

bool CeiValido(std::string_view cei) {
  // Weights 7 4 1 8 5 2 1 6 3 7 4; the units and the tens of the sum added; the check digit is
  // ten minus the units of that, 10 written as 0.
  static constexpr int kPesos[11] = {7, 4, 1, 8, 5, 2, 1, 6, 3, 7, 4};
  if (!SoAlgarismos(cei, 12) || UmSoAlgarismo(cei)) return false;
  int soma = 0;
  for (size_t i = 0; i < 11; ++i) soma += (cei[i] - '0') * kPesos[i];
  const int dv = (10 - (soma % 10 + soma / 10 % 10) % 10) % 10;
  return dv == cei[11] - '0';
}

std::string SoDigitos(std::string_view texto) {
  std::string r;
  for (char c : texto) {
    if (c >= '0' && c <= '9')
      r += c;
    else if (c != '.' && c != '-' && c != '/' && c != ' ')
      return std::string(texto);
  }
  return r;
}

std::string ComDigitoPis(std::string_view dezDigitos) {
  return std::string(dezDigitos) + static_cast<char>('0' + Digito(dezDigitos, kPesosPis, 10));
}

}  // namespace quorvel::documentos
