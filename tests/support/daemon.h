// Runs relogio-virtual as a child process for end-to-end tests, on loopback only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::teste {

class Daemon {
 public:
  // Starts the daemon with `argumentos` and reads one announcement line per clock. Its stderr
  // goes to `registro` when one is named (appended, so a restarted daemon adds to it).
  Daemon(const std::vector<std::string>& argumentos, size_t relogios,
         const std::string& registro = "") {
    int saida[2];
    if (::pipe(saida) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(saida[1], 1);
      const int erros = registro.empty()
                            ? ::open("/dev/null", O_WRONLY)
                            : ::open(registro.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(erros, 2);
      ::close(saida[0]);
      std::vector<char*> argv;
      std::string binario = RELOGIO_VIRTUAL_BINARIO;
      argv.push_back(binario.data());
      std::vector<std::string> copia = argumentos;
      for (auto& a : copia) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(binario.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(saida[1]);
    fd_ = saida[0];
    std::string linha;
    while (linhas_.size() < relogios) {
      char c;
      const ssize_t n = ::read(fd_, &c, 1);
      if (n <= 0) throw std::runtime_error("o daemon terminou antes de anunciar os relógios");
      if (c == '\n') {
        linhas_.push_back(linha);
        linha.clear();
      } else {
        linha += c;
      }
    }
  }
  ~Daemon() { Para(SIGTERM); }

  // "relógio 1 (quorvel) em 127.0.0.1:4370" gives 4370; the pty path for a serial clock.
  int Porta(size_t i) const {
    return std::stoi(linhas_.at(i).substr(linhas_.at(i).rfind(':') + 1));
  }
  std::string Serial(size_t i) const { return linhas_.at(i).substr(linhas_.at(i).rfind(' ') + 1); }

  pid_t Pid() const { return pid_; }

  // A signal that does not end it (SIGSTOP, SIGCONT): nothing is waited for.
  void Sinal(int sinal) const {
    if (pid_ > 0) ::kill(pid_, sinal);
  }

  void Para(int sinal) {
    if (pid_ <= 0) return;
    ::kill(pid_, sinal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    ::close(fd_);
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::vector<std::string> linhas_;
};

// A loopback address of its own for a test that needs the fixed port 4370.
inline std::string EnderecoLoopback(int teste) {
  return "127.77." + std::to_string(::getpid() % 250 + 1) + "." + std::to_string(teste);
}

}  // namespace quorvel::teste
