// Employees and templates as the tests stage them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/funcionario.h"

namespace quorvel::teste {

// What an employee is made of; what is left out stays as a new record has it.
// Every member has its own initializer, so a test names only the ones it cares about.
struct DadosFuncionario {
  std::string nome{}, senha{}, pis{}, cpf{}, cartao{};
  bool supervisor = false;
  std::vector<int32_t> dedos{};  // a template for each, in this order
  // The text of finger `dedo`'s template; none: templates without text.
  std::function<std::string(int32_t dedo)> texto{};
};

inline std::shared_ptr<Template> NovaDigital(int32_t dedo, std::string texto = {}) {
  auto t = std::make_shared<Template>();
  t->Dedo(dedo);
  t->Texto(std::move(texto));
  return t;
}

inline std::shared_ptr<FuncionarioCartao> NovoFuncionario(int32_t codigo,
                                                          DadosFuncionario dados = {}) {
  auto f = std::make_shared<FuncionarioCartao>();
  f->Codigo(codigo);
  f->Nome(std::move(dados.nome));
  f->Senha(std::move(dados.senha));
  f->PIS(std::move(dados.pis));
  f->CPF(std::move(dados.cpf));
  f->Cartao(std::move(dados.cartao));
  f->Supervisor(dados.supervisor);
  for (int32_t d : dados.dedos) f->AddTemplate(NovaDigital(d, dados.texto ? dados.texto(d) : ""));
  return f;
}

}  // namespace quorvel::teste
