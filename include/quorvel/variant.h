// A late-bound value: what a host that binds by dispatch number passes and receives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "quorvel/data_hora.h"

namespace quorvel {

struct ClasseDespacho;

// A reference to an object of the library, with the class that knows how to dispatch on it.
struct RefObjeto {
  const ClasseDespacho* classe = nullptr;
  std::shared_ptr<void> objeto;
  bool operator==(const RefObjeto& o) const { return objeto == o.objeto; }
};

// Empty, "missing" (an omitted optional argument), Boolean, 16/32-bit integers, double,
// text, date, object reference. A null object is an RefObjeto without an object.
class Variant {
 public:
  struct Vazio {
    bool operator==(const Vazio&) const = default;
  };
  struct Ausente {
    bool operator==(const Ausente&) const = default;
  };
  using Valor = std::variant<Vazio, Ausente, bool, int16_t, int32_t, double, std::string, DataHora,
                             RefObjeto>;

  Variant() = default;
  Variant(bool v) : valor_(v) {}
  Variant(int16_t v) : valor_(v) {}
  Variant(int32_t v) : valor_(v) {}
  Variant(double v) : valor_(v) {}
  Variant(std::string v) : valor_(std::move(v)) {}
  Variant(const char* v) : valor_(std::string(v)) {}
  Variant(DataHora v) : valor_(v) {}
  Variant(RefObjeto v) : valor_(std::move(v)) {}
  static Variant Omitido() {
    Variant v;
    v.valor_ = Ausente{};
    return v;
  }

  const Valor& Bruto() const { return valor_; }
  bool EhVazio() const { return std::holds_alternative<Vazio>(valor_); }
  bool EhAusente() const { return std::holds_alternative<Ausente>(valor_); }
  template <class T>
  bool Eh() const {
    return std::holds_alternative<T>(valor_);
  }
  template <class T>
  const T& Como() const {
    return std::get<T>(valor_);
  }

  // Conversions the way the platform coerces arguments: type mismatch (13) when the value
  // cannot become the type, overflow (6) when a number does not fit.
  bool ParaBooleano() const;
  int16_t ParaInteiro16() const;
  int32_t ParaInteiro32() const;
  double ParaDuplo() const;
  std::string ParaTexto() const;
  DataHora ParaData() const;

  bool operator==(const Variant& o) const { return valor_ == o.valor_; }

 private:
  Valor valor_;
};

}  // namespace quorvel
