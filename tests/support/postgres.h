// A throwaway PostgreSQL server for tests: initdb in a temporary directory, listening on a
// Unix socket there and on a free loopback port, stopped when the test program ends. The
// server refuses to run as root, so as root it runs as the `postgres` user.
#pragma once

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quorvel::teste {

class Postgres {
 public:
  // The running server, started on first use; nothing (with `motivo` set) where it cannot be.
  static Postgres* Instancia(std::string* motivo = nullptr) {
    static std::string falha;
    static std::unique_ptr<Postgres> p = [] {
      auto r = std::unique_ptr<Postgres>(new Postgres);
      if (!r->Inicia(falha)) r.reset();
      return r;
    }();
    if (!p && motivo) *motivo = falha;
    return p.get();
  }
  ~Postgres() {
    Roda(bin_ + "/pg_ctl -D " + dir_ + "/dados -m immediate stop >/dev/null 2>&1");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Stops the server at once (connections cut, as a crash or a restart does) and starts it
  // again on the same port and socket. True when it did.
  bool Para() {
    return Roda(bin_ + "/pg_ctl -D " + dir_ + "/dados -m immediate -w stop >/dev/null 2>&1") == 0;
  }
  bool Retoma() {
    return Roda(bin_ + "/pg_ctl -D " + dir_ + "/dados -w -l " + dir_ + "/servidor.log -o \"-k " +
                dir_ + " -p " + std::to_string(porta_) +
                " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=60\" start "
                ">/dev/null 2>&1") == 0;
  }
  // Runs one statement in database `nome` (psql); true when it succeeded.
  bool Sql(const std::string& nome, const std::string& comando) {
    return Roda(bin_ + "/psql " + Conexao() + " -d " + nome + " -qAt -c \"" + comando +
                "\" >/dev/null 2>&1") == 0;
  }

  // A fresh database of its own for each caller: "postgresql:///NOME?host=DIR&port=P&user=…".
  std::string NovoBanco(const std::string& nome) {
    Roda(bin_ + "/dropdb " + Conexao() + " --if-exists " + nome + " >/dev/null 2>&1");
    if (Roda(bin_ + "/createdb " + Conexao() + " " + nome + " >/dev/null 2>&1") != 0) return {};
    return "postgresql:///" + nome + "?host=" + dir_ + "&port=" + std::to_string(porta_) +
           "&user=postgres";
  }

 private:
  Postgres() = default;

  std::string Conexao() const {
    return "-h " + dir_ + " -p " + std::to_string(porta_) + " -U postgres";
  }
  int Roda(const std::string& comando) const { return std::system((como_ + comando).c_str()); }

  bool Inicia(std::string& motivo) {
    for (const char* versao : {"17", "16", "15", "14", "13"}) {
      const std::string b = std::string("/usr/lib/postgresql/") + versao + "/bin";
      if (std::filesystem::exists(b + "/initdb")) {
        bin_ = b;
        break;
      }
    }
    if (bin_.empty()) {
      motivo = "servidor PostgreSQL não instalado (pacote postgresql)";
      return false;
    }
    char modelo[] = "/tmp/quorvel-pg-XXXXXX";
    if (!::mkdtemp(modelo)) {
      motivo = "mkdtemp";
      return false;
    }
    dir_ = modelo;
    if (::geteuid() == 0) {
      const passwd* pw = ::getpwnam("postgres");
      if (!pw) {
        motivo = "usuário postgres inexistente";
        return false;
      }
      if (::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        motivo = "chown";
        return false;
      }
      como_ = "runuser -u postgres -- ";
    }
    porta_ = PortaLivre();
    if (Roda(bin_ + "/initdb -D " + dir_ + "/dados -U postgres -A trust --no-sync >" + dir_ +
             "/initdb.log 2>&1") != 0) {
      motivo = "initdb falhou (veja " + dir_ + "/initdb.log)";
      return false;
    }
    if (!Retoma()) {
      motivo = "o servidor não iniciou (veja " + dir_ + "/servidor.log)";
      return false;
    }
    return true;
  }

  static int PortaLivre() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    const int porta = ntohs(a.sin_port);
    ::close(s);
    return porta;
  }

  std::string bin_, dir_, como_;
  int porta_ = 0;
};

}  // namespace quorvel::teste
