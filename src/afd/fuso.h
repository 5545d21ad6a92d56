// The UTC offset of the fiscal file's date-times: a fixed one ("-0300") or a named zone of the
// system's time zone database ("America/Sao_Paulo"), whose offset is the one in force at each
// date-time's own instant — daylight saving of past years included.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/data_hora.h"

namespace quorvel::afd {

class Fuso {
 public:
  // "-0300" / "+0530" (hh <= 14, mm <= 59), or a zone name of the database. Nothing when the
  // text is neither; `motivo` then says why, in Portuguese.
  static std::optional<Fuso> De(std::string_view texto, std::string* motivo = nullptr);
  static Fuso Fixo(int minutos);
  // The zone named, read from `pasta` (the database's folder); for tests and odd systems.
  static std::optional<Fuso> DaPasta(const std::string& pasta, std::string_view nome,
                                     std::string* motivo = nullptr);

  // Minutes east of UTC in force at a local date-time (a clock's wall time). A wall time that
  // happens twice (the hour a summer time ends) takes the first, summer one; one that never
  // happens (the hour it starts) the offset in force just before.
  int MinutosNoLocal(DataHora local) const;
  // Minutes east of UTC in force at an instant (seconds since 1970-01-01 00:00 UTC).
  int MinutosEmUtc(int64_t utc) const;
  // As given: "-0300" or the zone's name.
  const std::string& Nome() const { return nome_; }

 private:
  // The POSIX rule a zone file ends with, for instants after its last listed change.
  struct Regra {
    struct Dia {
      char tipo = 'M';  // 'M' month.week.weekday, 'J' day 1..365 without 29 Feb, 'N' day 0..365
      int mes = 0, semana = 0, diaSemana = 0, dia = 0;
      int32_t hora = 7200;  // local seconds after midnight
    };
    int32_t padrao = 0, verao = 0;  // seconds east of UTC
    bool temVerao = false;
    Dia inicio, fim;
  };
  static std::optional<Regra> LeRegra(std::string_view texto);
  static int64_t InstanteDa(const Regra::Dia& d, int ano, int32_t deslocamento);
  int32_t SegundosEmUtc(int64_t utc) const;

  std::string nome_;
  int32_t fixo_ = 0;
  bool zona_ = false;
  std::vector<int64_t> transicoes_;  // UTC seconds, ascending
  std::vector<int32_t> depois_;      // the offset from each change on
  int32_t antes_ = 0;                // the offset before the first change
  std::optional<Regra> regra_;
};

}  // namespace quorvel::afd
