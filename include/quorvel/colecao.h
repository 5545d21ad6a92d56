// The generic ordered collection with 1-based positions and optional unique text keys.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "quorvel/erro.h"

namespace quorvel {

// Ordered items, 1-based positions, optional unique keys with O(1) lookup. Removing an item
// moves the later ones up by one. Failures are the platform's: a bad position is error 9, a
// missing key error 5, a key already present error 457.
template <class T>
class Colecao {
 public:
  Colecao() = default;
  // A copy is independent of its source: its keys live in its own index.
  Colecao(const Colecao& outra) : itens_(outra.itens_), indice_(outra.indice_) { Reaponta(); }
  // A moved-from collection is empty and usable.
  Colecao(Colecao&& outra) noexcept
      : itens_(std::move(outra.itens_)), indice_(std::move(outra.indice_)) {
    outra.itens_.clear();
    outra.indice_.clear();
  }
  Colecao& operator=(const Colecao& outra) {
    if (this != &outra) {
      Colecao copia(outra);
      Troca(copia);
    }
    return *this;
  }
  Colecao& operator=(Colecao&& outra) noexcept {
    if (this != &outra) {
      itens_ = std::move(outra.itens_);
      indice_ = std::move(outra.indice_);
      outra.itens_.clear();
      outra.indice_.clear();
    }
    return *this;
  }
  ~Colecao() = default;

  int32_t Count() const { return static_cast<int32_t>(itens_.size()); }

  // Appends `item`, under `chave` when one is given.
  void Add(T item, std::optional<std::string> chave = std::nullopt) {
    if (chave) {
      auto [it, novo] = indice_.try_emplace(*chave, itens_.size());
      if (!novo)
        throw Erro(erro_plataforma::kChaveDuplicada,
                   "Esta chave já está associada a um elemento da coleção.");
      itens_.push_back({std::move(item), &it->first});
    } else {
      itens_.push_back({std::move(item), nullptr});
    }
  }

  const T& Item(int32_t posicao) const { return itens_[Indice(posicao)].valor; }
  T& Item(int32_t posicao) { return itens_[Indice(posicao)].valor; }

  const T& Item(std::string_view chave) const { return itens_[IndiceDaChave(chave)].valor; }

  // The item under `chave`, or nullptr; never raises.
  const T* Procura(std::string_view chave) const noexcept {
    auto it = indice_.find(chave);
    return it == indice_.end() ? nullptr : &itens_[it->second].valor;
  }

  bool Contem(std::string_view chave) const noexcept { return Procura(chave) != nullptr; }

  void Remove(int32_t posicao) { Apaga(Indice(posicao)); }
  void Remove(std::string_view chave) { Apaga(IndiceDaChave(chave)); }

  void RemoveTudo() noexcept {
    itens_.clear();
    indice_.clear();
  }

  void Reserva(size_t n) {
    itens_.reserve(n);
    indice_.reserve(n);
  }

  // Plain iteration over the items in order.
  auto begin() const { return Iterador{itens_.begin()}; }
  auto end() const { return Iterador{itens_.end()}; }

 private:
  struct Entrada {
    T valor;
    const std::string* chave;  // points into indice_, stable across rehashing
  };

  struct Iterador {
    typename std::vector<Entrada>::const_iterator it;
    const T& operator*() const { return it->valor; }
    Iterador& operator++() {
      ++it;
      return *this;
    }
    bool operator!=(const Iterador& o) const { return it != o.it; }
  };

  void Troca(Colecao& outra) noexcept {
    itens_.swap(outra.itens_);
    indice_.swap(outra.indice_);  // nodes move with the map: the key pointers stay right
  }

  // After copying, every key pointer still points into the source's index; point it at ours.
  void Reaponta() {
    for (Entrada& e : itens_)
      if (e.chave) e.chave = &indice_.find(*e.chave)->first;
  }

  size_t Indice(int32_t posicao) const {
    if (posicao < 1 || posicao > Count()) LancaIndiceForaDoIntervalo();
    return static_cast<size_t>(posicao - 1);
  }

  size_t IndiceDaChave(std::string_view chave) const {
    auto it = indice_.find(chave);
    if (it == indice_.end()) LancaArgumentoInvalido("chave inexistente na coleção");
    return it->second;
  }

  void Apaga(size_t i) {
    if (itens_[i].chave) {
      const std::string chave = *itens_[i].chave;  // the node owning the key goes away
      indice_.erase(chave);
    }
    itens_.erase(itens_.begin() + static_cast<std::ptrdiff_t>(i));
    // Keys of the items that moved up point one position earlier now.
    for (size_t j = i; j < itens_.size(); ++j)
      if (itens_[j].chave) indice_.find(*itens_[j].chave)->second = j;
  }

  std::vector<Entrada> itens_;
  // Transparent hashing lets lookups by string_view skip building a std::string.
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::unordered_map<std::string, size_t, Hash, std::equal_to<>> indice_;
};

// True exactly when an item is stored under `chave`; failures of the collection count as
// "not there".
template <class T>
bool ExisteNaColecao(const Colecao<T>& colecao, std::string_view chave) noexcept {
  return colecao.Contem(chave);
}

}  // namespace quorvel
