// The employees the send benchmarks stage in a control: each with a password, a PIS and two
// 600-character templates (about the size of a real template text), so the in-process and the
// network sends move the same data.
#pragma once

#include <memory>
#include <string>

#include "quorvel/comunicacao_zk.h"

namespace quorvel::bench {

inline void PreparaFuncionarios(ComunicacaoZK& controle, int32_t quantos) {
  for (int32_t i = 1; i <= quantos; ++i) {
    auto f = std::make_shared<FuncionarioCartao>();
    f->Codigo(i);
    f->Nome("Funcionario " + std::to_string(i));
    f->Senha("1234");
    f->PIS("12034567899");
    for (int32_t dedo : {3, 8}) {
      auto t = std::make_shared<Template>();
      t->Dedo(dedo);
      t->Texto(std::string(600, 'A'));
      f->AddTemplate(t);
    }
    controle.AddFuncionarioCartao(f);
  }
}

}  // namespace quorvel::bench
