// A calendar date with a time of day to the second, and its conversion from text.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// The six calendar numbers of a date-time.
struct PartesDataHora {
  int32_t ano = 1899, mes = 12, dia = 30, hora = 0, minuto = 0, segundo = 0;
  bool operator==(const PartesDataHora&) const = default;
};

// Order in which a text names day, month and year when it does not start with a 4-digit year.
enum class OrdemData { DiaMesAno, MesDiaAno, AnoMesDia };

// The host's regional settings used to read date texts. The default is Brazilian.
struct ConfiguracaoRegional {
  OrdemData ordem = OrdemData::DiaMesAno;
  // Two-digit years up to this value belong to the 2000s, later ones to the 1900s.
  int32_t limiteSeculo = 29;
};

// A date and time to the second. Its zero is 30 December 1899 00:00:00; the valid range is
// the years 100 to 9999.
class DataHora {
 public:
  constexpr DataHora() = default;

  // From the six calendar numbers; raises the type-mismatch error (13) when they do not name
  // a real date and time (month 13, 31 April, hour 24, year outside 100..9999 ...).
  static DataHora DePartes(int32_t ano, int32_t mes, int32_t dia, int32_t hora = 0,
                           int32_t minuto = 0, int32_t segundo = 0);
  // Same check without raising.
  static bool PartesValidas(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                            int32_t segundo) noexcept;

  // Reads a text under the regional settings: "d/m/y h:m:s", "d/m/y", "h:m[:s]" (the zero
  // date), and year-first texts such as "2024-03-05 17:04:09". Separators '/', '-' and '.'
  // are accepted in the date. Raises the type-mismatch error (13) for anything that does not
  // name a real date and time; a day and month are never swapped to make a text fit.
  static DataHora DeTexto(std::string_view texto, const ConfiguracaoRegional& regional = {});
  // Same, answering false instead of raising.
  static bool TentaDeTexto(std::string_view texto, const ConfiguracaoRegional& regional,
                           DataHora& saida) noexcept;

  // Seconds since the zero date-time, and back.
  static constexpr DataHora DeSegundos(int64_t segundos) {
    DataHora d;
    d.segundos_ = segundos;
    return d;
  }
  constexpr int64_t Segundos() const { return segundos_; }

  // The platform's floating representation: days since the zero date, the time as fraction.
  double ParaDias() const;
  static DataHora DeDias(double dias);

  PartesDataHora Partes() const;

  // "yyyy-MM-dd hh:mm:ss" (24-hour clock).
  std::string FormataIso() const;
  // "dd/MM/yyyy hh:mm:ss", the way people in Brazil read it.
  std::string FormataBrasileiro() const;

  constexpr auto operator<=>(const DataHora&) const = default;

 private:
  int64_t segundos_ = 0;
};

}  // namespace quorvel
