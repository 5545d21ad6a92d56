#include "saida.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>

#include "opcoes.h"

namespace ponto {

namespace {

// Characters, not bytes: UTF-8 continuation bytes do not take a column.
size_t Largura(const std::string& s) {
  return static_cast<size_t>(std::count_if(
      s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string Csv(const std::string& s) {
  if (s.find_first_of(";\"\n\r") == std::string::npos) return s;
  std::string r = "\"";
  for (char c : s) {
    if (c == '"') r += '"';
    r += c;
  }
  return r + "\"";
}

constexpr size_t kTamanhoDoBuffer = size_t{1} << 20;

}  // namespace

void ImprimeFluxo(std::ostream& out, const std::vector<std::string>& colunas,
                  const std::vector<std::string>& chaves, Formato f, bool bom,
                  const ProdutorDeLinhas& produz) {
  if (f == Formato::Csv) {
    if (bom) out << "\xEF\xBB\xBF";
    LinhaCsv(out, chaves);
    produz([&](const Linha& l) { LinhaCsv(out, l); });
    return;
  }
  if (f == Formato::Json) {
    // The array Imprime writes, one element at a time: each object indented under the bracket.
    Tabela uma{colunas, chaves, {Linha()}};
    bool primeira = true;
    produz([&](const Linha& l) {
      uma.linhas[0] = l;
      const std::string objeto = ObjetoJson(uma, 0).dump(2);
      out << (primeira ? "[\n  " : ",\n  ");
      primeira = false;
      for (char c : objeto) {
        out << c;
        if (c == '\n') out << "  ";
      }
    });
    out << (primeira ? "[]\n" : "\n]\n");
    return;
  }
  std::vector<size_t> larguras(colunas.size());
  for (size_t i = 0; i < colunas.size(); ++i) larguras[i] = Largura(colunas[i]);
  produz([&](const Linha& l) {
    for (size_t i = 0; i < l.size() && i < larguras.size(); ++i)
      larguras[i] = std::max(larguras[i], Largura(l[i]));
  });
  std::string s;
  auto linha = [&](const Linha& celulas) {
    s.clear();
    for (size_t i = 0; i < celulas.size(); ++i) {
      if (i) s += "  ";
      s += celulas[i];
      if (i + 1 < celulas.size()) s.append(larguras[i] - Largura(celulas[i]), ' ');
    }
    out << s << '\n';
  };
  linha(colunas);
  Linha tracos;
  for (size_t w : larguras) tracos.emplace_back(w, '-');
  linha(tracos);
  produz(linha);
}

void LinhaCsv(std::ostream& out, const std::vector<std::string>& campos) {
  for (size_t i = 0; i < campos.size(); ++i) out << (i ? ";" : "") << Csv(campos[i]);
  out << '\n';
}

Formato FormatoDe(const std::string& texto) {
  if (texto == "tabela") return Formato::Tabela;
  if (texto == "csv") return Formato::Csv;
  if (texto == "json") return Formato::Json;
  throw ErroDeUso("formato desconhecido: \"" + texto + "\" (use tabela, csv ou json).");
}

nlohmann::ordered_json ValorJson(const std::string& chave, const std::string& texto) {
  // Fields that are numbers or yes/no for a program; codes like PIS, CPF and NSR stay text
  // (their leading zeros matter). An empty cell is an absent value.
  static const std::set<std::string> kNumeros = {"relogio",
                                                 "cartao",
                                                 "codigo",
                                                 "usuarios",
                                                 "administradores",
                                                 "senhas",
                                                 "digitais",
                                                 "marcacoes",
                                                 "capacidade_registros",
                                                 "ocupacao_percentual",
                                                 "lidas",
                                                 "novas",
                                                 "marcacoes_hoje",
                                                 "arrendamento_segundos"};
  static const std::set<std::string> kLogicos = {"digital", "supervisor", "tem_senha", "conectado",
                                                 "arrendamento_vivo"};
  // Lists are one cell in a table or CSV (times separated by spaces, fingers by commas);
  // JSON gives them as arrays (empty for none): texts of hh:mm, finger numbers.
  if (chave == "horarios" || chave == "dedos") {
    const char separador = chave == "horarios" ? ' ' : ',';
    nlohmann::ordered_json lista = nlohmann::ordered_json::array();
    for (size_t i = 0; i < texto.size();) {
      const size_t fim = std::min(texto.find(separador, i), texto.size());
      const std::string item = texto.substr(i, fim - i);
      if (!item.empty()) {
        if (chave == "dedos" && NumeroDe(item))
          lista.push_back(*NumeroDe(item));
        else
          lista.push_back(item);
      }
      i = fim + 1;
    }
    return lista;
  }
  if (texto.empty()) return nullptr;
  if (kLogicos.count(chave)) {
    if (texto == "sim") return true;
    if (texto == "não") return false;
  }
  if (kNumeros.count(chave)) {
    if (auto n = NumeroDe(texto)) return *n;
    char* fim = nullptr;
    const double d = std::strtod(texto.c_str(), &fim);
    if (fim && *fim == '\0') return d;
  }
  return texto;
}

nlohmann::ordered_json ObjetoJson(const Tabela& t, size_t linha) {
  nlohmann::ordered_json o = nlohmann::ordered_json::object();
  for (size_t i = 0; i < t.chaves.size(); ++i) {
    const std::string& texto = i < t.linhas[linha].size() ? t.linhas[linha][i] : "";
    if (t.textos.count(t.chaves[i]))
      o[t.chaves[i]] =
          texto.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(texto);
    else
      o[t.chaves[i]] = ValorJson(t.chaves[i], texto);
  }
  return o;
}

void Imprime(std::ostream& out, const Tabela& t, Formato f, bool bom) {
  if (f == Formato::Csv) {
    // Spreadsheet programs take UTF-8 only with the byte-order mark in front.
    if (bom) out << "\xEF\xBB\xBF";
    for (size_t i = 0; i < t.chaves.size(); ++i) out << (i ? ";" : "") << Csv(t.chaves[i]);
    out << '\n';
    for (const auto& l : t.linhas) {
      for (size_t i = 0; i < l.size(); ++i) out << (i ? ";" : "") << Csv(l[i]);
      out << '\n';
    }
    return;
  }
  if (f == Formato::Json) {
    nlohmann::ordered_json lista = nlohmann::ordered_json::array();
    for (size_t j = 0; j < t.linhas.size(); ++j) lista.push_back(ObjetoJson(t, j));
    out << lista.dump(2) << '\n';
    return;
  }
  std::vector<size_t> larguras(t.colunas.size());
  for (size_t i = 0; i < t.colunas.size(); ++i) larguras[i] = Largura(t.colunas[i]);
  for (const auto& l : t.linhas)
    for (size_t i = 0; i < l.size() && i < larguras.size(); ++i)
      larguras[i] = std::max(larguras[i], Largura(l[i]));
  auto linha = [&](const std::vector<std::string>& celulas) {
    std::string s;
    for (size_t i = 0; i < celulas.size(); ++i) {
      if (i) s += "  ";
      s += celulas[i];
      if (i + 1 < celulas.size()) s.append(larguras[i] - Largura(celulas[i]), ' ');
    }
    out << s << '\n';
  };
  linha(t.colunas);
  std::vector<std::string> tracos;
  for (size_t w : larguras) tracos.emplace_back(w, '-');
  linha(tracos);
  for (const auto& l : t.linhas) linha(l);
}

SaidaDeMarcacoes::SaidaDeMarcacoes(std::ostream& out, Formato f, bool bom) : out_(out), f_(f) {
  buf_.reserve(kTamanhoDoBuffer + 4096);
  if (f_ == Formato::Csv)
    buf_ += bom ? "\xEF\xBB\xBFrelogio;data_hora;cartao;digital;nsr;pis\n"
                : "relogio;data_hora;cartao;digital;nsr;pis\n";
}

void SaidaDeMarcacoes::Numero(int64_t n) {
  char b[24];
  const auto r = std::to_chars(b, b + sizeof b, n);
  buf_.append(b, r.ptr);
}

void SaidaDeMarcacoes::Texto(std::string_view t) {
  if (f_ == Formato::Csv) {
    // By hand: find_first_of asks memchr once per character of the field, which was a tenth
    // of printing a large collection.
    const bool simples = std::none_of(
        t.begin(), t.end(), [](char c) { return c == ';' || c == '"' || c == '\n' || c == '\r'; });
    if (simples) {
      buf_ += t;
      return;
    }
    buf_ += '"';
    for (char c : t) {
      if (c == '"') buf_ += '"';
      buf_ += c;
    }
    buf_ += '"';
    return;
  }
  // A JSON string, escaped as the JSON library escapes it.
  buf_ += '"';
  for (char c : t) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        buf_ += "\\\"";
        break;
      case '\\':
        buf_ += "\\\\";
        break;
      case '\b':
        buf_ += "\\b";
        break;
      case '\f':
        buf_ += "\\f";
        break;
      case '\n':
        buf_ += "\\n";
        break;
      case '\r':
        buf_ += "\\r";
        break;
      case '\t':
        buf_ += "\\t";
        break;
      default:
        if (u < 0x20) {
          char e[8];
          std::snprintf(e, sizeof e, "\\u%04x", u);
          buf_ += e;
        } else {
          buf_ += c;
        }
    }
  }
  buf_ += '"';
}

void SaidaDeMarcacoes::Adiciona(int16_t relogio, quorvel::DataHora quando, bool registro,
                                int32_t cartao, bool digital, std::string_view nsr,
                                std::string_view pis) {
  // Punches come in runs of the same day: the day's part is written once per day, the time of
  // day from the seconds.
  const int64_t segundos = quando.Segundos();
  const int64_t dia = segundos >= 0 ? segundos / 86400 : -((-segundos + 86399) / 86400);
  if (!temDia_ || dia != dia_) {
    const quorvel::PartesDataHora p = quorvel::DataHora::DeSegundos(dia * 86400).Partes();
    diaNoFormato_ = p.ano >= 0 && p.ano <= 9999;
    if (diaNoFormato_) {
      const int32_t campos[4] = {p.ano / 100, p.ano % 100, p.mes, p.dia};
      const int posicoes[4] = {0, 2, 5, 8};
      for (int i = 0; i < 4; ++i) {
        data_[posicoes[i]] = static_cast<char>('0' + campos[i] / 10);
        data_[posicoes[i] + 1] = static_cast<char>('0' + campos[i] % 10);
      }
      data_[4] = '-', data_[7] = '-', data_[10] = ' ', data_[13] = ':', data_[16] = ':';
    }
    dia_ = dia;
    temDia_ = true;
  }
  std::string_view dataTexto;
  std::string outra;
  if (diaNoFormato_) {
    const auto resto = static_cast<int32_t>(segundos - dia * 86400);
    const int32_t partes[3] = {resto / 3600, resto / 60 % 60, resto % 60};
    for (int i = 0; i < 3; ++i) {
      data_[11 + 3 * i] = static_cast<char>('0' + partes[i] / 10);
      data_[12 + 3 * i] = static_cast<char>('0' + partes[i] % 10);
    }
    dataTexto = std::string_view(data_, 19);
  } else {
    outra = quando.FormataIso();
    dataTexto = outra;
  }
  if (f_ == Formato::Csv) {
    Numero(relogio);
    buf_ += ';';
    buf_ += dataTexto;
    buf_ += ';';
    if (!registro) {
      Numero(cartao);
      buf_ += digital ? ";sim;" : ";não;";
    } else {
      buf_ += ";;";
    }
    Texto(nsr);
    buf_ += ';';
    Texto(pis);
    buf_ += '\n';
  } else {
    buf_ += primeira_ ? "[\n  {\n    \"relogio\": " : ",\n  {\n    \"relogio\": ";
    primeira_ = false;
    Numero(relogio);
    buf_ += ",\n    \"data_hora\": \"";
    buf_ += dataTexto;
    buf_ += "\",\n    \"cartao\": ";
    if (registro) {
      buf_ += "null,\n    \"digital\": null";
    } else {
      Numero(cartao);
      buf_ += digital ? ",\n    \"digital\": true" : ",\n    \"digital\": false";
    }
    buf_ += ",\n    \"nsr\": ";
    if (nsr.empty())
      buf_ += "null";
    else
      Texto(nsr);
    buf_ += ",\n    \"pis\": ";
    if (pis.empty())
      buf_ += "null";
    else
      Texto(pis);
    buf_ += "\n  }";
  }
  if (buf_.size() >= kTamanhoDoBuffer) Descarrega();
}

void SaidaDeMarcacoes::Termina() {
  if (f_ == Formato::Json) buf_ += primeira_ ? "[]\n" : "\n]\n";
  Descarrega();
  out_.flush();
}

void SaidaDeMarcacoes::Descarrega() {
  out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
  buf_.clear();
}

std::string FormataData(quorvel::DataHora d, Formato f) {
  return f == Formato::Tabela ? d.FormataBrasileiro() : d.FormataIso();
}

std::string DataDoBanco(const std::string& texto, Formato f) {
  if (f != Formato::Tabela || texto.empty()) return texto;
  std::tm tm{};
  if (const char* fim = strptime(texto.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm); fim && !*fim) {
    const std::time_t quando = timegm(&tm);
    std::tm local{};
    localtime_r(&quando, &local);
    return quorvel::DataHora::DePartes(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                       local.tm_hour, local.tm_min, local.tm_sec)
        .FormataBrasileiro();
  }
  quorvel::DataHora d;
  if (texto.size() == 19 && texto[4] == '-' &&
      quorvel::DataHora::TentaDeTexto(texto, quorvel::ConfiguracaoRegional{}, d))
    return d.FormataBrasileiro();
  return texto;
}

bool ProgressoVisivel() { return isatty(STDERR_FILENO) != 0; }

void Progresso(const std::string& texto) {
  if (ProgressoVisivel()) std::cerr << "\r\033[K" << texto << std::flush;
}

void FimProgresso() {
  if (ProgressoVisivel()) std::cerr << "\r\033[K" << std::flush;
}

}  // namespace ponto
