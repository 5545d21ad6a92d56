#include "sdk/rede/log_digital.h"

#include <cstring>

#include "quorvel/data_hora.h"

namespace quorvel::sdk::rede {

using namespace protocol;

void LogDigital::Copia::push_back(const Registro& r) {
  if (tamanho_ == blocos_.size() * kPorBloco)
    blocos_.push_back(std::make_unique_for_overwrite<Registro[]>(kPorBloco));
  blocos_[tamanho_ / kPorBloco][tamanho_ % kPorBloco] = r;
  ++tamanho_;
}

void LogDigital::Copia::clear() {
  blocos_.clear();
  tamanho_ = 0;
}

void LogDigital::Recomeca() {
  cursor_ = 0;
  pendente_ = true;  // checked at the first read: register clocks never read it
  mais_ = false;
}

bool LogDigital::Proximo(int32_t& c, int32_t& v, int32_t& mo, std::string& t) {
  // The first read makes sure the copy is still this clock's log; later chunks are fetched
  // only as the walk reaches them, so a link that falls mid-log leaves what came usable.
  if (pendente_) {
    if (!Busca()) return false;
    pendente_ = false;
  }
  while (cursor_ >= copia_.size() && mais_)
    if (!Busca()) return false;
  if (cursor_ >= copia_.size()) {
    ultimoErro_ = codigo::kNaoEncontrado;
    return false;
  }
  const Registro& r = copia_[cursor_++];
  c = r.cartao, v = r.valor, mo = r.modo;
  if (r.texto < 0)
    TextoDaData(r.segundos, t);
  else
    t = textos_[static_cast<size_t>(r.texto)];
  ultimoErro_ = 0;
  return true;
}

// "yyyy-MM-dd hh:mm:ss" from a number: the date part is made once per day.
void LogDigital::TextoDaData(int64_t segundos, std::string& t) {
  const int64_t dia = segundos >= 0 ? segundos / 86400 : -((-segundos + 86399) / 86400);
  if (dia != diaDoTexto_ || prefixoDoDia_.empty()) {
    prefixoDoDia_ = DataHora::DeSegundos(dia * 86400).FormataIso().substr(0, 11);
    diaDoTexto_ = dia;
  }
  const auto resto = static_cast<int32_t>(segundos - dia * 86400);
  const int32_t partes[3] = {resto / 3600, resto / 60 % 60, resto % 60};
  // Written in place: a text of the same length keeps its buffer, so no allocation.
  t.resize(19);
  char* p = t.data();
  std::memcpy(p, prefixoDoDia_.data(), 11);
  for (int i = 0; i < 3; ++i) {
    p[11 + 3 * i] = static_cast<char>('0' + partes[i] / 10);
    p[12 + 3 * i] = static_cast<char>('0' + partes[i] % 10);
    if (i < 2) p[13 + 3 * i] = ':';
  }
}

// The request for the log after the copy: which log the copy is of, and how much it holds.
std::string LogDigital::PedidoDesde() const {
  Escritor w;
  w.I32(static_cast<int32_t>(geracao_ & 0xFFFFFFFFu));
  w.I32(static_cast<int32_t>(geracao_ >> 32));
  w.I32(static_cast<int32_t>(copia_.size()));
  return std::move(w.Dados());
}

// Fetches the next chunk of the log after the copy; another log (erased, another clock,
// another run) replaces the copy from its start.
bool LogDigital::Busca() {
  return enlace_.Pede(
      kLogDesde, PedidoDesde(),
      [&](Leitor& r, Quadro&) {
        const uint64_t geracao = static_cast<uint32_t>(r.I32()) |
                                 (static_cast<uint64_t>(static_cast<uint32_t>(r.I32())) << 32);
        const int32_t inicio = r.I32();
        const int32_t n = r.I32();
        if (inicio < 0 || n < 0 || n > 1'000'000) enlace_.Violacao("log malformado");
        if (geracao != geracao_ || static_cast<size_t>(inicio) != copia_.size()) {
          if (inicio != 0) enlace_.Violacao("log fora de ordem");
          copia_.clear();
          textos_.clear();
          cursor_ = 0;
          geracao_ = geracao;
        }
        static const int64_t kMenor = DataHora::DePartes(100, 1, 1).Segundos();
        static const int64_t kMaior = DataHora::DePartes(9999, 12, 31, 23, 59, 59).Segundos();
        for (int32_t i = 0; i < n; ++i) {
          Registro reg;
          reg.cartao = r.I32();
          reg.valor = r.I32();
          reg.modo = r.I32();
          reg.texto = -1;
          reg.segundos = 0;
          const uint8_t tipo = r.U8();
          if (tipo == 0) {
            const auto baixo = static_cast<uint32_t>(r.I32());
            const auto alto = static_cast<uint32_t>(r.I32());
            reg.segundos = static_cast<int64_t>((static_cast<uint64_t>(alto) << 32) | baixo);
            if (reg.segundos < kMenor || reg.segundos > kMaior)
              enlace_.Violacao("data fora do calendário");
          } else if (tipo == 1) {
            std::string texto = r.Texto();
            if (texto.empty()) enlace_.Violacao("data vazia");
            reg.texto = static_cast<int32_t>(textos_.size());
            textos_.push_back(std::move(texto));
          } else {
            enlace_.Violacao("tipo de data desconhecido");
          }
          copia_.push_back(reg);
        }
        const uint8_t mais = r.U8();
        r.ExigeFim();
        if (mais != 0 && n == 0) enlace_.Violacao("log sem progresso");
        mais_ = mais != 0;
        if (mais_) enlace_.PedeAdiantado(kLogDesde, PedidoDesde());
        return true;
      },
      /*adiantada=*/true);
}

}  // namespace quorvel::sdk::rede
