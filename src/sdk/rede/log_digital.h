// The fingerprint clock's log as a network backend reads it: a copy kept between reads, so a
// read fetches only what the log grew by, unless the clock says it is another log (erased,
// another clock, another run). It outlives links: a new link's first read checks it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdk/rede/enlace.h"

namespace quorvel::sdk::rede {

class LogDigital {
 public:
  LogDigital(Enlace& enlace, int32_t& ultimoErro) : enlace_(enlace), ultimoErro_(ultimoErro) {}

  // A walk from the start of the log (SdkReadAllLogs).
  void Recomeca();
  // The next record of the walk (SdkGetNextLog); false at its end (codigo::kNaoEncontrado) or
  // when the link fell.
  bool Proximo(int32_t& cartao, int32_t& valor, int32_t& modo, std::string& texto);

 private:
  // 24 bytes: a copy of a million-punch log is 24 MB that grows without moving strings.
  struct Registro {
    int32_t cartao, valor, modo;
    int32_t texto;     // -1, or the index in textos_ of a date no calendar has (the clock's text)
    int64_t segundos;  // the date-time as a number (DataHora seconds)
  };

  // The copy in blocks that never move: a log of a million punches grows by one fresh block at
  // a time, where a single array would be copied and faulted in anew at every doubling.
  class Copia {
   public:
    size_t size() const { return tamanho_; }
    const Registro& operator[](size_t i) const { return blocos_[i / kPorBloco][i % kPorBloco]; }
    void push_back(const Registro& r);
    void clear();

   private:
    static constexpr size_t kPorBloco = 1 << 16;  // 1.5 MiB
    std::vector<std::unique_ptr<Registro[]>> blocos_;
    size_t tamanho_ = 0;
  };

  bool Busca();
  std::string PedidoDesde() const;
  void TextoDaData(int64_t segundos, std::string& t);

  Enlace& enlace_;
  int32_t& ultimoErro_;
  Copia copia_;
  std::vector<std::string> textos_;
  uint64_t geracao_ = 0;
  size_t cursor_ = 0;
  bool pendente_ = false;  // the walk's first read checks the copy against the clock's log
  bool mais_ = false;      // the clock has more after the copy
  int64_t diaDoTexto_ = 0;
  std::string prefixoDoDia_;
};

}  // namespace quorvel::sdk::rede
