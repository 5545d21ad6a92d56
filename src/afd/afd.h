// The fiscal punch file (AFD) of register-model clocks, written from stored punches: record
// types 1 (header), 3 (punch) and 9 (trailer), fixed widths, ISO-8859-1, CR LF.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/data_hora.h"
#include "afd/fuso.h"

namespace quorvel::afd {

// CRC-16/KERMIT (reflected 0x1021, init 0): "123456789" gives 0x2189.
uint16_t Crc16Kermit(std::string_view bytes);
// CRC-16/MODBUS (reflected 0x8005, init 0xFFFF): "123456789" gives 0x4B37.
uint16_t Crc16Modbus(std::string_view bytes);

enum class Leiaute {
  Atual,  // record 3 with CPF, date-times with the UTC offset, CRC-16 on records 1 to 5
  P1510,  // the older layout: PIS, ddmmaaaa / hhmm, no CRC
};
enum class Crc { Kermit, Modbus };

// Header fields the punches do not carry. Texts are UTF-8; documents digits only. A field left
// empty is written blank.
struct Cabecalho {
  bool empregadorCpf = false;  // id type 2 (CPF) instead of 1 (CNPJ)
  std::string empregadorDocumento, cnoCaepf, razaoSocial;
  std::string numeroFabricacao;
  bool fabricanteCpf = false;
  std::string fabricanteDocumento, modelo;
  DataHora geradoEm;  // in the file's zone (Opcoes::fuso)
};

struct Punch {
  int64_t nsr = 0;
  DataHora momento;  // the clock's local time
  std::string cpf;   // 11 digits (current layout)
  std::string pis;   // 11 digits (1510 layout)
};

struct Opcoes {
  Leiaute leiaute = Leiaute::Atual;
  Crc crc = Crc::Kermit;
  // The UTC offset of every date-time: the one in force at that date-time's own instant.
  Fuso fuso = Fuso::Fixo(-180);
  bool assinatura = false;  // the ASSINATURA_DIGITAL_EM_ARQUIVO_P7S placeholder line
};

// "-0300" for -180; nothing for a text that is not [+-]hhmm with hh <= 14, mm <= 59.
std::optional<int> FusoDe(std::string_view texto);
std::string TextoFuso(int minutos);

// Each record's text without CR LF, in ISO-8859-1, exactly the layout's width.
std::string RegistroCabecalho(const Cabecalho& c, DataHora primeira, DataHora ultima,
                              const Opcoes& o);
std::string RegistroMarcacao(const Punch& p, const Opcoes& o);
std::string RegistroTrailer(size_t marcacoes, const Opcoes& o);

// The whole file: header, punches in NSR order, trailer, and the signature line when asked.
// `punches` must be sorted by NSR.
void Escreve(std::ostream& saida, const Cabecalho& c, const std::vector<Punch>& punches,
             const Opcoes& o);

// UTF-8 to ISO-8859-1; a character outside it becomes '?'.
std::string ParaLatin1(std::string_view utf8);

}  // namespace quorvel::afd
