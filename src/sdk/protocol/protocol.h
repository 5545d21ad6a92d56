// The project's clock protocol: frames over a byte stream (TCP or serial), their encoding
// and a decoder that rejects anything malformed. See docs/protocol.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quorvel/codigos.h"

namespace quorvel::protocol {

inline constexpr uint8_t kMarca0 = 'Q', kMarca1 = 'V';
// The frame layout's version, in every frame header. It has not changed since the first
// protocol, so peers of any protocol version can read each other's hello and its answer.
inline constexpr uint8_t kVersaoDoQuadro = 1;
// The protocol's version, agreed in the hello: 2 added the read-ahead frame (kLeituraAntecipada),
// the pushed log size (kAssinatura), the log size at the end of a batch, the compact register run
// (kLogDeRegistros) and fingerprint punches dated by number in kLogDesde.
// 3 added the clock's model and firmware to the hello's answer.
// A peer of another version gets error frame -12 naming both versions.
inline constexpr uint8_t kVersaoDoProtocolo = 3;
inline constexpr size_t kTamanhoCabecalho = 12;  // magic(2) version(1) op(1) id(4) length(4)
inline constexpr size_t kTamanhoCrc = 4;
inline constexpr uint32_t kCargaMaxima = 4u << 20;  // no legitimate frame comes near this

// Frame types. A response carries the request's op with the high bit set.
enum TipoDeQuadro : uint8_t {
  kOla = 0x01,
  kProva = 0x02,
  kLote = 0x03,               // several next-item reads in one round trip
  kLogDesde = 0x04,           // the fingerprint clock's log from a position, for a reader's copy
  kLeituraAntecipada = 0x05,  // several template reads in one round trip, answered one by one
  kAssinatura = 0x06,         // the clock pushes its log's size to this link (frames with id 0)
  kLogDeRegistros = 0x07,     // register records in a compact run: no tags, no per-item dispatch
  kArquivoFiscal = 0x08,      // a part of a register clock's own fiscal file (AFD)
  kErro = 0x7F,
  // One op per device SDK operation from here, in the order of QUORVEL_OPERACOES_DE_CHAMADA.
  kPrimeiraChamada = 0x10,
  kBitDeResposta = 0x80,
};

// Malformed, oversized, truncated or out-of-order input: the peer broke the protocol.
struct ErroDeProtocolo : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint32_t Crc32c(const void* data, size_t size, uint32_t crc = 0);
// The two ways Crc32c computes, exposed so they can be checked against each other: the table
// (any processor) and the processor's instruction (used when the processor has it; on other
// machines it falls back to the table).
uint32_t Crc32cTabela(const void* data, size_t size, uint32_t crc = 0);
uint32_t Crc32cInstrucao(const void* data, size_t size, uint32_t crc = 0);
bool TemInstrucaoCrc();

struct Quadro {
  uint8_t op = 0;
  uint32_t id = 0;
  std::string carga;
};

std::string Codifica(const Quadro& quadro);

// Accumulates bytes and hands out whole frames. Never holds more than one maximal frame.
class Decodificador {
 public:
  void Alimenta(const char* dados, size_t tamanho);
  // The next complete frame, or nothing yet. Throws ErroDeProtocolo (bad magic, version,
  // length or checksum); the decoder is then unusable.
  std::optional<Quadro> Proximo();
  size_t Acumulados() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  size_t start_ = 0;
};

// Typed values of a call, in the order of the operation's parameters.
using Valor = std::variant<int32_t, bool, std::string>;

// Integers travel little-endian whatever the host's order; written and read a word at a
// time, since a punch run is mostly integers.
inline std::array<char, 4> PoeU32(uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
          static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}
inline uint32_t LeU32(const char* p) {
  return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24;
}

class Escritor {
 public:
  void U8(uint8_t v) { data_.push_back(static_cast<char>(v)); }
  void I32(int32_t v) { data_.append(PoeU32(static_cast<uint32_t>(v)).data(), 4); }
  void Texto(std::string_view s);
  void ValorTipado(const Valor& v);
  void Bytes(std::string_view b) { data_.append(b); }
  std::string& Dados() { return data_; }

 private:
  std::string data_;
};

class Leitor {
 public:
  explicit Leitor(std::string_view data) : data_(data) {}
  uint8_t U8();
  int32_t I32() {
    if (data_.size() - pos_ < 4) throw ErroDeProtocolo("mensagem truncada");
    const uint32_t v = LeU32(data_.data() + pos_);
    pos_ += 4;
    return static_cast<int32_t>(v);
  }
  std::string Texto();
  // The same text without a copy (valid while the message is).
  std::string_view TextoSemCopia();
  Valor ValorTipado();
  std::string_view Bytes(size_t n);
  bool NoFim() const { return pos_ == data_.size(); }
  size_t Posicao() const { return pos_; }
  void ExigeFim() const {
    if (!NoFim()) throw ErroDeProtocolo("bytes a mais no fim da mensagem");
  }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

// Signature of a device SDK operation as it travels: every parameter in order; the
// reference ones come back in the response.
enum class Tipo : uint8_t { Inteiro, Booleano, Texto };
struct Assinatura {
  const char* nome;
  std::vector<Tipo> parametros;
};
// The operations carried over the wire, in opcode order from kPrimeiraChamada.
const std::vector<Assinatura>& Chamadas();
// By name, for whoever has only the name; throws std::logic_error for an unknown one.
uint8_t CodigoDe(std::string_view nome);

}  // namespace quorvel::protocol
