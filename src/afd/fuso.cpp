// Zone files are read in the database's own binary form (version 2 and later: 64-bit change
// instants, then the POSIX rule for what comes after the last one), not through the C library's
// TZ variable: that one is process-wide, and the web server exports from several threads.
#include "afd/fuso.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "afd/afd.h"

namespace quorvel::afd {
namespace {

constexpr size_t kMaiorArquivo = 1 << 20;  // a zone file is a few kilobytes

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DiasDesde1970(int64_t ano, int mes, int dia) {
  ano -= mes <= 2;
  const int64_t era = (ano >= 0 ? ano : ano - 399) / 400;
  const int64_t anoDaEra = ano - era * 400;
  const int64_t diaDoAno = (153 * (mes > 2 ? mes - 3 : mes + 9) + 2) / 5 + dia - 1;
  const int64_t diaDaEra = anoDaEra * 365 + anoDaEra / 4 - anoDaEra / 100 + diaDoAno;
  return era * 146097 + diaDaEra - 719468;
}

int AnoDe(int64_t segundos) {  // the calendar year of an instant counted from 1970
  int64_t dias = segundos / 86400 - (segundos % 86400 < 0 ? 1 : 0);
  dias += 719468;
  const int64_t era = (dias >= 0 ? dias : dias - 146096) / 146097;
  const int64_t diaDaEra = dias - era * 146097;
  const int64_t anoDaEra =
      (diaDaEra - diaDaEra / 1460 + diaDaEra / 36524 - diaDaEra / 146096) / 365;
  const int64_t diaDoAno = diaDaEra - (365 * anoDaEra + anoDaEra / 4 - anoDaEra / 100);
  const int64_t mp = (5 * diaDoAno + 2) / 153;
  return static_cast<int>(anoDaEra + era * 400 + (mp >= 10 ? 1 : 0));
}

bool Bissexto(int ano) { return (ano % 4 == 0 && ano % 100 != 0) || ano % 400 == 0; }

int DiasNoMes(int ano, int mes) {
  static constexpr int kDias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return mes == 2 && Bissexto(ano) ? 29 : kDias[mes - 1];
}

int64_t Grande(const unsigned char* p, int bytes) {  // big-endian, signed
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  if (bytes == 4) return static_cast<int32_t>(static_cast<uint32_t>(v));
  return static_cast<int64_t>(v);
}

// A zone name as the database spells them: no absolute path, no "." or ".." part.
bool NomeDeZona(std::string_view nome) {
  if (nome.empty() || nome.size() > 255 || nome.front() == '/' || nome.back() == '/') return false;
  size_t inicio = 0;
  for (size_t i = 0; i <= nome.size(); ++i) {
    if (i < nome.size() && nome[i] != '/') {
      const char c = nome[i];
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '_' || c == '-' || c == '+' || c == '.'))
        return false;
      continue;
    }
    const std::string_view parte = nome.substr(inicio, i - inicio);
    if (parte.empty() || parte == "." || parte == "..") return false;
    inicio = i + 1;
  }
  return true;
}

// Reads the POSIX rule's pieces in order.
class Leitor {
 public:
  explicit Leitor(std::string_view t) : t_(t) {}
  bool Fim() const { return p_ >= t_.size(); }
  bool Ve(char c) const { return !Fim() && t_[p_] == c; }
  bool Pula(char c) {
    if (!Ve(c)) return false;
    ++p_;
    return true;
  }
  bool Nome() {  // "<-03>" or three or more letters
    if (Pula('<')) {
      const size_t fim = t_.find('>', p_);
      if (fim == std::string_view::npos) return false;
      p_ = fim + 1;
      return true;
    }
    const size_t inicio = p_;
    while (!Fim() && ((t_[p_] >= 'A' && t_[p_] <= 'Z') || (t_[p_] >= 'a' && t_[p_] <= 'z'))) ++p_;
    return p_ - inicio >= 3;
  }
  bool Numero(int& v) {
    const size_t inicio = p_;
    v = 0;
    while (!Fim() && t_[p_] >= '0' && t_[p_] <= '9' && p_ - inicio < 4)
      v = v * 10 + (t_[p_++] - '0');
    return p_ > inicio;
  }
  // [+-]hh[:mm[:ss]] in seconds, with its sign.
  bool Hora(int32_t& segundos) {
    int sinal = 1;
    if (Pula('-'))
      sinal = -1;
    else
      Pula('+');
    int h = 0, m = 0, s = 0;
    if (!Numero(h) || h > 167) return false;
    if (Pula(':') && (!Numero(m) || m > 59 || (Pula(':') && (!Numero(s) || s > 59)))) return false;
    segundos = sinal * (h * 3600 + m * 60 + s);
    return true;
  }

 private:
  std::string_view t_;
  size_t p_ = 0;
};

}  // namespace

std::optional<Fuso> Fuso::De(std::string_view texto, std::string* motivo) {
  if (const auto minutos = FusoDe(texto)) return Fixo(*minutos);
  if (!NomeDeZona(texto) || texto.find_first_of("0123456789") == 0) {
    if (motivo)
      *motivo = "use um deslocamento como -0300 ou o nome de um fuso, como America/Sao_Paulo";
    return std::nullopt;
  }
  const char* pasta = std::getenv("TZDIR");
  return DaPasta(pasta && *pasta ? pasta : "/usr/share/zoneinfo", texto, motivo);
}

Fuso Fuso::Fixo(int minutos) {
  Fuso f;
  f.fixo_ = minutos * 60;
  f.nome_ = TextoFuso(minutos);
  return f;
}

std::optional<Fuso> Fuso::DaPasta(const std::string& pasta, std::string_view nome,
                                  std::string* motivo) {
  auto falha = [&](const std::string& porque) -> std::optional<Fuso> {
    if (motivo) *motivo = porque;
    return std::nullopt;
  };
  if (!NomeDeZona(nome)) return falha("nome de fuso inválido");
  std::ifstream arquivo(pasta + "/" + std::string(nome), std::ios::binary);
  if (!arquivo) return falha("fuso desconhecido (não está em " + pasta + ")");
  std::string dados;
  dados.resize(kMaiorArquivo + 1);
  arquivo.read(dados.data(), static_cast<std::streamsize>(dados.size()));
  dados.resize(static_cast<size_t>(arquivo.gcount()));
  if (dados.size() > kMaiorArquivo || dados.size() < 44 || dados.compare(0, 4, "TZif") != 0)
    return falha("o arquivo do fuso não é um arquivo de fusos");

  const auto* b = reinterpret_cast<const unsigned char*>(dados.data());
  size_t p = 0;
  // One header and its data block; `largura` is 4 in the first block, 8 in the second.
  struct Contagens {
    int64_t utc, padrao, saltos, transicoes, tipos, letras;
  };
  auto cabecalho = [&](Contagens& c) {
    if (p + 44 > dados.size() || dados.compare(p, 4, "TZif") != 0) return false;
    c = {Grande(b + p + 20, 4), Grande(b + p + 24, 4), Grande(b + p + 28, 4),
         Grande(b + p + 32, 4), Grande(b + p + 36, 4), Grande(b + p + 40, 4)};
    p += 44;
    return c.utc >= 0 && c.padrao >= 0 && c.saltos >= 0 && c.transicoes >= 0 && c.tipos >= 1 &&
           c.tipos <= 256 && c.letras >= 0;
  };
  auto tamanhoDoBloco = [](const Contagens& c, int largura) {
    return c.transicoes * largura + c.transicoes + c.tipos * 6 + c.letras +
           c.saltos * (largura + 4) + c.padrao + c.utc;
  };
  Contagens c{};
  if (!cabecalho(c)) return falha("o arquivo do fuso está danificado");
  const char versao = dados[4];
  int largura = 4;
  if (versao >= '2') {
    p += static_cast<size_t>(tamanhoDoBloco(c, 4));
    if (!cabecalho(c)) return falha("o arquivo do fuso está danificado");
    largura = 8;
  }
  if (p + static_cast<size_t>(tamanhoDoBloco(c, largura)) > dados.size())
    return falha("o arquivo do fuso está truncado");

  Fuso f;
  f.nome_ = std::string(nome);
  f.zona_ = true;
  const unsigned char* instantes = b + p;
  const unsigned char* indices = instantes + c.transicoes * largura;
  const unsigned char* tipos = indices + c.transicoes;
  std::vector<int32_t> deslocamentos;
  for (int64_t i = 0; i < c.tipos; ++i) {
    const int64_t d = Grande(tipos + i * 6, 4);
    if (d < -26 * 3600 || d > 26 * 3600) return falha("o arquivo do fuso está danificado");
    deslocamentos.push_back(static_cast<int32_t>(d));
  }
  for (int64_t i = 0; i < c.transicoes; ++i) {
    const int64_t instante = Grande(instantes + i * largura, largura);
    if (indices[i] >= deslocamentos.size() ||
        (!f.transicoes_.empty() && instante <= f.transicoes_.back()))
      return falha("o arquivo do fuso está danificado");
    f.transicoes_.push_back(instante);
    f.depois_.push_back(deslocamentos[indices[i]]);
  }
  f.antes_ = deslocamentos[0];
  p += static_cast<size_t>(tamanhoDoBloco(c, largura));
  // The footer: "\n<rule>\n".
  if (largura == 8 && p < dados.size() && dados[p] == '\n') {
    const size_t fim = dados.find('\n', p + 1);
    if (fim != std::string::npos && fim > p + 1) {
      f.regra_ = LeRegra(std::string_view(dados).substr(p + 1, fim - p - 1));
      if (!f.regra_) return falha("a regra do fuso não pôde ser lida");
    }
  }
  return f;
}

std::optional<Fuso::Regra> Fuso::LeRegra(std::string_view texto) {
  Leitor l(texto);
  Regra r;
  int32_t oeste = 0;
  if (!l.Nome() || !l.Hora(oeste)) return std::nullopt;
  r.padrao = -oeste;
  if (l.Fim()) return r;
  if (!l.Nome()) return std::nullopt;
  r.temVerao = true;
  r.verao = r.padrao + 3600;
  if (!l.Ve(',') && !l.Fim()) {
    if (!l.Hora(oeste)) return std::nullopt;
    r.verao = -oeste;
  }
  // Without the rule's dates the zone's summer time cannot be placed: the standard offset.
  if (!l.Pula(',')) {
    r.temVerao = false;
    return r;
  }
  auto dia = [&](Regra::Dia& d) {
    if (l.Pula('M')) {
      d.tipo = 'M';
      if (!l.Numero(d.mes) || !l.Pula('.') || !l.Numero(d.semana) || !l.Pula('.') ||
          !l.Numero(d.diaSemana) || d.mes < 1 || d.mes > 12 || d.semana < 1 || d.semana > 5 ||
          d.diaSemana > 6)
        return false;
    } else if (l.Pula('J')) {
      d.tipo = 'J';
      if (!l.Numero(d.dia) || d.dia < 1 || d.dia > 365) return false;
    } else {
      d.tipo = 'N';
      if (!l.Numero(d.dia) || d.dia > 365) return false;
    }
    return !l.Pula('/') || l.Hora(d.hora);
  };
  if (!dia(r.inicio) || !l.Pula(',') || !dia(r.fim) || !l.Fim()) return std::nullopt;
  return r;
}

int64_t Fuso::InstanteDa(const Regra::Dia& d, int ano, int32_t deslocamento) {
  int64_t dias = 0;
  if (d.tipo == 'M') {
    const int64_t primeiro = DiasDesde1970(ano, d.mes, 1);
    const int semanaDoPrimeiro = static_cast<int>(((primeiro + 4) % 7 + 7) % 7);  // 0 = Sunday
    int diaDoMes = 1 + (d.diaSemana - semanaDoPrimeiro + 7) % 7 + (d.semana - 1) * 7;
    while (diaDoMes > DiasNoMes(ano, d.mes)) diaDoMes -= 7;
    dias = primeiro + diaDoMes - 1;
  } else if (d.tipo == 'J') {
    dias = DiasDesde1970(ano, 1, 1) + d.dia - 1 + (Bissexto(ano) && d.dia >= 60 ? 1 : 0);
  } else {
    dias = DiasDesde1970(ano, 1, 1) + d.dia;
  }
  return dias * 86400 + d.hora - deslocamento;
}

int32_t Fuso::SegundosEmUtc(int64_t utc) const {
  if (!zona_) return fixo_;
  const auto depois = std::upper_bound(transicoes_.begin(), transicoes_.end(), utc);
  if (depois == transicoes_.begin() && !transicoes_.empty()) return antes_;
  if (depois != transicoes_.end() || !regra_)
    return transicoes_.empty() ? antes_
                               : depois_[static_cast<size_t>(depois - transicoes_.begin()) - 1];
  const Regra& r = *regra_;
  if (!r.temVerao) return r.padrao;
  const int ano = AnoDe(utc + r.padrao);
  const int64_t inicio = InstanteDa(r.inicio, ano, r.padrao);
  const int64_t fim = InstanteDa(r.fim, ano, r.verao);
  // Southern zones have their summer across the turn of the year: start after end.
  const bool verao = inicio < fim ? utc >= inicio && utc < fim : !(utc >= fim && utc < inicio);
  return verao ? r.verao : r.padrao;
}

int Fuso::MinutosEmUtc(int64_t utc) const { return SegundosEmUtc(utc) / 60; }

int Fuso::MinutosNoLocal(DataHora local) const {
  if (!zona_) return fixo_ / 60;
  static const int64_t k1970 = DataHora::DePartes(1970, 1, 1).Segundos();
  const int64_t parede = local.Segundos() - k1970;  // the wall time read as if it were UTC
  // The offsets in force a day before and a day after: changes are never closer than that. A
  // wall time is taken under an offset that leads back to itself; under both (it happens
  // twice), the first; under neither (it never happens), the one before.
  const int32_t antes = SegundosEmUtc(parede - 86400), depois = SegundosEmUtc(parede + 86400);
  const bool antesServe = SegundosEmUtc(parede - antes) == antes;
  const bool depoisServe = SegundosEmUtc(parede - depois) == depois;
  if (antesServe && depoisServe) return std::max(antes, depois) / 60;
  if (depoisServe) return depois / 60;
  return antes / 60;
}

}  // namespace quorvel::afd
