// Results as an aligned table for people, or CSV / JSON for programs.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/data_hora.h"

namespace ponto {

enum class Formato { Tabela, Csv, Json };

Formato FormatoDe(const std::string& texto);  // ErroDeUso for anything else

struct Tabela {
  std::vector<std::string> colunas;  // headings shown to people
  std::vector<std::string> chaves;   // field names for CSV and JSON
  std::vector<std::vector<std::string>> linhas;
  // Fields that stay text in JSON in this table although the same name is a number elsewhere
  // (an employee's card, up to 20 characters, against a punch's card code).
  std::set<std::string> textos = {};
};

// Table: aligned columns (by characters, accents included). CSV: ';'-separated with quoting,
// a header of field names. JSON: an array of objects with the field names.
// JSON values are typed: counts and codes as numbers, yes/no fields as booleans, an empty cell
// as null; PIS, CPF, NSR and dates stay text. `bom` puts the UTF-8 byte-order mark before CSV.
void Imprime(std::ostream& out, const Tabela& t, Formato f, bool bom = false);
// Rows made one at a time, printed in the layout Imprime gives the same rows, without holding
// them: `produz(visita)` hands every row to `visita`. For the table it is called twice (the
// column widths first), so it must produce the same rows each time.
using Linha = std::vector<std::string>;
using ProdutorDeLinhas = std::function<void(const std::function<void(const Linha&)>&)>;
void ImprimeFluxo(std::ostream& out, const std::vector<std::string>& colunas,
                  const std::vector<std::string>& chaves, Formato f, bool bom,
                  const ProdutorDeLinhas& produz);
// One CSV row as Imprime writes it, for output streamed row by row.
void LinhaCsv(std::ostream& out, const std::vector<std::string>& campos);
// One row as the JSON object Imprime writes for it (what monitorar prints one per line).
nlohmann::ordered_json ObjetoJson(const Tabela& t, size_t linha);

// Punches as coletar prints them in CSV and JSON, formatted straight into a byte buffer that
// goes to `out` a megabyte at a time: no texts, containers or indirect calls per punch, so the
// output keeps up with the wire. The bytes are the ones ImprimeFluxo writes for the same rows
// (columns relogio, data_hora, cartao, digital, nsr, pis; register punches without card and
// digital).
class SaidaDeMarcacoes {
 public:
  SaidaDeMarcacoes(std::ostream& out, Formato f, bool bom);  // f: Csv or Json
  void Adiciona(int16_t relogio, quorvel::DataHora quando, bool registro, int32_t cartao,
                bool digital, std::string_view nsr, std::string_view pis);
  // Closes the JSON array and hands out what is left; the output is whole only after it.
  void Termina();

 private:
  void Numero(int64_t n);
  void Texto(std::string_view t);  // as a CSV field or a JSON string
  void Descarrega();

  std::ostream& out_;
  const Formato f_;
  std::string buf_;
  bool primeira_ = true;
  // The day of the last punch written and its "aaaa-mm-dd " (false: a year the form cannot
  // hold, written by the general conversion).
  bool temDia_ = false, diaNoFormato_ = false;
  int64_t dia_ = 0;
  char data_[20] = {};
};

// Dates in one form per kind of output: dd/mm/aaaa hh:mm:ss in tables, ISO (aaaa-mm-dd
// hh:mm:ss) in CSV and JSON.
std::string FormataData(quorvel::DataHora d, Formato f);
// A date the store wrote (ISO "aaaa-mm-dd hh:mm:ss", the clock's time; or UTC
// "aaaa-mm-ddThh:mm:ssZ", the computer's, shown in local time) for a table; anything else, and
// every date for CSV and JSON, unchanged.
std::string DataDoBanco(const std::string& texto, Formato f);

// Progress on long work, on the terminal only: a line rewritten in place, then cleared.
bool ProgressoVisivel();
void Progresso(const std::string& texto);
void FimProgresso();

}  // namespace ponto
