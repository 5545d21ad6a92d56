// Helpers of the process tests that run ponto against relogio-virtual with a punch store: temporary
// files, one ponto run, what a clock holds, and a daemon of several clocks with journals that can
// be made quiet for the comparison.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/armazem.h"
#include "support/daemon.h"
#include "support/postgres.h"
#include "support/processo.h"

namespace quorvel::teste {

inline std::string Temporario(const std::string& nome) {
  return ::testing::TempDir() + "processo_" + std::to_string(::getpid()) + "_" + nome;
}

inline std::string NovoSqlite(const std::string& nome) {
  const std::string c = Temporario(nome + ".db");
  for (const char* s : {"", "-wal", "-shm"}) std::remove((c + s).c_str());
  return c;
}

struct Saida {
  int codigo;
  std::string out, err;
};

inline Saida Ponto(const std::vector<std::string>& args, const std::string& nome) {
  Processo p(PONTO_BINARIO, args, Temporario(nome));
  const int codigo = p.Espera();
  return {codigo, p.Saida(), p.Erros()};
}

// How many punches the clock holds now (status, "marcacoes").
inline int64_t NoRelogio(const std::vector<std::string>& relogio) {
  auto args = relogio;
  args.insert(args.begin(), "status");
  args.insert(args.end(), {"--formato", "json"});
  const auto s = Ponto(args, "status");
  const auto j = nlohmann::json::parse(s.out, nullptr, false);
  if (j.is_discarded() || j.empty()) return -1;
  return j[0].at("marcacoes").get<int64_t>();
}

// Every punch the clock holds, each as one comparable line (register: NSR, PIS and time;
// fingerprint: card, time and how it was made), sorted.
inline std::vector<std::string> PunchesDoRelogio(const std::vector<std::string>& relogio) {
  auto args = relogio;
  args.insert(args.begin(), "coletar");
  args.insert(args.end(), {"--formato", "json"});
  const auto s = Ponto(args, "coletar_tudo");
  std::vector<std::string> r;
  const auto j = nlohmann::json::parse(s.out, nullptr, false);
  if (j.is_discarded() || !j.is_array()) return {"falha: " + s.err};
  for (const auto& m : j)
    r.push_back(m.at("nsr").is_null()
                    ? std::to_string(m.at("cartao").get<int64_t>()) + " " +
                          m.at("data_hora").get<std::string>() + " " +
                          (m.at("digital").get<bool>() ? "digital" : "outro")
                    : m.at("nsr").get<std::string>() + " " +
                          (m.at("pis").is_null() ? "" : m.at("pis").get<std::string>()) + " " +
                          m.at("data_hora").get<std::string>());
  std::sort(r.begin(), r.end());
  return r;
}

// The same lines from what the store holds for one clock.
inline std::vector<std::string> PunchesNoBanco(armazem::Armazem& banco, int16_t relogio) {
  armazem::Filtro f;
  f.relogio = relogio;
  std::vector<std::string> r;
  banco.Percorre(f, [&](const armazem::MarcacaoArmazenada& m) {
    r.push_back(m.modelo == EModeloRelogio_Tarvenix
                    ? std::to_string(m.nsr) + " " + m.pis + " " + m.momento.FormataIso()
                    : std::to_string(m.cartao) + " " + m.momento.FormataIso() + " " +
                          (m.porDigital ? "digital" : "outro"));
  });
  std::sort(r.begin(), r.end());
  return r;
}

inline std::vector<std::string> Rede(int porta, const char* modelo, int codigo = 1) {
  return {"--relogio", std::to_string(codigo),
          "--ip",      "127.0.0.1:" + std::to_string(porta),
          "--modelo",  modelo};
}

// Clocks 1..n (odd: fingerprint, even: register) in one daemon, each with a journal, so the
// daemon can be stopped and served again quiet — same state, same ports — for the comparison.
class Relogios {
 public:
  Relogios(const std::string& nome, int n) : nome_(nome), n_(n) {
    Inicia(true, std::vector<int>(static_cast<size_t>(n), 0), true);
    for (int i = 0; i < n; ++i) portas_.push_back(d_->Porta(static_cast<size_t>(i)));
  }
  // Stops generating: the daemon is restarted from its journals on the same ports.
  void Aquieta() {
    d_.reset();
    Inicia(false, portas_, false);
  }
  // The daemon killed (every clock unreachable), and back generating on the same ports.
  void Derruba() {
    d_->Para(SIGKILL);
    d_.reset();
  }
  void Volta() { Inicia(true, portas_, false); }
  std::string Arquivo() const {
    const std::string caminho = Temporario(nome_ + "_relogios.txt");
    std::ofstream f(caminho);
    for (int i = 1; i <= n_; ++i)
      f << i << ";127.0.0.1:" << portas_[static_cast<size_t>(i - 1)] << ";" << Modelo(i) << "\n";
    return caminho;
  }
  int Porta(int relogio) const { return portas_.at(static_cast<size_t>(relogio - 1)); }
  int Quantos() const { return n_; }
  // True when the store holds as many punches of every clock as the clock does.
  bool Iguais(armazem::Armazem& banco) const {
    for (int i = 1; i <= n_; ++i) {
      armazem::Filtro f;
      f.relogio = static_cast<int16_t>(i);
      if (static_cast<int64_t>(banco.Conta(f)) !=
          NoRelogio(Rede(portas_[static_cast<size_t>(i - 1)], Modelo(i), i)))
        return false;
    }
    return true;
  }
  // Every clock's punches are in the store, each once, with the values the clock holds: NSR,
  // PIS, card, date and time, how it was made.
  void ConfereCom(armazem::Armazem& banco) const {
    for (int i = 1; i <= n_; ++i) {
      const auto relogio =
          PunchesDoRelogio(Rede(portas_[static_cast<size_t>(i - 1)], Modelo(i), i));
      const auto noBanco = PunchesNoBanco(banco, static_cast<int16_t>(i));
      EXPECT_GT(relogio.size(), 0u) << "relógio " << i;
      EXPECT_EQ(noBanco.size(), relogio.size()) << "relógio " << i;
      EXPECT_TRUE(noBanco == relogio) << "relógio " << i << ": o banco difere do relógio";
    }
  }

 public:
  static const char* Modelo(int i) { return i % 2 == 0 ? "tarvenix" : "quorvel"; }

 private:
  void Inicia(bool gerando, const std::vector<int>& portas, bool novos) {
    std::vector<std::string> args;
    if (gerando) args = {"--marcacoes-por-minuto", "300"};
    for (int i = 1; i <= n_; ++i) {
      const std::string diario = Temporario(nome_ + "_" + std::to_string(i) + ".jsonl");
      if (novos) std::remove(diario.c_str());
      args.insert(args.end(),
                  {"--relogio", "codigo=" + std::to_string(i) +
                                    ",porta=" + std::to_string(portas[static_cast<size_t>(i - 1)]) +
                                    ",exemplo,modelo=" + Modelo(i) + ",dados=" + diario});
    }
    d_.emplace(args, static_cast<size_t>(n_));
  }
  std::string nome_;
  int n_;
  std::vector<int> portas_;
  std::optional<Daemon> d_;
};

// Links established to a local TCP port: the clients' ends of the links open to the clock
// served there, each named by its own address and port.
inline std::set<std::string> LinksNaPorta(int porta) {
  std::set<std::string> links;
  for (const char* tabela : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(tabela);
    std::string linha;
    std::getline(in, linha);
    while (std::getline(in, linha)) {
      // "sl local_address rem_address st ...": "HEX:PORT", state 01 is ESTABLISHED. Counted
      // from the clients' side: a client's end leaves ESTABLISHED in the very call that closes
      // it, while the clock's end follows only once the kernel has carried the close across,
      // which on a loaded machine can come after the same client's next link is up. A set:
      // the kernel writes the table a page per read and, when sockets come and go between
      // two reads, may list the same socket twice.
      char local[64] = "", remoto[64] = "";
      unsigned estado = 0;
      if (std::sscanf(linha.c_str(), "%*s %63s %63s %x", local, remoto, &estado) != 3) continue;
      const char* doisPontos = std::strrchr(remoto, ':');
      if (estado == 1 && doisPontos && std::strtol(doisPontos + 1, nullptr, 16) == porta)
        links.insert(local);
    }
  }
  return links;
}

}  // namespace quorvel::teste
