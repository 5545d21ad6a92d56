#include "quorvel/data_hora.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "quorvel/erro.h"

namespace quorvel {

namespace {

constexpr int64_t kSegundosPorDia = 86400;

// Days between 1970-01-01 and the given civil date (proleptic Gregorian).
constexpr int64_t DiasDesdeEpoca(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr int64_t kDiaZero = DiasDesdeEpoca(1899, 12, 30);

void CivilDeDias(int64_t z, int32_t& y, int32_t& m, int32_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int32_t>(yoe + era * 400 + (m <= 2));
}

bool Bissexto(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t DiasNoMes(int32_t y, int32_t m) {
  static constexpr std::array<int32_t, 12> kDias = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Bissexto(y) ? 29 : kDias[static_cast<size_t>(m - 1)];
}

// The day (floor) and the second within it; before the zero date the day is negative and
// the second still counts forward from midnight.
std::pair<int64_t, int64_t> DiaESegundo(int64_t segundos) {
  int64_t dias = segundos / kSegundosPorDia;
  int64_t resto = segundos % kSegundosPorDia;
  if (resto < 0) {
    resto += kSegundosPorDia;
    --dias;
  }
  return {dias, resto};
}

// Seconds since the zero date of a date and time already known to be valid.
int64_t SegundosDe(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                   int32_t segundo) {
  // Punches come in runs of the same day: remember the last day's count.
  thread_local int32_t ultimoAno = 0, ultimoMes = 0, ultimoDia = 0;
  thread_local int64_t ultimosDias = 0;
  if (ano != ultimoAno || mes != ultimoMes || dia != ultimoDia) {
    ultimosDias = DiasDesdeEpoca(ano, mes, dia) - kDiaZero;
    ultimoAno = ano, ultimoMes = mes, ultimoDia = dia;
  }
  return ultimosDias * kSegundosPorDia + hora * 3600 + minuto * 60 + segundo;
}

// One number of a date or time text, with how many digits it was written with.
struct Numero {
  int32_t valor = 0;
  int32_t digitos = 0;
};

bool EhDigito(char c) { return c >= '0' && c <= '9'; }
bool EhEspaco(char c) { return c == ' ' || c == '\t'; }

// Reads up to `max` numbers separated by any of `seps` (one separator between numbers).
// Stops at the first character that is neither a digit nor one of `seps`.
size_t LeNumeros(std::string_view t, size_t pos, std::string_view seps, Numero* saida, size_t max,
                 size_t& quantos, char& separador) {
  quantos = 0;
  separador = 0;
  while (quantos < max) {
    Numero n;
    while (pos < t.size() && EhDigito(t[pos])) {
      if (++n.digitos > 4) return std::string_view::npos;  // no calendar part needs more
      n.valor = n.valor * 10 + (t[pos] - '0');
      ++pos;
    }
    if (n.digitos == 0) return std::string_view::npos;
    saida[quantos++] = n;
    if (pos < t.size() && seps.find(t[pos]) != std::string_view::npos && quantos < max) {
      // All separators of a date must be the same character.
      if (separador != 0 && t[pos] != separador) return std::string_view::npos;
      separador = t[pos];
      ++pos;
      continue;
    }
    break;
  }
  return pos;
}

int32_t AnoComJanela(const Numero& n, const ConfiguracaoRegional& r) {
  if (n.digitos <= 2) return n.valor <= r.limiteSeculo ? 2000 + n.valor : 1900 + n.valor;
  return n.valor;
}

// The two shapes clocks deliver all day long, "yyyy-MM-dd hh:mm:ss" and "dd/MM/yyyy hh:mm:ss",
// read without the general scanner. Returns false when the text has another shape.
bool InterpretaFormaFixa(std::string_view t, const ConfiguracaoRegional& regional, DataHora& saida,
                         bool& valida) {
  if (t.size() != 19 || t[10] != ' ' || t[13] != ':' || t[16] != ':') return false;
  auto d2 = [&](size_t i) -> int32_t {
    const char a = t[i], b = t[i + 1];
    if (!EhDigito(a) || !EhDigito(b)) return -1;
    return (a - '0') * 10 + (b - '0');
  };
  int32_t ano, mes, dia;
  if (t[4] == '-' && t[7] == '-') {
    const int32_t alto = d2(0), baixo = d2(2);
    if (alto < 0 || baixo < 0) return false;
    ano = alto * 100 + baixo;
    mes = d2(5);
    dia = d2(8);
  } else if (t[2] == '/' && t[5] == '/' && regional.ordem != OrdemData::AnoMesDia) {
    const int32_t alto = d2(6), baixo = d2(8);
    if (alto < 0 || baixo < 0) return false;
    ano = alto * 100 + baixo;
    dia = d2(0);
    mes = d2(3);
    if (regional.ordem == OrdemData::MesDiaAno) std::swap(dia, mes);
  } else {
    return false;
  }
  const int32_t hora = d2(11), minuto = d2(14), segundo = d2(17);
  if (mes < 0 || dia < 0 || hora < 0 || minuto < 0 || segundo < 0) return false;
  valida = DataHora::PartesValidas(ano, mes, dia, hora, minuto, segundo);
  if (valida) saida = DataHora::DeSegundos(SegundosDe(ano, mes, dia, hora, minuto, segundo));
  return true;
}

bool Interpreta(std::string_view t, const ConfiguracaoRegional& regional, DataHora& saida) {
  bool valida = false;
  if (InterpretaFormaFixa(t, regional, saida, valida)) return valida;
  while (!t.empty() && EhEspaco(t.front())) t.remove_prefix(1);
  while (!t.empty() && EhEspaco(t.back())) t.remove_suffix(1);
  if (t.empty()) return false;

  Numero primeiros[3];
  size_t quantos = 0;
  char separador = 0;
  size_t pos = LeNumeros(t, 0, "/-.:", primeiros, 3, quantos, separador);
  if (pos == std::string_view::npos) return false;

  int32_t ano = 1899, mes = 12, dia = 30, hora = 0, minuto = 0, segundo = 0;

  if (separador == ':') {
    // Time only: "h:m" or "h:m:s" gives the zero date.
    if (quantos < 2 || pos != t.size()) return false;
    hora = primeiros[0].valor;
    minuto = primeiros[1].valor;
    segundo = quantos == 3 ? primeiros[2].valor : 0;
    if (primeiros[0].digitos > 2 || primeiros[1].digitos > 2 ||
        (quantos == 3 && primeiros[2].digitos > 2))
      return false;
  } else {
    if (quantos != 3) return false;
    const Numero& a = primeiros[0];
    const Numero& b = primeiros[1];
    const Numero& c = primeiros[2];
    if (a.digitos >= 3 || regional.ordem == OrdemData::AnoMesDia) {
      ano = AnoComJanela(a, regional);
      mes = b.valor;
      dia = c.valor;
      if (b.digitos > 2 || c.digitos > 2) return false;
    } else {
      if (a.digitos > 2 || b.digitos > 2) return false;
      ano = AnoComJanela(c, regional);
      if (regional.ordem == OrdemData::MesDiaAno) {
        mes = a.valor;
        dia = b.valor;
      } else {
        dia = a.valor;
        mes = b.valor;
      }
    }
    if (pos < t.size()) {
      // A time follows after blanks (or the ISO 'T').
      if (t[pos] == 'T' || t[pos] == 't') {
        ++pos;
      } else {
        if (!EhEspaco(t[pos])) return false;
        while (pos < t.size() && EhEspaco(t[pos])) ++pos;
      }
      Numero hms[3];
      size_t n = 0;
      char sep = 0;
      size_t fim = LeNumeros(t, pos, ":", hms, 3, n, sep);
      if (fim != t.size() || n < 2) return false;
      for (size_t i = 0; i < n; ++i)
        if (hms[i].digitos > 2) return false;
      hora = hms[0].valor;
      minuto = hms[1].valor;
      segundo = n == 3 ? hms[2].valor : 0;
    }
  }
  if (!DataHora::PartesValidas(ano, mes, dia, hora, minuto, segundo)) return false;
  saida = DataHora::DeSegundos(SegundosDe(ano, mes, dia, hora, minuto, segundo));
  return true;
}

// A date and time of six numbers as `formato` lays them out (never longer than 31 characters).
std::string SeisCampos(const char* formato, int a, int b, int c, int d, int e, int f) {
  char texto[32];
  std::snprintf(texto, sizeof texto, formato, a, b, c, d, e, f);
  return texto;
}

}  // namespace

bool DataHora::PartesValidas(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                             int32_t segundo) noexcept {
  if (ano < 100 || ano > 9999) return false;
  if (mes < 1 || mes > 12) return false;
  if (dia < 1 || dia > DiasNoMes(ano, mes)) return false;
  if (hora < 0 || hora > 23 || minuto < 0 || minuto > 59 || segundo < 0 || segundo > 59)
    return false;
  return true;
}

DataHora DataHora::DePartes(int32_t ano, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
                            int32_t segundo) {
  if (!PartesValidas(ano, mes, dia, hora, minuto, segundo)) {
    char texto[96];
    std::snprintf(texto, sizeof texto, "%d/%d/%d %d:%d:%d não é uma data e hora válida", dia, mes,
                  ano, hora, minuto, segundo);
    LancaTiposIncompativeis(texto);
  }
  return DeSegundos(SegundosDe(ano, mes, dia, hora, minuto, segundo));
}

DataHora DataHora::DeTexto(std::string_view texto, const ConfiguracaoRegional& regional) {
  DataHora d;
  if (!Interpreta(texto, regional, d)) {
    std::string detalhe = "\"";
    detalhe.append(texto.substr(0, 64)).append("\" não é uma data e hora válida");
    LancaTiposIncompativeis(detalhe);
  }
  return d;
}

bool DataHora::TentaDeTexto(std::string_view texto, const ConfiguracaoRegional& regional,
                            DataHora& saida) noexcept {
  return Interpreta(texto, regional, saida);
}

PartesDataHora DataHora::Partes() const {
  const auto [dias, resto] = DiaESegundo(segundos_);
  PartesDataHora p;
  CivilDeDias(dias + kDiaZero, p.ano, p.mes, p.dia);
  p.hora = static_cast<int32_t>(resto / 3600);
  p.minuto = static_cast<int32_t>(resto / 60 % 60);
  p.segundo = static_cast<int32_t>(resto % 60);
  return p;
}

double DataHora::ParaDias() const {
  // Before the zero date the platform keeps the day negative and the time positive.
  const auto [dias, resto] = DiaESegundo(segundos_);
  const double fracao = static_cast<double>(resto) / kSegundosPorDia;
  return dias < 0 ? static_cast<double>(dias) - fracao : static_cast<double>(dias) + fracao;
}

DataHora DataHora::DeDias(double dias) {
  if (!std::isfinite(dias) || std::fabs(dias) > 3e6) LancaEstouro();
  const double inteiro = std::trunc(dias);
  const double fracao = std::fabs(dias - inteiro);
  int64_t segundosDoDia = static_cast<int64_t>(std::llround(fracao * kSegundosPorDia));
  // The integer part is the day and the magnitude of the fraction the time, on both sides of
  // the zero date.
  const int64_t dia = static_cast<int64_t>(inteiro);
  return DeSegundos(dia * kSegundosPorDia + segundosDoDia);
}

std::string DataHora::FormataIso() const {
  const PartesDataHora p = Partes();
  return SeisCampos("%04d-%02d-%02d %02d:%02d:%02d", p.ano, p.mes, p.dia, p.hora, p.minuto,
                    p.segundo);
}

std::string DataHora::FormataBrasileiro() const {
  const PartesDataHora p = Partes();
  return SeisCampos("%02d/%02d/%04d %02d:%02d:%02d", p.dia, p.mes, p.ano, p.hora, p.minuto,
                    p.segundo);
}

}  // namespace quorvel
