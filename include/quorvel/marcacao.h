// A punch read from a clock, and the ordered list the collection operations return.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quorvel/data_hora.h"

namespace quorvel {

// Plain property bag; puts store the value unchanged.
class Marcacao {
 public:
  // Card (user) code; model EModeloRelogio_Quorvel only, 0 for register clocks.
  int32_t CodigoCartao() const { return codigoCartao_; }
  void CodigoCartao(int32_t v) { codigoCartao_ = v; }
  int16_t CodigoRelogio() const { return codigoRelogio_; }
  void CodigoRelogio(int16_t v) { codigoRelogio_ = v; }
  quorvel::DataHora DataHoraMarcacao() const { return dataHora_; }
  void DataHoraMarcacao(quorvel::DataHora v) { dataHora_ = v; }
  bool MarcacaoPorDigital() const { return porDigital_; }
  void MarcacaoPorDigital(bool v) { porDigital_ = v; }
  const std::string& PIS() const { return pis_; }
  void PIS(std::string v) { pis_ = std::move(v); }
  const std::string& NSR() const { return nsr_; }
  void NSR(std::string v) { nsr_ = std::move(v); }

 private:
  int32_t codigoCartao_ = 0;
  int16_t codigoRelogio_ = 0;
  quorvel::DataHora dataHora_;  // the zero date-time
  bool porDigital_ = false;
  std::string pis_;
  std::string nsr_;
};

// A punch as a list holds it, for readers that print or store many: no object is made, and
// the texts stay valid only during the visit.
struct VistaMarcacao {
  int16_t relogio = 0;
  int32_t cartao = 0;
  DataHora momento;
  bool porDigital = false;
  std::string_view nsr, pis;
};

// Ordered punches, 1-based, no keys. Holds the objects added, not copies.
//
// Punches read from a clock are kept as compact records (16 bytes each) and get their
// Marcacao object the first time Item asks for that position; from then on Item returns that
// same object, so changes made through it are seen later. Add keeps the host's very object.
class ListaMarcacao {
 public:
  // Appends; the same object may be listed twice.
  void Add(const std::shared_ptr<Marcacao>& parMarcacao);
  // Same, taking over the caller's reference (no reference-count traffic on hot paths).
  void Add(std::shared_ptr<Marcacao>&& parMarcacao);
  // Appends a punch read from a clock, as a compact record.
  void AdicionaLida(int32_t cartao, int16_t relogio, DataHora momento, bool porDigital,
                    std::string_view nsr = {}, std::string_view pis = {});
  // Appends a copy of every punch of `outra`, with the values it holds now.
  void AnexaCopias(const ListaMarcacao& outra);
  int32_t Count() const { return static_cast<int32_t>(registros_.size()); }
  // Position 1..Count; anything else raises -1 naming ListaMarcacao.Item.
  std::shared_ptr<Marcacao> Item(int32_t parIndex) const;
  // Visits every punch in order with the values it holds now, without making the objects
  // Item would keep: for readers of large lists (a store, an export). A position the host
  // filled with no object is skipped.
  template <class F>
  void ParaCada(F&& visita) const {
    ParaCadaEntre(1, Count(), visita);
  }
  // The same for positions `de`..`ate` (1-based, both included; what lies outside the list is
  // skipped): a reader that takes a long list in pieces.
  template <class F>
  void ParaCadaEntre(int32_t de, int32_t ate, F&& visita) const {
    Marcacao temporaria;
    // Lists read from a clock hold no host object: no lookup per punch then.
    const bool comObjetos = !objetos_.empty();
    const auto fim = static_cast<uint32_t>(std::clamp<int64_t>(ate, 0, Count()));
    for (auto i = static_cast<uint32_t>(std::max(de, 1) - 1); i < fim; ++i) {
      if (auto it = comObjetos ? objetos_.find(i) : objetos_.end(); it != objetos_.end()) {
        // A position the host filled with no object holds no punch.
        if (it->second) visita(static_cast<const Marcacao&>(*it->second));
      } else {
        Preenche(i, temporaria);
        visita(static_cast<const Marcacao&>(temporaria));
      }
    }
  }

  // The same visit as views (VistaMarcacao): the NSR and PIS texts are written into the
  // visitor's stack instead of into an object's strings.
  template <class F>
  void ParaCadaVista(F&& visita) const {
    char nsr[24], pis[24];
    const bool comObjetos = !objetos_.empty();
    for (uint32_t i = 0, fim = static_cast<uint32_t>(Count()); i < fim; ++i) {
      if (auto it = comObjetos ? objetos_.find(i) : objetos_.end(); it != objetos_.end()) {
        if (!it->second) continue;
        const Marcacao& m = *it->second;
        visita(VistaMarcacao{m.CodigoRelogio(), m.CodigoCartao(), m.DataHoraMarcacao(),
                             m.MarcacaoPorDigital(), m.NSR(), m.PIS()});
      } else {
        visita(Vista(i, nsr, pis));
      }
    }
  }

  void Reserva(size_t n) { registros_.reserve(n); }  // up to the first block
  // Heap bytes the list holds (records, texts, objects made), for measurements.
  size_t BytesOcupados() const;

 private:
  // 16 bytes: a million punches are 16 MB of fresh memory, and every megabyte of it is a cost
  // the collection pays on first touch. The two shapes clocks give fit in place: a fingerprint
  // punch (card, by finger) and a register punch (an NSR of up to 9 digits and a PIS of up to
  // 15, kept as numbers with their lengths, so leading zeros come back). Anything else (a text
  // NSR or PIS, a card on a register punch, a date after the year 6200) keeps its values whole in
  // `extensos_`, and the record holds its index. The clock's code is kept by runs (`relogios_`):
  // the punches of one collection share it.
  //   a: bits 0-1 the shape; 2-39 the seconds plus kDesvio; 40-43 the NSR's digits; 44-47 the
  //      PIS's digits; 48-63 the NSR's low 16 bits.
  //   b: fingerprint: the card (bits 0-31), by finger (bit 32); register: the NSR's high 14 bits
  //      (0-13), the PIS (14-63); whole: the index in extensos_.
  struct Registro {
    uint64_t a, b;
  };
  struct Extenso {
    int64_t segundos;
    int32_t cartao;
    bool porDigital;
    std::string nsr, pis;
  };
  struct TrechoDeRelogio {
    uint32_t inicio;  // the first position with this clock's code
    int16_t relogio;
  };
  int16_t RelogioDe(uint32_t posicao) const;
  void AnotaRelogio(int16_t relogio);
  void AdicionaExtenso(int16_t relogio, Extenso e);
  Marcacao Materializa(uint32_t posicao) const;
  VistaMarcacao Vista(uint32_t posicao, char (&nsr)[24], char (&pis)[24]) const;
  void Preenche(uint32_t posicao, Marcacao& m) const;
  void Registra(const Marcacao& m);

  // Records in blocks of kBloco: a list of a million punches grows without ever copying what
  // it holds (and without needing twice its size while it grows); the first block grows as a
  // vector does, so a short list stays small.
  class Registros {
   public:
    static constexpr size_t kBloco = size_t{1} << 17;  // 2 MiB
    Registros() = default;
    // A list copies and moves as it always did; the write pointers follow the blocks.
    Registros(const Registros& outra);
    Registros& operator=(const Registros& outra);
    Registros(Registros&& outra) noexcept;
    Registros& operator=(Registros&& outra) noexcept;
    size_t size() const { return tamanho_; }
    const Registro& operator[](size_t i) const { return blocos_[i / kBloco][i % kBloco]; }
    // The common case is one store and two increments; a full block takes the slow path.
    void push_back(const Registro& r) {
      if (livre_ == fimDoBloco_) Cresce();
      *livre_++ = r;
      ++tamanho_;
    }
    void pop_back();
    void reserve(size_t n);  // up to one block
    size_t capacity() const {
      return blocos_.empty() ? 0 : (blocos_.size() - 1) * kBloco + capacidadePrimeiro_;
    }

   private:
    // Blocks come from the C allocator: a whole block (2 MiB) aligned so that the kernel can
    // back it with one huge page instead of 512 small ones, each a fault on first touch.
    struct Libera {
      void operator()(Registro* p) const noexcept;
    };
    using Bloco = std::unique_ptr<Registro[], Libera>;
    static Bloco NovoBloco(size_t registros);
    void Cresce();
    void TrocaPrimeiro(size_t capacidade);
    // Every block holds kBloco records, except a lone first block, which doubles up to kBloco.
    std::vector<Bloco> blocos_;
    size_t capacidadePrimeiro_ = 0;
    Registro* livre_ = nullptr;
    Registro* fimDoBloco_ = nullptr;
    size_t tamanho_ = 0;
  };
  Registros registros_;
  std::vector<Extenso> extensos_;
  std::vector<TrechoDeRelogio> relogios_;
  // Objects handed out or added by the host, by position (0-based).
  mutable std::unordered_map<uint32_t, std::shared_ptr<Marcacao>> objetos_;
};

}  // namespace quorvel
