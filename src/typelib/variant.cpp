#include "quorvel/variant.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "control/interno.h"
#include "quorvel/erro.h"

namespace quorvel {

namespace {

template <class... F>
struct Visitante : F... {
  using F::operator()...;
};
template <class... F>
Visitante(F...) -> Visitante<F...>;

// Numbers round half to even on narrowing, as the platform does.
double ComoNumero(const Variant::Valor& v) {
  return std::visit(
      Visitante{
          [](const Variant::Vazio&) { return 0.0; },
          [](const Variant::Ausente&) -> double { LancaTiposIncompativeis("argumento omitido"); },
          [](bool b) { return b ? -1.0 : 0.0; }, [](int16_t i) { return static_cast<double>(i); },
          [](int32_t i) { return static_cast<double>(i); }, [](double d) { return d; },
          [](const std::string& s) -> double {
            std::string t = s;
            for (auto& c : t)
              if (c == ',') c = '.';
            char* fim = nullptr;
            const double d = std::strtod(t.c_str(), &fim);
            while (fim && (*fim == ' ' || *fim == '\t')) ++fim;
            if (t.empty() || !fim || *fim != '\0' || !std::isfinite(d))
              LancaTiposIncompativeis("\"" + s.substr(0, 64) + "\" não é um número");
            return d;
          },
          [](const DataHora& d) { return d.ParaDias(); },
          [](const RefObjeto&) -> double { LancaTiposIncompativeis("um objeto não é um número"); }},
      v);
}

}  // namespace

bool Variant::ParaBooleano() const {
  if (auto* s = std::get_if<std::string>(&valor_)) {
    if (*s == "True" || *s == "Verdadeiro" || *s == "true") return true;
    if (*s == "False" || *s == "Falso" || *s == "false") return false;
  }
  return ComoNumero(valor_) != 0.0;
}

int16_t Variant::ParaInteiro16() const {
  const double d = std::nearbyint(ComoNumero(valor_));
  if (d < std::numeric_limits<int16_t>::min() || d > std::numeric_limits<int16_t>::max())
    LancaEstouro();
  return static_cast<int16_t>(d);
}

int32_t Variant::ParaInteiro32() const {
  const double d = std::nearbyint(ComoNumero(valor_));
  if (d < std::numeric_limits<int32_t>::min() || d > std::numeric_limits<int32_t>::max())
    LancaEstouro();
  return static_cast<int32_t>(d);
}

double Variant::ParaDuplo() const { return ComoNumero(valor_); }

std::string Variant::ParaTexto() const {
  return std::visit(
      Visitante{[](const Vazio&) { return std::string(); },
                [](const Ausente&) -> std::string { LancaTiposIncompativeis("argumento omitido"); },
                [](bool b) { return std::string(b ? "True" : "False"); },
                [](int16_t i) { return std::to_string(i); },
                [](int32_t i) { return std::to_string(i); },
                [](double d) {
                  char t[32];
                  std::snprintf(t, sizeof t, "%.15g", d);
                  return std::string(t);
                },
                [](const std::string& s) { return s; },
                [](const DataHora& d) { return d.FormataBrasileiro(); },
                [](const RefObjeto&) -> std::string {
                  LancaTiposIncompativeis("um objeto não é um texto");
                }},
      valor_);
}

DataHora Variant::ParaData() const {
  if (auto* d = std::get_if<DataHora>(&valor_)) return *d;
  if (auto* s = std::get_if<std::string>(&valor_)) return DataHora::DeTexto(*s);
  return DataHora::DeDias(ComoNumero(valor_));
}

}  // namespace quorvel
