#include <cmath>
#include <limits>

#include "control/interno.h"

namespace quorvel::interno {

void ReabreConexao(const RelogioCZKEM& entrada) {
  const Relogio& r = *entrada.Relogio();
  CZKEM& sdk = *entrada.CZKEM();
  // A serial clock reopened over the network to its empty address could never come back.
  if (r.TipoConexao() == ConexaoSerial)
    sdk.SdkConnectSerial(r.PortaSerial(), r.Codigo(), kBaudSerial);
  else
    sdk.SdkConnectNetwork(r.IP(), kPortaRede);
}

namespace {
int32_t AnoComJanela(int32_t ano) {
  if (ano >= 0 && ano <= 99)
    return ano <= ConfiguracaoRegional{}.limiteSeculo ? 2000 + ano : 1900 + ano;
  return ano;
}
}  // namespace

DataHora DataHoraDoRelogio(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                           int32_t segundo) {
  return DataHora::DePartes(AnoComJanela(ano), mes, dia, hora, minuto, segundo);
}

bool DataHoraDoRelogioValida(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                             int32_t segundo) {
  return DataHora::PartesValidas(AnoComJanela(ano), mes, dia, hora, minuto, segundo);
}

void LancaModeloNaoSuportado(std::string_view metodo) {
  LancaErro(-47, "Método não suportado pelo modelo de relógio informado.", kClasseControle, metodo);
}

int32_t TextoParaInteiro32(std::string_view texto) {
  auto espaco = [](char c) { return c == ' ' || c == '\t'; };
  while (!texto.empty() && espaco(texto.front())) texto.remove_prefix(1);
  while (!texto.empty() && espaco(texto.back())) texto.remove_suffix(1);
  size_t i = 0;
  bool negativo = false;
  if (i < texto.size() && (texto[i] == '+' || texto[i] == '-')) negativo = texto[i++] == '-';
  // Digits kept as a wide integer; anything longer than 18 digits overflows anyway.
  long double valor = 0;
  size_t digitos = 0;
  while (i < texto.size() && texto[i] >= '0' && texto[i] <= '9') {
    valor = valor * 10 + (texto[i++] - '0');
    ++digitos;
  }
  long double fracao = 0, escala = 1;
  size_t digitosFracao = 0;
  if (i < texto.size() && (texto[i] == '.' || texto[i] == ',')) {
    ++i;
    while (i < texto.size() && texto[i] >= '0' && texto[i] <= '9') {
      if (digitosFracao < 18) {
        escala /= 10;
        fracao += (texto[i] - '0') * escala;
      }
      ++i;
      ++digitosFracao;
    }
  }
  if (i != texto.size() || digitos + digitosFracao == 0) {
    std::string detalhe = "\"";
    detalhe.append(texto.substr(0, 64)).append("\" não é um número");
    LancaTiposIncompativeis(detalhe);
  }
  long double total = valor + fracao;
  // Half to even, as the platform rounds.
  long double arredondado = std::nearbyint(total);
  if (negativo) arredondado = -arredondado;
  if (arredondado < std::numeric_limits<int32_t>::min() ||
      arredondado > std::numeric_limits<int32_t>::max())
    LancaEstouro();
  return static_cast<int32_t>(arredondado);
}

}  // namespace quorvel::interno
