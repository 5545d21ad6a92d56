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
                std::is_trivially_destructible_v<Registro> && sizeof(Registro) == 16);
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

namespace {

enum Forma : uint64_t { kDigital = 0, kPonto = 1, kExtenso = 2, kDoHost = 3 };
// Seconds are kept in 38 bits, from kDesvio before the zero date to kDesvio after it: the
// years 100 to 6200 and more.
constexpr int64_t kDesvio = int64_t{1} << 37;
constexpr uint64_t kMascara38 = (uint64_t{1} << 38) - 1;

Forma FormaDe(uint64_t a) { return static_cast<Forma>(a & 3); }
int64_t SegundosDe(uint64_t a) { return static_cast<int64_t>((a >> 2) & kMascara38) - kDesvio; }
uint64_t Cabeca(Forma f, int64_t segundos) {
  return f | (static_cast<uint64_t>(segundos + kDesvio) << 2);
}
bool SegundosCabem(int64_t segundos) { return segundos >= -kDesvio && segundos < kDesvio; }

}  // namespace

int16_t ListaMarcacao::RelogioDe(uint32_t posicao) const {
  if (relogios_.size() == 1) return relogios_[0].relogio;
  // The last run that starts at or before the position.
  const auto depois =
      std::upper_bound(relogios_.begin(), relogios_.end(), posicao,
                       [](uint32_t p, const TrechoDeRelogio& t) { return p < t.inicio; });
  return depois == relogios_.begin() ? int16_t{0} : std::prev(depois)->relogio;
}

// Before the record is added: the run of the position it is about to take.
void ListaMarcacao::AnotaRelogio(int16_t relogio) {
  const auto posicao = static_cast<uint32_t>(registros_.size());
  if (!relogios_.empty() && relogios_.back().relogio == relogio) return;
  // A run opened for a record that never came (an allocation that failed) is taken over.
  if (!relogios_.empty() && relogios_.back().inicio == posicao)
    relogios_.back().relogio = relogio;
  else
    relogios_.push_back({posicao, relogio});
}

void ListaMarcacao::AdicionaExtenso(int16_t relogio, Extenso e) {
  AnotaRelogio(relogio);
  extensos_.push_back(std::move(e));
  try {
    registros_.push_back(Registro{Cabeca(kExtenso, 0), extensos_.size() - 1});
  } catch (...) {
    extensos_.pop_back();
    throw;
  }
}

void ListaMarcacao::AdicionaLida(int32_t cartao, int16_t relogio, DataHora momento, bool porDigital,
                                 std::string_view nsr, std::string_view pis) {
  const int64_t segundos = momento.Segundos();
  uint64_t n = 0, p = 0;
  if (SegundosCabem(segundos)) {
    if (nsr.empty() && pis.empty()) {
      AnotaRelogio(relogio);
      registros_.push_back(
          Registro{Cabeca(kDigital, segundos),
                   static_cast<uint32_t>(cartao) | (porDigital ? uint64_t{1} << 32 : uint64_t{0})});
      return;
    }
    if (cartao == 0 && !porDigital && (nsr.empty() || SoDigitos(nsr, 9, n)) &&
        (pis.empty() || SoDigitos(pis, 15, p))) {
      AnotaRelogio(relogio);
      registros_.push_back(Registro{Cabeca(kPonto, segundos) | (uint64_t{nsr.size()} << 40) |
                                        (uint64_t{pis.size()} << 44) | ((n & 0xFFFF) << 48),
                                    (n >> 16) | (p << 14)});
      return;
    }
  }
  AdicionaExtenso(relogio,
                  Extenso{segundos, cartao, porDigital, std::string(nsr), std::string(pis)});
}

void ListaMarcacao::Registra(const Marcacao& m) {
  AdicionaLida(m.CodigoCartao(), m.CodigoRelogio(), m.DataHoraMarcacao(), m.MarcacaoPorDigital(),
               m.NSR(), m.PIS());
}

Marcacao ListaMarcacao::Materializa(uint32_t posicao) const {
  Marcacao m;
  Preenche(posicao, m);
  return m;
}

VistaMarcacao ListaMarcacao::Vista(uint32_t posicao, char (&nsr)[24], char (&pis)[24]) const {
  const Registro& r = registros_[posicao];
  VistaMarcacao v{RelogioDe(posicao), 0, DataHora::DeSegundos(SegundosDe(r.a)), false, {}, {}};
  switch (FormaDe(r.a)) {
    case kDigital:
      v.cartao = static_cast<int32_t>(static_cast<uint32_t>(r.b));
      v.porDigital = (r.b >> 32) & 1;
      break;
    case kPonto:
      if (const auto digitos = static_cast<unsigned>((r.a >> 40) & 0xF))
        v.nsr = ComZeros(((r.b & 0x3FFF) << 16) | (r.a >> 48), digitos, nsr);
      if (const auto digitos = static_cast<unsigned>((r.a >> 44) & 0xF))
        v.pis = ComZeros(r.b >> 14, digitos, pis);
      break;
    case kExtenso: {
      const Extenso& e = extensos_[r.b];
      v.cartao = e.cartao;
      v.momento = DataHora::DeSegundos(e.segundos);
      v.porDigital = e.porDigital;
      v.nsr = e.nsr;
      v.pis = e.pis;
      break;
    }
    case kDoHost:
      break;
  }
  return v;
}

void ListaMarcacao::Preenche(uint32_t posicao, Marcacao& m) const {
  char nsr[24], pis[24];
  const VistaMarcacao v = Vista(posicao, nsr, pis);
  m.CodigoCartao(v.cartao);
  m.CodigoRelogio(v.relogio);
  m.DataHoraMarcacao(v.momento);
  m.MarcacaoPorDigital(v.porDigital);
  m.NSR(std::string(v.nsr));
  m.PIS(std::string(v.pis));
}

void ListaMarcacao::Add(const std::shared_ptr<Marcacao>& parMarcacao) {
  Add(std::shared_ptr<Marcacao>(parMarcacao));
}

void ListaMarcacao::Add(std::shared_ptr<Marcacao>&& parMarcacao) {
  EnvolveErro("ListaMarcacao", "Add", [&] {
    // The host's own object stays the one listed; the record only holds its place.
    const auto posicao = static_cast<uint32_t>(registros_.size());
    registros_.push_back(Registro{kDoHost, 0});
    try {
      objetos_[posicao] = std::move(parMarcacao);
    } catch (...) {
      registros_.pop_back();
      throw;
    }
  });
}

void ListaMarcacao::AnexaCopias(const ListaMarcacao& outra) {
  // The count and each record are taken before anything is added: a list may be given its
  // own copies, and growing moves its first block.
  const auto quantos = static_cast<uint32_t>(outra.registros_.size());
  registros_.reserve(registros_.size() + quantos);
  for (uint32_t i = 0; i < quantos; ++i) {
    const Registro r = outra.registros_[i];
    const auto objeto = outra.objetos_.find(i);
    if (objeto != outra.objetos_.end() && objeto->second) {
      Registra(*objeto->second);  // the values the object holds now
    } else if (FormaDe(r.a) == kExtenso) {
      AdicionaExtenso(outra.RelogioDe(i), outra.extensos_[r.b]);
    } else if (FormaDe(r.a) != kDoHost) {
      AnotaRelogio(outra.RelogioDe(i));
      registros_.push_back(r);
    }
  }
}

std::shared_ptr<Marcacao> ListaMarcacao::Item(int32_t parIndex) const {
  return EnvolveErro("ListaMarcacao", "Item", [&] {
    if (parIndex < 1 || parIndex > Count()) LancaIndiceForaDoIntervalo();
    const auto posicao = static_cast<uint32_t>(parIndex - 1);
    auto [it, novo] = objetos_.try_emplace(posicao);
    if (novo) {
      try {
        it->second = std::make_shared<Marcacao>(Materializa(posicao));
      } catch (...) {
        objetos_.erase(it);
        throw;
      }
    }
    return it->second;
  });
}

size_t ListaMarcacao::BytesOcupados() const {
  size_t bytes = registros_.capacity() * sizeof(Registro) + extensos_.capacity() * sizeof(Extenso) +
                 relogios_.capacity() * sizeof(TrechoDeRelogio);
  for (const auto& e : extensos_)
    for (const std::string* t : {&e.nsr, &e.pis})
      bytes += t->capacity() > 15 ? t->capacity() + 1 : 0;
  // Buckets and nodes of the object table, and the objects with their control blocks.
  bytes += objetos_.bucket_count() * sizeof(void*);
  bytes += objetos_.size() * (sizeof(std::pair<const uint32_t, std::shared_ptr<Marcacao>>) +
                              2 * sizeof(void*) + sizeof(Marcacao) + 16);
  return bytes;
}

}  // namespace quorvel
