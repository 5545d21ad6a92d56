// The fiscal punch file (AFD) of register-model clocks: record types 1 (header), 2 (employer),
// 3 (punch), 4 (clock set), 5 (employee) and 9 (trailer), fixed widths, ISO-8859-1, CR LF. The
// store's export and the virtual register clock's own file are written by the same code.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "afd/fuso.h"
#include "quorvel/data_hora.h"

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

// The employer as a type-2 record identifies it.
struct Empresa {
  bool cpf = false;  // id type 2 (CPF) instead of 1 (CNPJ)
  std::string documento, cnoCaepf, razaoSocial, local;
};

// How many records of each type a file holds, for its trailer.
struct Contagem {
  size_t empresa = 0, marcacoes = 0, ajustes = 0, empregados = 0, eventos = 0, marcacoesRepP = 0;
};

// Each record's text without CR LF, in ISO-8859-1, exactly the layout's width. The current
// layout only for types 2, 4 and 5. `responsavel`: the CPF of whoever made the change.
std::string RegistroCabecalho(const Cabecalho& c, DataHora primeira, DataHora ultima,
                              const Opcoes& o);
std::string RegistroEmpresa(int64_t nsr, DataHora momento, std::string_view responsavel,
                            const Empresa& e, const Opcoes& o);
std::string RegistroMarcacao(const Punch& p, const Opcoes& o);
std::string RegistroAjuste(int64_t nsr, DataHora antes, DataHora depois,
                           std::string_view responsavel, const Opcoes& o);
// A clock's move into or out of summer time: each side in the offset in force on it.
std::string RegistroAjuste(int64_t nsr, DataHora antes, const Fuso& fusoAntes, DataHora depois,
                           const Fuso& fusoDepois, std::string_view responsavel, const Opcoes& o);
// `operacao`: 'I' included, 'A' changed, 'E' removed.
std::string RegistroEmpregado(int64_t nsr, DataHora momento, char operacao, std::string_view cpf,
                              std::string_view nome, std::string_view responsavel, const Opcoes& o);
std::string RegistroTrailer(const Contagem& c, const Opcoes& o);
// The last line of a signed file: the signature itself travels apart, in a .p7s file.
std::string RegistroAssinatura();
// The record's CRC recomputed over its text as the options ask, for a record written
// elsewhere (a clock's, with the CRC it chose) and carried into this file.
std::string ComCrcRecalculado(std::string_view registro, const Opcoes& o);

// A record of type 2, 4 or 5 as a clock's own file wrote it (ISO-8859-1), carried into a file
// made elsewhere; its CRC is computed again as that file's options ask.
struct RegistroCarregado {
  int64_t nsr = 0;
  DataHora momento;
  std::string registro;
};

// The whole file: header, punches and carried records in NSR order, trailer, and the signature
// line when asked. `punches` and `outros` must each be sorted by NSR; the older layout has no
// place for `outros`.
void Escreve(std::ostream& saida, const Cabecalho& c, const std::vector<Punch>& punches,
             const Opcoes& o, const std::vector<RegistroCarregado>& outros = {});

// UTF-8 to ISO-8859-1; a character outside it becomes '?'. And back.
std::string ParaLatin1(std::string_view utf8);
std::string DeLatin1(std::string_view latin1);

// The date-time a record of the current layout gives first (positions 11 to 34), on the clock's
// own time; nothing for a text that is not one.
std::optional<DataHora> MomentoDoRegistro(std::string_view registro);

}  // namespace quorvel::afd
