#include "saida.h"

#include <algorithm>
#include <cstdio>

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

}  // namespace

Formato FormatoDe(const std::string& texto) {
  if (texto == "tabela") return Formato::Tabela;
  if (texto == "csv") return Formato::Csv;
  if (texto == "json") return Formato::Json;
  throw ErroDeUso("formato desconhecido: \"" + texto + "\" (use tabela, csv ou json).");
}

std::string EscapaJson(const std::string& s) {
  std::string r;
  r.reserve(s.size() + 2);
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        r += "\\\"";
        break;
      case '\\':
        r += "\\\\";
        break;
      case '\n':
        r += "\\n";
        break;
      case '\r':
        r += "\\r";
        break;
      case '\t':
        r += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          r += buf;
        } else {
          r += static_cast<char>(c);
        }
    }
  }
  return r;
}

void Imprime(std::ostream& out, const Tabela& t, Formato f) {
  if (f == Formato::Csv) {
    for (size_t i = 0; i < t.chaves.size(); ++i) out << (i ? ";" : "") << Csv(t.chaves[i]);
    out << '\n';
    for (const auto& l : t.linhas) {
      for (size_t i = 0; i < l.size(); ++i) out << (i ? ";" : "") << Csv(l[i]);
      out << '\n';
    }
    return;
  }
  if (f == Formato::Json) {
    out << "[";
    for (size_t j = 0; j < t.linhas.size(); ++j) {
      out << (j ? ",\n  {" : "\n  {");
      for (size_t i = 0; i < t.chaves.size(); ++i)
        out << (i ? ", " : "") << '"' << EscapaJson(t.chaves[i]) << "\": \""
            << EscapaJson(t.linhas[j][i]) << '"';
      out << "}";
    }
    out << (t.linhas.empty() ? "]\n" : "\n]\n");
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

}  // namespace ponto
