// Fixed-width records: every field is cut or padded to its width here, so a long name or a
// short document can never shift the fields after it.
#include "afd/afd.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace quorvel::afd {
namespace {

// The same bit-reflected CRC with different polynomial and start, a byte at a time from a table
// (a clock's file of a million records is some fifty million bytes).
struct TabelaCrc {
  std::array<uint16_t, 256> t{};
  constexpr explicit TabelaCrc(uint16_t polinomio) {
    for (unsigned b = 0; b < 256; ++b) {
      auto crc = static_cast<uint16_t>(b);
      for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ polinomio)
                        : static_cast<uint16_t>(crc >> 1);
      t[b] = crc;
    }
  }
};
constexpr TabelaCrc kKermit(0x8408), kModbus(0xA001);

uint16_t CrcRefletido(std::string_view bytes, const TabelaCrc& tabela, uint16_t inicio) {
  uint16_t crc = inicio;
  for (unsigned char b : bytes)
    crc = static_cast<uint16_t>((crc >> 8) ^ tabela.t[(crc ^ b) & 0xFF]);
  return crc;
}

// Left-aligned, space-filled, cut to `largura` (ISO-8859-1: one byte per character).
std::string Alfa(std::string_view texto, size_t largura) {
  std::string r = ParaLatin1(texto);
  r.resize(largura, ' ');
  return r;
}

std::string Digitos(std::string_view texto) {
  std::string r;
  for (char c : texto)
    if (c >= '0' && c <= '9') r += c;
  return r;
}

std::string Zeros(int64_t valor, int largura) {
  char texto[32];
  std::snprintf(texto, sizeof texto, "%0*lld", largura, static_cast<long long>(valor));
  return texto;
}

std::string Data(DataHora d) {  // AAAA-MM-dd
  const auto p = d.Partes();
  char texto[16];
  std::snprintf(texto, sizeof texto, "%04d-%02d-%02d", p.ano, p.mes, p.dia);
  return texto;
}

// AAAA-MM-ddThh:mm:00ZZZZZ: seconds are always written as 00.
std::string DataHoraFuso(DataHora d, const Fuso& fuso) {
  const auto p = d.Partes();
  char texto[32];
  std::snprintf(texto, sizeof texto, "%04d-%02d-%02dT%02d:%02d:00", p.ano, p.mes, p.dia, p.hora,
                p.minuto);
  return texto + TextoFuso(fuso.MinutosNoLocal(d));
}

std::string DiaMesAno(DataHora d) {
  const auto p = d.Partes();
  char texto[16];
  std::snprintf(texto, sizeof texto, "%02d%02d%04d", p.dia, p.mes, p.ano);
  return texto;
}

std::string HoraMinuto(DataHora d) {
  const auto p = d.Partes();
  char texto[8];
  std::snprintf(texto, sizeof texto, "%02d%02d", p.hora, p.minuto);
  return texto;
}

std::string ComCrc(std::string corpo, const Opcoes& o) {
  const uint16_t crc = o.crc == Crc::Kermit ? Crc16Kermit(corpo) : Crc16Modbus(corpo);
  char texto[8];
  std::snprintf(texto, sizeof texto, "%04X", crc);
  return corpo + texto;
}

// A CPF in an 11-position field: its digits, or blank.
std::string Cpf11(std::string_view cpf) { return Alfa(Digitos(cpf), 11); }

}  // namespace

uint16_t Crc16Kermit(std::string_view bytes) { return CrcRefletido(bytes, kKermit, 0x0000); }
uint16_t Crc16Modbus(std::string_view bytes) { return CrcRefletido(bytes, kModbus, 0xFFFF); }

std::optional<int> FusoDe(std::string_view t) {
  if (t.size() != 5 || (t[0] != '+' && t[0] != '-')) return std::nullopt;
  for (size_t i = 1; i < 5; ++i)
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
  const int h = (t[1] - '0') * 10 + (t[2] - '0'), m = (t[3] - '0') * 10 + (t[4] - '0');
  if (h > 14 || m > 59) return std::nullopt;
  return (t[0] == '-' ? -1 : 1) * (h * 60 + m);
}

std::string TextoFuso(int minutos) {
  const int a = minutos < 0 ? -minutos : minutos;
  char texto[16];
  std::snprintf(texto, sizeof texto, "%c%02d%02d", minutos < 0 ? '-' : '+', a / 60, a % 60);
  return texto;
}

std::string ParaLatin1(std::string_view utf8) {
  std::string r;
  r.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      r += static_cast<char>(c);
      ++i;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size() &&
               (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
      const unsigned v = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      r += v <= 0xFF ? static_cast<char>(v) : '?';
      i += 2;
    } else {
      // A longer sequence (outside ISO-8859-1) or a stray byte: one '?' for the character.
      r += '?';
      ++i;
      while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
    }
  }
  return r;
}

std::string DeLatin1(std::string_view latin1) {
  std::string r;
  r.reserve(latin1.size());
  for (char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      r += ch;
    } else {
      r += static_cast<char>(0xC0 | (c >> 6));
      r += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return r;
}

std::optional<DataHora> MomentoDoRegistro(std::string_view r) {
  // AAAA-MM-ddThh:mm:00ZZZZZ from position 11.
  if (r.size() < 34 || r[14] != '-' || r[17] != '-' || r[20] != 'T' || r[23] != ':') return {};
  int v[5] = {};
  const size_t inicio[5] = {10, 15, 18, 21, 24}, largura[5] = {4, 2, 2, 2, 2};
  for (int k = 0; k < 5; ++k)
    for (size_t i = inicio[k]; i < inicio[k] + largura[k]; ++i) {
      if (r[i] < '0' || r[i] > '9') return {};
      v[k] = v[k] * 10 + (r[i] - '0');
    }
  if (!DataHora::PartesValidas(v[0], v[1], v[2], v[3], v[4], 0)) return {};
  return DataHora::DePartes(v[0], v[1], v[2], v[3], v[4], 0);
}

std::string RegistroCabecalho(const Cabecalho& c, DataHora primeira, DataHora ultima,
                              const Opcoes& o) {
  const std::string tipo = c.empregadorCpf ? "2" : "1";
  if (o.leiaute == Leiaute::P1510)
    return "000000000"
           "1" +
           tipo + Alfa(Digitos(c.empregadorDocumento), 14) + Alfa(Digitos(c.cnoCaepf), 12) +
           Alfa(c.razaoSocial, 150) + Alfa(c.numeroFabricacao, 17) + DiaMesAno(primeira) +
           DiaMesAno(ultima) + DiaMesAno(c.geradoEm) + HoraMinuto(c.geradoEm);
  return ComCrc(
      "000000000"
      "1" +
          tipo + Alfa(Digitos(c.empregadorDocumento), 14) + Alfa(Digitos(c.cnoCaepf), 14) +
          Alfa(c.razaoSocial, 150) + Alfa(c.numeroFabricacao, 17) + Data(primeira) + Data(ultima) +
          DataHoraFuso(c.geradoEm, o.fuso) + "003" + (c.fabricanteCpf ? "2" : "1") +
          Alfa(Digitos(c.fabricanteDocumento), 14) + Alfa(c.modelo, 30),
      o);
}

std::string RegistroMarcacao(const Punch& p, const Opcoes& o) {
  if (o.leiaute == Leiaute::P1510)
    return Zeros(p.nsr, 9) + "3" + DiaMesAno(p.momento) + HoraMinuto(p.momento) + "0" +
           Alfa(Digitos(p.pis), 11);
  // The CPF is written from the left and the twelfth position left blank.
  return ComCrc(Zeros(p.nsr, 9) + "3" + DataHoraFuso(p.momento, o.fuso) + Alfa(Digitos(p.cpf), 12),
                o);
}

std::string RegistroEmpresa(int64_t nsr, DataHora momento, std::string_view responsavel,
                            const Empresa& e, const Opcoes& o) {
  // The responsible person's CPF sits in a 14-position field here (11 in types 4 and 5).
  return ComCrc(Zeros(nsr, 9) + "2" + DataHoraFuso(momento, o.fuso) +
                    Alfa(Digitos(responsavel), 14) + (e.cpf ? "2" : "1") +
                    Alfa(Digitos(e.documento), 14) + Alfa(Digitos(e.cnoCaepf), 14) +
                    Alfa(e.razaoSocial, 150) + Alfa(e.local, 100),
                o);
}

std::string RegistroAjuste(int64_t nsr, DataHora antes, DataHora depois,
                           std::string_view responsavel, const Opcoes& o) {
  return RegistroAjuste(nsr, antes, o.fuso, depois, o.fuso, responsavel, o);
}

std::string RegistroAjuste(int64_t nsr, DataHora antes, const Fuso& fusoAntes, DataHora depois,
                           const Fuso& fusoDepois, std::string_view responsavel, const Opcoes& o) {
  return ComCrc(Zeros(nsr, 9) + "4" + DataHoraFuso(antes, fusoAntes) +
                    DataHoraFuso(depois, fusoDepois) + Cpf11(responsavel),
                o);
}

std::string RegistroEmpregado(int64_t nsr, DataHora momento, char operacao, std::string_view cpf,
                              std::string_view nome, std::string_view responsavel,
                              const Opcoes& o) {
  // The four positions of "other identifying data" have no defined content: left blank.
  return ComCrc(Zeros(nsr, 9) + "5" + DataHoraFuso(momento, o.fuso) + std::string(1, operacao) +
                    Alfa(Digitos(cpf), 12) + Alfa(nome, 52) + std::string(4, ' ') +
                    Cpf11(responsavel),
                o);
}

std::string RegistroTrailer(const Contagem& c, const Opcoes& o) {
  const auto n = [](size_t v) { return Zeros(static_cast<int64_t>(v), 9); };
  if (o.leiaute == Leiaute::P1510)
    return "999999999" + n(c.empresa) + n(c.marcacoes) + n(c.ajustes) + n(c.empregados) + "9";
  return "999999999" + n(c.empresa) + n(c.marcacoes) + n(c.ajustes) + n(c.empregados) +
         n(c.eventos) + n(c.marcacoesRepP) + "9";
}

std::string RegistroAssinatura() { return Alfa("ASSINATURA_DIGITAL_EM_ARQUIVO_P7S", 100); }

std::string ComCrcRecalculado(std::string_view registro, const Opcoes& o) {
  if (registro.size() < 4) return std::string(registro);
  return ComCrc(std::string(registro.substr(0, registro.size() - 4)), o);
}

void Escreve(std::ostream& saida, const Cabecalho& c, const std::vector<Punch>& punches,
             const Opcoes& o, const std::vector<RegistroCarregado>& outros) {
  const bool comOutros = o.leiaute == Leiaute::Atual;
  DataHora primeira = c.geradoEm, ultima = c.geradoEm;
  bool algum = false;
  const auto conta = [&](DataHora d) {
    primeira = algum ? std::min(primeira, d) : d;
    ultima = algum ? std::max(ultima, d) : d;
    algum = true;
  };
  for (const auto& p : punches) conta(p.momento);
  if (comOutros)
    for (const auto& r : outros) conta(r.momento);
  saida << RegistroCabecalho(c, primeira, ultima, o) << "\r\n";
  Contagem contagem;
  contagem.marcacoes = punches.size();
  auto outro = outros.begin();
  const auto escreveOutrosAte = [&](int64_t nsr) {
    for (; comOutros && outro != outros.end() && outro->nsr < nsr; ++outro) {
      if (outro->registro.size() < 10) continue;
      const char tipo = outro->registro[9];
      if (tipo == '2') ++contagem.empresa;
      if (tipo == '4') ++contagem.ajustes;
      if (tipo == '5') ++contagem.empregados;
      saida << ComCrcRecalculado(outro->registro, o) << "\r\n";
    }
  };
  for (const auto& p : punches) {
    escreveOutrosAte(p.nsr);
    saida << RegistroMarcacao(p, o) << "\r\n";
  }
  escreveOutrosAte(INT64_MAX);
  saida << RegistroTrailer(contagem, o) << "\r\n";
  if (o.assinatura && o.leiaute == Leiaute::Atual) saida << RegistroAssinatura() << "\r\n";
}

}  // namespace quorvel::afd
