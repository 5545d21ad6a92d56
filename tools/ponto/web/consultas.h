// What the page's JSON holds, made from the store: the same field names and types as ponto's
// own JSON output (`servico --estado` for clocks, `exportar` for punches), so a program reads
// either the same way.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "opcoes.h"
#include "store/armazem.h"

namespace ponto::web {

// A clock the page knows besides what the store says: from the service's clocks or a clocks
// file.
struct RelogioConhecido {
  int16_t codigo = 0;
  std::string modelo, endereco;
};

using Funcionarios = std::unordered_map<std::string, quorvel::armazem::Armazem::Funcionario>;

// Every clock known or reported on, problems first (no live collector, disconnected), then by
// code: `servico --estado`'s fields with `modelo` and `endereco` after `relogio` (null where
// unknown) and `problema` last (why the row is red; null when it is not).
nlohmann::ordered_json Relogios(const std::vector<quorvel::armazem::EstadoRelogio>& estados,
                                const std::vector<RelogioConhecido>& conhecidos);

// A punch as `exportar --formato json` gives it, with `nome` (the store's name for its PIS, or
// null) and `recebida_em` (when it was stored, UTC).
nlohmann::ordered_json Marcacao(const quorvel::armazem::MarcacaoArmazenada& m,
                                const Funcionarios& funcionarios);

// An employee as a person types one: a PIS or CPF (digits, punctuation allowed), a card
// number, or part of a name (case and accents ignored). Matched against the store's employees;
// at most 500 PIS. ErroDeUso for an empty term.
quorvel::armazem::FiltroFuncionario FuncionarioDe(const std::string& termo,
                                                  const Funcionarios& funcionarios);

// Query parameters as the options of a command: `de` is --de, `empregador_documento` is
// --empregador-documento. A parameter not in `aceitos` (option names) or given twice is an
// ErroDeUso naming it; one in `marcadores` (flags) is set by 1 or "sim", left out by 0.
Opcoes OpcoesDe(const std::multimap<std::string, std::string>& parametros,
                const std::set<std::string>& aceitos, const std::set<std::string>& marcadores = {});

// "1,2,5": clock codes 1..32767, at most 1000; ErroDeUso naming `nome` otherwise.
std::vector<int16_t> ListaDeRelogios(const std::string& texto, const std::string& nome);

}  // namespace ponto::web
