// Employees with their cards, passwords and fingerprint templates, and their lists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "quorvel/colecao.h"
#include "quorvel/enumeracoes.h"

namespace quorvel {

// One fingerprint template. Its `Template` property is reached as Texto(): a member cannot
// share its class's name in C++.
class Template {
 public:
  // The template in the text form the device SDK exchanges.
  const std::string& Texto() const { return texto_; }
  void Texto(std::string v) { texto_ = std::move(v); }
  // The finger (EDedoDigital), IndicadorDireito for a new record.
  int32_t Dedo() const { return dedo_; }
  void Dedo(int32_t v) { dedo_ = v; }

 private:
  std::string texto_;
  int32_t dedo_ = IndicadorDireito;
};

// The component's generic keyed collection as it holds templates.
using ColecaoTemplates = Colecao<std::shared_ptr<Template>>;

// One employee. Puts store the value unchanged.
class FuncionarioCartao {
 public:
  FuncionarioCartao() : templates_(std::make_shared<ColecaoTemplates>()) {}

  // Employee code: the key in every list and the user number on the clock.
  int32_t Codigo() const { return codigo_; }
  void Codigo(int32_t v) { codigo_ = v; }
  const std::string& Nome() const { return nome_; }
  void Nome(std::string v) { nome_ = std::move(v); }
  // True gives the clock's privilege level 2, false level 0.
  bool Supervisor() const { return supervisor_; }
  void Supervisor(bool v) { supervisor_ = v; }
  // The record's own template collection (the same object at every call), keyed by the
  // finger number as decimal text.
  const std::shared_ptr<ColecaoTemplates>& Template() const { return templates_; }
  const std::string& Senha() const { return senha_; }
  void Senha(std::string v) { senha_ = std::move(v); }
  const std::string& PIS() const { return pis_; }
  void PIS(std::string v) { pis_ = std::move(v); }
  const std::string& CPF() const { return cpf_; }
  void CPF(std::string v) { cpf_ = std::move(v); }

  // Stores the template under its finger; a finger already present raises -61. A finger
  // outside the 16-bit range raises the overflow error.
  void AddTemplate(const std::shared_ptr<quorvel::Template>& parTemplate);
  // Removes the finger's template; a finger without one raises the invalid-argument error (5).
  void RemoveTemplate(int32_t parDedo);

  const std::string& Cartao() const { return cartao_; }
  void Cartao(std::string v) { cartao_ = std::move(v); }

 private:
  int32_t codigo_ = 0;
  std::string nome_;
  bool supervisor_ = false;
  std::shared_ptr<ColecaoTemplates> templates_;
  std::string senha_;
  std::string pis_;
  std::string cpf_;
  std::string cartao_;
};

// One employee that a clock did not take, and why.
class FuncionarioNaoEnviado {
 public:
  const std::string& CodigoRelogio() const { return codigoRelogio_; }
  void CodigoRelogio(std::string v) { codigoRelogio_ = std::move(v); }
  // The staged record itself, not a copy.
  const std::shared_ptr<quorvel::FuncionarioCartao>& FuncionarioCartao() const { return func_; }
  void FuncionarioCartao(std::shared_ptr<quorvel::FuncionarioCartao> v) { func_ = std::move(v); }
  int32_t MotivoFalha() const { return motivo_; }
  void MotivoFalha(int32_t v) { motivo_ = v; }
  // The clock's own reason: its last error when it refused (sdk::codigo: -4 memory full, -5 a
  // value it does not take, ...); 0 when no clock call was refused (NaoPossuiSenhaOuTemplate).
  int32_t ErroRelogio() const { return erroRelogio_; }
  void ErroRelogio(int32_t v) { erroRelogio_ = v; }

 private:
  std::string codigoRelogio_;
  std::shared_ptr<quorvel::FuncionarioCartao> func_;
  int32_t motivo_ = RelogioRecusou;
  int32_t erroRelogio_ = 0;
};

// Employees keyed by the decimal text of their code.
class ListaFuncionarioCartao {
 public:
  // Code 0 or negative raises -11, a code already listed -12; a missing record raises the
  // missing-object error (91) unchanged.
  void Add(const std::shared_ptr<FuncionarioCartao>& parFuncionarioCartao);
  int32_t Count() const { return itens_.Count(); }
  std::shared_ptr<FuncionarioCartao> Item(int32_t parIndex) const;
  // Looks up by employee code (not by card text); nullptr when absent, never raises.
  std::shared_ptr<FuncionarioCartao> ItemByCodCartaoFuncionario(
      int32_t parCodigoCartaoFuncionario) const;
  // Removes the employee whose key equals the text exactly ("07" is not "7"); -1 otherwise.
  void Remove(std::string_view parCodigoFuncionarioCartao);
  void RemoveAll();

  void Reserva(size_t n) { itens_.Reserva(n); }

 private:
  Colecao<std::shared_ptr<FuncionarioCartao>> itens_;
};

class ComunicacaoZK;

// Refusals keyed by clock text immediately followed by the employee code (no separator); a
// second record under a present key is silently not added. A record without an employee is
// erro::kDesconhecido (-1) wrapping erro_plataforma::kObjetoNaoDefinido.
class ListaFuncionarioNaoEnviado {
 public:
  void Add(const std::shared_ptr<FuncionarioNaoEnviado>& parFuncionarioNaoEnviado);
  int32_t Count() const { return itens_.Count(); }
  std::shared_ptr<FuncionarioNaoEnviado> Item(int32_t parIndex) const;

 private:
  friend class ComunicacaoZK;
  // How a send files its refusals: clock "1" with employee 23 and clock "12" with employee 3
  // share the key "123", so the second pair goes under clock + "/" + code, which no plain key
  // can take, and no refusal is lost. The same pair filed twice keeps its first record.
  void Anota(const std::shared_ptr<FuncionarioNaoEnviado>& registro);

  Colecao<std::shared_ptr<FuncionarioNaoEnviado>> itens_;
};

}  // namespace quorvel
