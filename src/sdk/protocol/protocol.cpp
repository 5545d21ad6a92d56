#include "sdk/protocol/protocol.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "sdk/protocol/operacoes.h"

namespace quorvel::protocol {

namespace {

const std::array<uint32_t, 256>& TabelaCrc() {
  static const std::array<uint32_t, 256> tabela = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? (c >> 1) ^ 0x82F63B78u : c >> 1;  // Castagnoli
      t[i] = c;
    }
    return t;
  }();
  return tabela;
}

void PutU32(std::string& out, uint32_t v) { out.append(PoeU32(v).data(), 4); }

}  // namespace

uint32_t Crc32cTabela(const void* data, size_t size, uint32_t crc) {
  const auto& t = TabelaCrc();
  const auto* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = t[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

#if defined(__x86_64__)
// The processor's CRC32 instruction computes this very polynomial (Castagnoli), eight bytes
// at a time.
__attribute__((target("sse4.2"))) uint32_t Crc32cInstrucao(const void* data, size_t size,
                                                           uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t c = ~crc & 0xFFFFFFFFu;
  for (; size >= 8; size -= 8, p += 8) {
    uint64_t bloco;
    std::memcpy(&bloco, p, 8);
    c = __builtin_ia32_crc32di(c, bloco);
  }
  auto c32 = static_cast<uint32_t>(c);
  for (; size > 0; --size, ++p) c32 = __builtin_ia32_crc32qi(c32, *p);
  return ~c32;
}

bool TemInstrucaoCrc() {
  static const bool tem = __builtin_cpu_supports("sse4.2");
  return tem;
}
#else
uint32_t Crc32cInstrucao(const void* data, size_t size, uint32_t crc) {
  return Crc32cTabela(data, size, crc);
}
bool TemInstrucaoCrc() { return false; }
#endif

uint32_t Crc32c(const void* data, size_t size, uint32_t crc) {
  return TemInstrucaoCrc() ? Crc32cInstrucao(data, size, crc) : Crc32cTabela(data, size, crc);
}

std::string Codifica(const Quadro& f) {
  if (f.carga.size() > kCargaMaxima) throw std::length_error("quadro grande demais");
  std::string out;
  out.reserve(kTamanhoCabecalho + f.carga.size() + kTamanhoCrc);
  out.push_back(static_cast<char>(kMarca0));
  out.push_back(static_cast<char>(kMarca1));
  out.push_back(static_cast<char>(kVersaoDoQuadro));
  out.push_back(static_cast<char>(f.op));
  PutU32(out, f.id);
  PutU32(out, static_cast<uint32_t>(f.carga.size()));
  out.append(f.carga);
  PutU32(out, Crc32c(out.data(), out.size()));
  return out;
}

void Decodificador::Alimenta(const char* data, size_t size) {
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(data, size);
}

std::optional<Quadro> Decodificador::Proximo() {
  const size_t disponivel = buffer_.size() - start_;
  if (disponivel < kTamanhoCabecalho) {
    // Reject a wrong start as early as it shows: a stray byte must not wait for a header.
    if (disponivel >= 1 && static_cast<uint8_t>(buffer_[start_]) != kMarca0)
      throw ErroDeProtocolo("marcador inválido");
    if (disponivel >= 2 && static_cast<uint8_t>(buffer_[start_ + 1]) != kMarca1)
      throw ErroDeProtocolo("marcador inválido");
    return std::nullopt;
  }
  const char* h = buffer_.data() + start_;
  if (static_cast<uint8_t>(h[0]) != kMarca0 || static_cast<uint8_t>(h[1]) != kMarca1)
    throw ErroDeProtocolo("marcador inválido");
  if (static_cast<uint8_t>(h[2]) != kVersaoDoQuadro)
    throw ErroDeProtocolo("versão de protocolo desconhecida");
  const uint32_t tamanho = LeU32(h + 8);
  if (tamanho > kCargaMaxima) throw ErroDeProtocolo("quadro grande demais");
  const size_t total = kTamanhoCabecalho + tamanho + kTamanhoCrc;
  if (disponivel < total) return std::nullopt;
  const uint32_t crc = LeU32(h + kTamanhoCabecalho + tamanho);
  if (crc != Crc32c(h, kTamanhoCabecalho + tamanho))
    throw ErroDeProtocolo("soma de verificação inválida");
  Quadro f;
  f.op = static_cast<uint8_t>(h[3]);
  f.id = LeU32(h + 4);
  f.carga.assign(h + kTamanhoCabecalho, tamanho);
  start_ += total;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return f;
}

void Escritor::Texto(std::string_view s) {
  if (s.size() > kCargaMaxima) throw std::length_error("texto grande demais");
  PutU32(data_, static_cast<uint32_t>(s.size()));
  data_.append(s);
}

void Escritor::ValorTipado(const Valor& v) {
  if (auto* i = std::get_if<int32_t>(&v)) {
    U8('i');
    I32(*i);
  } else if (auto* b = std::get_if<bool>(&v)) {
    U8('b');
    U8(*b ? 1 : 0);
  } else {
    U8('s');
    Texto(std::get<std::string>(v));
  }
}

uint8_t Leitor::U8() {
  if (pos_ + 1 > data_.size()) throw ErroDeProtocolo("mensagem truncada");
  return static_cast<uint8_t>(data_[pos_++]);
}

std::string Leitor::Texto() {
  const uint32_t n = static_cast<uint32_t>(I32());
  if (n > data_.size() - pos_) throw ErroDeProtocolo("texto além do fim da mensagem");
  std::string s(data_.substr(pos_, n));
  pos_ += n;
  return s;
}

std::string_view Leitor::TextoSemCopia() {
  const uint32_t n = static_cast<uint32_t>(I32());
  if (n > data_.size() - pos_) throw ErroDeProtocolo("texto além do fim da mensagem");
  const std::string_view s = data_.substr(pos_, n);
  pos_ += n;
  return s;
}

std::string_view Leitor::Bytes(size_t n) {
  if (n > data_.size() - pos_) throw ErroDeProtocolo("mensagem truncada");
  auto r = data_.substr(pos_, n);
  pos_ += n;
  return r;
}

Valor Leitor::ValorTipado() {
  switch (U8()) {
    case 'i':
      return I32();
    case 'b': {
      const uint8_t b = U8();
      if (b > 1) throw ErroDeProtocolo("booleano inválido");
      return b == 1;
    }
    case 's':
      return Texto();
    default:
      throw ErroDeProtocolo("tipo de valor desconhecido");
  }
}

const std::vector<Assinatura>& Chamadas() {
  static const std::vector<Assinatura> calls = {
#define QUORVEL_ESPECIFICACAO(nome, natureza, referencias) \
  operacoes::Operacao<&CZKEM::nome>::Especificacao(#nome),
      QUORVEL_OPERACOES_DE_CHAMADA(QUORVEL_ESPECIFICACAO)
#undef QUORVEL_ESPECIFICACAO
  };
  return calls;
}

uint8_t CodigoDe(std::string_view nome) {
  // For an operation known only by its name (code knows its opcode at compile time from the
  // list's traits): one hashed lookup, built once. The names are the list's string literals,
  // so the views stay valid.
  static const auto codigos = [] {
    std::unordered_map<std::string_view, uint8_t> m;
    const auto& c = Chamadas();
    for (size_t i = 0; i < c.size(); ++i)
      m.emplace(c[i].nome, static_cast<uint8_t>(kPrimeiraChamada + i));
    return m;
  }();
  const auto it = codigos.find(nome);
  if (it == codigos.end()) throw std::logic_error("operação sem código: " + std::string(nome));
  return it->second;
}

}  // namespace quorvel::protocol
