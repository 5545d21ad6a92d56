// A trivial in-memory device: answers at once, so a benchmark measures the component. It
// supports what collection and the employee transfers use; the rest answers -100.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "quorvel/sdk/dispositivo_nulo.h"

namespace quorvel::bench {

class CZKEMMemoria : public sdk::DispositivoNulo {
 public:
  explicit CZKEMMemoria(int64_t marcacoes = 0) : marcacoes_(marcacoes) {}

  int64_t marcacoes_;
  int64_t lidas_ = 0;
  struct Usuario {
    std::string id, nome, senha, pis, cpf;
    int32_t privilegio;
  };
  std::vector<Usuario> usuarios_;
  std::unordered_map<std::string, std::string> templates_;  // "id/dedo"
  size_t cursorUsuario_ = 0;

  bool SdkConnectNetwork(const std::string&, int32_t) override { return true; }
  void SdkDisconnect() override {}
  bool SdkGetSysOption(int32_t, const std::string&, std::string& v) override {
    return v = "2.1.12", true;
  }
  bool SdkReadAllLogs(int32_t) override { return lidas_ = 0, true; }
  bool SdkGetNextLog(int32_t, int32_t& cartao, int32_t& valor, int32_t& modo,
                     std::string& texto) override {
    if (lidas_ >= marcacoes_) return false;
    cartao = static_cast<int32_t>(lidas_++ % 5000) + 1;
    valor = 0;
    modo = 1;
    texto = "2024-03-05 07:04:09";
    return true;
  }
  bool SdkGetNextNsrLog(int32_t, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                        int32_t& d, int32_t& h, int32_t& mi, int32_t& s) override {
    if (lidas_ >= marcacoes_) return false;
    nsr = std::to_string(++lidas_);
    pis = "12034567899";
    a = 2024, me = 3, d = 5, h = 7, mi = 4, s = static_cast<int32_t>(lidas_ % 60);
    return true;
  }
  bool SdkSetLogPointer(int32_t, int32_t) override { return lidas_ = 0, true; }
  bool SdkReadAllUserIds(int32_t) override { return cursorUsuario_ = 0, true; }
  bool SdkSetUserInfo(int32_t, int32_t u, const std::string& n, const std::string& s, int32_t p,
                      bool) override {
    usuarios_.push_back({std::to_string(u), n, s, {}, {}, p});
    return true;
  }
  bool SdkGetNextUserInfo(int32_t, int32_t& u, std::string& n, std::string& s, int32_t& p,
                          bool& h) override {
    if (cursorUsuario_ >= usuarios_.size()) return false;
    const Usuario& x = usuarios_[cursorUsuario_++];
    u = std::stoi(x.id), n = x.nome, s = x.senha, p = x.privilegio, h = true;
    return true;
  }
  bool SdkSetUserInfoWithPis(int32_t, const std::string& u, const std::string& n,
                             const std::string& s, int32_t p, bool, const std::string& pis,
                             const std::string& cpf) override {
    usuarios_.push_back({u, n, s, pis, cpf, p});
    return true;
  }
  bool SdkGetNextUserInfoWithPis(int32_t, std::string& u, std::string& n, std::string& s,
                                 int32_t& p, bool& h, std::string& pis, std::string& cpf) override {
    if (cursorUsuario_ >= usuarios_.size()) return false;
    const Usuario& x = usuarios_[cursorUsuario_++];
    u = x.id, n = x.nome, s = x.senha, p = x.privilegio, h = true, pis = x.pis, cpf = x.cpf;
    return true;
  }
  bool SdkSetCardNumber(const std::string&) override { return true; }
  bool SdkGetUserTemplate(int32_t, int32_t u, int32_t d, std::string& t, int32_t& n) override {
    return Le(std::to_string(u), d, t, n);
  }
  bool SdkSetUserTemplate(int32_t, int32_t u, int32_t d, const std::string& t) override {
    templates_[std::to_string(u) + "/" + std::to_string(d)] = t;
    return true;
  }
  bool SdkDeleteUserTemplate(int32_t, int32_t, int32_t) override { return true; }
  bool SdkGetUserTemplateByTextId(int32_t, const std::string& u, int32_t d, int32_t&,
                                  std::string& t, int32_t& n) override {
    return Le(u, d, t, n);
  }
  bool SdkSetUserTemplateByTextId(int32_t, const std::string& u, int32_t d, int32_t,
                                  const std::string& t) override {
    templates_[u + "/" + std::to_string(d)] = t;
    return true;
  }
  bool SdkDeleteUserTemplateByTextId(int32_t, const std::string&, int32_t) override { return true; }
  bool SdkConvertTemplate(const std::string& e, std::string& s, int32_t& n) override {
    s = e;
    n = static_cast<int32_t>(s.size());
    return true;
  }

 private:
  bool Le(const std::string& u, int32_t d, std::string& t, int32_t& n) {
    auto it = templates_.find(u + "/" + std::to_string(d));
    if (it == templates_.end()) return false;
    t = it->second;
    n = static_cast<int32_t>(t.size());
    return true;
  }
};

}  // namespace quorvel::bench
