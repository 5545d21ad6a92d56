#include "quorvel/marcacao.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

#include "quorvel/erro.h"

namespace quorvel {

namespace {

// A text of 1..`maximo` digits as its number; false for anything else.
bool SoDigitos(std::string_view t, size_t maximo, uint64_t& valor) {
  if (t.empty() || t.size() > maximo) return false;
  valor = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    valor = valor * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// The text a number was read from: at least `digitos` digits, leading zeros kept. By hand:
// it runs twice for every register punch handed out, and printf's machinery was a tenth of
// the time of printing a large collection.
// Written at the end of `b`; returns the view of it.
std::string_view ComZeros(uint64_t valor, unsigned digitos, char (&b)[24]) {
  // Two digits per division, from a table of the hundred pairs.
  static constexpr char kPares[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  size_t n = 0;
  while (valor >= 100) {
    const auto par = static_cast<size_t>(valor % 100) * 2;
    valor /= 100;
    b[sizeof b - ++n] = kPares[par + 1];
    b[sizeof b - ++n] = kPares[par];
  }
  if (valor >= 10) {
    b[sizeof b - ++n] = kPares[valor * 2 + 1];
    b[sizeof b - ++n] = kPares[valor * 2];
  } else {
    b[sizeof b - ++n] = static_cast<char>('0' + valor);
  }
  while (n < digitos && n < sizeof b) b[sizeof b - ++n] = '0';
  return std::string_view(b + sizeof b - n, n);
}

std::string ComZeros(uint64_t valor, unsigned digitos) {
  char b[24];
  return std::string(ComZeros(valor, digitos, b));
}

}  // namespace

ListaMarcacao::Registros::Registros(const Registros& outra) {
  reserve(outra.size());
  for (size_t i = 0; i < outra.size(); ++i) push_back(outra[i]);
}

ListaMarcacao::Registros& ListaMarcacao::Registros::operator=(const Registros& outra) {
  if (this != &outra) *this = Registros(outra);
  return *this;
}

ListaMarcacao::Registros::Registros(Registros&& outra) noexcept { *this = std::move(outra); }

ListaMarcacao::Registros& ListaMarcacao::Registros::operator=(Registros&& outra) noexcept {
  if (this == &outra) return *this;
  // The blocks change owner without moving in memory, so the write pointers stay valid.
  blocos_ = std::move(outra.blocos_);
  capacidadePrimeiro_ = std::exchange(outra.capacidadePrimeiro_, 0);
  livre_ = std::exchange(outra.livre_, nullptr);
  fimDoBloco_ = std::exchange(outra.fimDoBloco_, nullptr);
  tamanho_ = std::exchange(outra.tamanho_, 0);
  outra.blocos_.clear();
  return *this;
}

void ListaMarcacao::Registros::Libera::operator()(Registro* p) const noexcept { std::free(p); }

ListaMarcacao::Registros::Bloco ListaMarcacao::Registros::NovoBloco(size_t registros) {
  static_assert(std::is_trivially_copyable_v<Registro> &&
                std::is_trivially_destructible_v<Registro>);
  constexpr size_t kPaginaGrande = size_t{2} << 20;
  const size_t bytes = registros * sizeof(Registro);
  void* p = nullptr;
  if (bytes >= kPaginaGrande) {
    const size_t arredondado = (bytes + kPaginaGrande - 1) / kPaginaGrande * kPaginaGrande;
    p = std::aligned_alloc(kPaginaGrande, arredondado);
    // Only advice: where huge pages are off, the block is made of small pages as before.
    if (p) ::madvise(p, arredondado, MADV_HUGEPAGE);
  } else {
    p = std::malloc(bytes);
  }
  if (!p) throw std::bad_alloc();
  return Bloco(static_cast<Registro*>(p));
}

void ListaMarcacao::Registros::Cresce() {
  if (blocos_.size() <= 1 && capacidadePrimeiro_ < kBloco) {
    TrocaPrimeiro(capacidadePrimeiro_ == 0 ? 16 : std::min(2 * capacidadePrimeiro_, kBloco));
    return;
  }
  blocos_.push_back(NovoBloco(kBloco));
  livre_ = blocos_.back().get();
  fimDoBloco_ = livre_ + kBloco;
}

void ListaMarcacao::Registros::TrocaPrimeiro(size_t capacidade) {
  auto novo = NovoBloco(capacidade);
  if (tamanho_ > 0) std::copy(blocos_[0].get(), blocos_[0].get() + tamanho_, novo.get());
  if (blocos_.empty())
    blocos_.push_back(std::move(novo));
  else
    blocos_[0] = std::move(novo);
  capacidadePrimeiro_ = capacidade;
  livre_ = blocos_[0].get() + tamanho_;
  fimDoBloco_ = blocos_[0].get() + capacidade;
}

void ListaMarcacao::Registros::reserve(size_t n) {
  if (blocos_.size() <= 1 && n > capacidadePrimeiro_) TrocaPrimeiro(std::min(n, kBloco));
}

void ListaMarcacao::Registros::pop_back() {
  if (livre_ == blocos_.back().get()) {
    // A block emptied by an earlier pop: the one before it is full.
    blocos_.pop_back();
    livre_ = fimDoBloco_ =
        blocos_.back().get() + (blocos_.size() == 1 ? capacidadePrimeiro_ : kBloco);
  }
  --livre_;
  --tamanho_;
}

void ListaMarcacao::AdicionaLida(int32_t cartao, int16_t relogio, DataHora momento, bool porDigital,
                                 std::string_view nsr, std::string_view pis) {
  Registro r{momento.Segundos(), 0, 0, cartao, relogio, porDigital ? kPorDigital : uint8_t{0}, 0};
  uint64_t v = 0;
  if (nsr.empty()) {
  } else if (SoDigitos(nsr, 9, v)) {
    r.nsr = static_cast<uint32_t>(v);
    r.tamanhos = static_cast<uint8_t>(nsr.size());
  } else {
    r.flags |= kNsrTexto;
    r.nsr = static_cast<uint32_t>(textos_.size());
    textos_.emplace_back(nsr);
  }
  if (pis.empty()) {
  } else if (SoDigitos(pis, 15, v)) {
    r.pis = v;
    r.tamanhos = static_cast<uint8_t>(r.tamanhos | (pis.size() << 4));
  } else {
    r.flags |= kPisTexto;
    r.pis = textos_.size();
    textos_.emplace_back(pis);
  }
  registros_.push_back(r);
}

void ListaMarcacao::Registra(const Marcacao& m) {
  AdicionaLida(m.CodigoCartao(), m.CodigoRelogio(), m.DataHoraMarcacao(), m.MarcacaoPorDigital(),
               m.NSR(), m.PIS());
}

Marcacao ListaMarcacao::Materializa(const Registro& r) const {
  Marcacao m;
  Preenche(r, m);
  return m;
}

VistaMarcacao ListaMarcacao::Vista(const Registro& r, char (&nsr)[24], char (&pis)[24]) const {
  VistaMarcacao v{
      r.relogio, r.cartao, DataHora::DeSegundos(r.segundos), (r.flags & kPorDigital) != 0, {}, {}};
  if (r.flags & kNsrTexto)
    v.nsr = textos_[r.nsr];
  else if (r.tamanhos & 0x0F)
    v.nsr = ComZeros(r.nsr, r.tamanhos & 0x0F, nsr);
  if (r.flags & kPisTexto)
    v.pis = textos_[static_cast<size_t>(r.pis)];
  else if (r.tamanhos >> 4)
    v.pis = ComZeros(r.pis, r.tamanhos >> 4, pis);
  return v;
}

void ListaMarcacao::Preenche(const Registro& r, Marcacao& m) const {
  m.CodigoCartao(r.cartao);
  m.CodigoRelogio(r.relogio);
  m.DataHoraMarcacao(DataHora::DeSegundos(r.segundos));
  m.MarcacaoPorDigital((r.flags & kPorDigital) != 0);
  if (r.flags & kNsrTexto)
    m.NSR(textos_[r.nsr]);
  else
    m.NSR(r.tamanhos & 0x0F ? ComZeros(r.nsr, r.tamanhos & 0x0F) : std::string());
  if (r.flags & kPisTexto)
    m.PIS(textos_[static_cast<size_t>(r.pis)]);
  else
    m.PIS(r.tamanhos >> 4 ? ComZeros(r.pis, r.tamanhos >> 4) : std::string());
}

void ListaMarcacao::Add(const std::shared_ptr<Marcacao>& parMarcacao) {
  Add(std::shared_ptr<Marcacao>(parMarcacao));
}

void ListaMarcacao::Add(std::shared_ptr<Marcacao>&& parMarcacao) {
  EnvolveErro("ListaMarcacao", "Add", [&] {
    // The host's own object stays the one listed; the record only holds its place.
    const auto posicao = static_cast<uint32_t>(registros_.size());
    registros_.push_back(Registro{0, 0, 0, 0, 0, kDoHost, 0});
    try {
      objetos_[posicao] = std::move(parMarcacao);
    } catch (...) {
      registros_.pop_back();
      throw;
    }
  });
}

void ListaMarcacao::AnexaCopias(const ListaMarcacao& outra) {
  registros_.reserve(registros_.size() + outra.registros_.size());
  for (size_t i = 0; i < outra.registros_.size(); ++i) {
    const Registro& r = outra.registros_[i];
    const auto objeto = outra.objetos_.find(static_cast<uint32_t>(i));
    if (objeto != outra.objetos_.end() && objeto->second)
      Registra(*objeto->second);  // the values the object holds now
    else if (r.flags & (kNsrTexto | kPisTexto))
      Registra(outra.Materializa(r));
    else if (!(r.flags & kDoHost))
      registros_.push_back(r);
  }
}

std::shared_ptr<Marcacao> ListaMarcacao::Item(int32_t parIndex) const {
  return EnvolveErro("ListaMarcacao", "Item", [&] {
    if (parIndex < 1 || parIndex > Count()) LancaIndiceForaDoIntervalo();
    const auto posicao = static_cast<uint32_t>(parIndex - 1);
    auto [it, novo] = objetos_.try_emplace(posicao);
    if (novo) {
      try {
        it->second = std::make_shared<Marcacao>(Materializa(registros_[posicao]));
      } catch (...) {
        objetos_.erase(it);
        throw;
      }
    }
    return it->second;
  });
}

size_t ListaMarcacao::BytesOcupados() const {
  size_t bytes =
      registros_.capacity() * sizeof(Registro) + textos_.capacity() * sizeof(std::string);
  for (const auto& t : textos_) bytes += t.capacity() > 15 ? t.capacity() + 1 : 0;
  // Buckets and nodes of the object table, and the objects with their control blocks.
  bytes += objetos_.bucket_count() * sizeof(void*);
  bytes += objetos_.size() * (sizeof(std::pair<const uint32_t, std::shared_ptr<Marcacao>>) +
                              2 * sizeof(void*) + sizeof(Marcacao) + 16);
  return bytes;
}

}  // namespace quorvel
