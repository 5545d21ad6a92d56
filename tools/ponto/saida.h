// Results as an aligned table for people, or CSV / JSON for programs.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ponto {

enum class Formato { Tabela, Csv, Json };

Formato FormatoDe(const std::string& texto);  // ErroDeUso for anything else

struct Tabela {
  std::vector<std::string> colunas;  // headings shown to people
  std::vector<std::string> chaves;   // field names for CSV and JSON
  std::vector<std::vector<std::string>> linhas;
};

// Table: aligned columns (by characters, accents included). CSV: ';'-separated with quoting,
// a header of field names. JSON: an array of objects with the field names.
void Imprime(std::ostream& out, const Tabela& t, Formato f);

std::string EscapaJson(const std::string& s);

}  // namespace ponto
