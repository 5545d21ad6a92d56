// Employees and clocks read from files. Every row is checked before anything is used, and a
// bad row is reported by its number.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "quorvel/funcionario.h"
#include "quorvel/relogio.h"

namespace ponto {

// CSV (';' or ',' separated, header "codigo;nome;senha;supervisor;cartao;pis;cpf;digitais",
// digitais as "dedo:template|dedo:template") or JSON (an array of objects with those fields,
// "digitais" an array of {"dedo": n, "template": "..."}), chosen by the file's extension.
// Throws ErroDeUso naming the file and the row of the first problem.
std::vector<std::shared_ptr<quorvel::FuncionarioCartao>> LeFuncionarios(const std::string& caminho);
std::vector<std::shared_ptr<quorvel::FuncionarioCartao>> LeFuncionariosCsv(const std::string& texto,
                                                                           const std::string& nome);
std::vector<std::shared_ptr<quorvel::FuncionarioCartao>> LeFuncionariosJson(
    const std::string& texto, const std::string& nome);

// One clock per line: "codigo;endereço;modelo" or "codigo;serial:PORTA;modelo" (modelo is
// quorvel or tarvenix); blank lines and lines starting with '#' are skipped.
std::vector<std::shared_ptr<quorvel::Relogio>> LeRelogios(const std::string& caminho);

quorvel::EModeloRelogio ModeloDe(const std::string& texto);  // ErroDeUso for anything else

}  // namespace ponto
