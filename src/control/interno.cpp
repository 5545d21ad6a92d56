// The private services of control/interno.h: clock addresses, reopening a link and the
// waits after a lost one, the errors they raise, numeric text and clock date conversions.
#include "control/interno.h"

#include <cmath>
#include <limits>

namespace quorvel::interno {

EnderecoRede EnderecoDe(const std::string& ip) {
  EnderecoRede e{ip, kPortaRede};
  size_t doisPontos = std::string::npos;
  if (!ip.empty() && ip.front() == '[') {
    const size_t fecha = ip.find(']');
    if (fecha == std::string::npos) return e;
    if (fecha + 1 < ip.size() && ip[fecha + 1] == ':') doisPontos = fecha + 1;
    e.host = ip.substr(1, fecha - 1);
    if (doisPontos == std::string::npos) return e;
  } else {
    doisPontos = ip.find(':');
    // A bare IPv6 address has several colons and no port.
    if (doisPontos == std::string::npos || ip.find(':', doisPontos + 1) != std::string::npos)
      return e;
    e.host = ip.substr(0, doisPontos);
  }
  const std::string porta = ip.substr(doisPontos + 1);
  int32_t valor = 0;
  bool valida = !porta.empty() && porta.size() <= 5;
  for (char c : porta) {
    if (c < '0' || c > '9') valida = false;
    if (valida) valor = valor * 10 + (c - '0');
  }
  // Anything that is not a port leaves the text whole: the SDK then says what it makes of it.
  if (!valida || valor < 1 || valor > 65535) return {ip, kPortaRede};
  e.porta = valor;
  return e;
}

bool ConectaRede(CZKEM& sdk, const std::string& ip) {
  const EnderecoRede e = EnderecoDe(ip);
  return sdk.SdkConnectNetwork(e.host, e.porta);
}

bool ReabreConexao(const RelogioCZKEM& entrada) {
  const Relogio& r = *entrada.Relogio();
  CZKEM& sdk = *entrada.CZKEM();
  // A serial clock reopened over the network to its empty address could never come back.
  if (r.TipoConexao() == ConexaoSerial)
    return sdk.SdkConnectSerial(r.PortaSerial(), r.Codigo(), kBaudSerial);
  return ConectaRede(sdk, r.IP());
}

int32_t UltimoErro(CZKEM& sdk) {
  int32_t codigo = 0;
  sdk.SdkGetLastError(codigo);
  return codigo;
}

bool ReabreAposQueda(Host& host, const RelogioCZKEM& entrada) {
  host.Espera(1000);
  host.Cede();
  entrada.CZKEM()->SdkDisconnect();
  host.Espera(250);
  const bool aberta = ReabreConexao(entrada);
  host.Espera(250);
  return aberta;
}

void LancaRelogioInacessivel(int16_t codigo, std::string_view metodo) {
  LancaErro(erro::kRelogioDesconectado, kClasseControle, metodo, std::to_string(codigo));
}

namespace {
int32_t AnoComJanela(int32_t ano, const ConfiguracaoRegional& regional) {
  if (ano >= 0 && ano <= 99) return ano <= regional.limiteSeculo ? 2000 + ano : 1900 + ano;
  return ano;
}
}  // namespace

DataHora DataHoraDoRelogio(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                           int32_t segundo, const ConfiguracaoRegional& regional) {
  return DataHora::DePartes(AnoComJanela(ano, regional), mes, dia, hora, minuto, segundo);
}

bool DataHoraDoRelogioValida(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                             int32_t segundo, const ConfiguracaoRegional& regional) {
  return DataHora::PartesValidas(AnoComJanela(ano, regional), mes, dia, hora, minuto, segundo);
}

void LancaModeloNaoSuportado(std::string_view metodo) {
  LancaErro(erro::kModeloNaoSuportado, kClasseControle, metodo);
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
