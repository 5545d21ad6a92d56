// A child process for end-to-end tests: started with its output in files, signalled, waited.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::teste {

// Waits for something a test can observe (a line printed, a file written, a row stored),
// looking every 20 ms, for at most `limite`: generous, since a busy machine is slow, and
// never a fixed sleep standing in for the event. True when it happened.
inline bool EsperaAte(const std::function<bool()>& aconteceu,
                      std::chrono::milliseconds limite = std::chrono::seconds(60)) {
  const auto fim = std::chrono::steady_clock::now() + limite;
  for (;;) {
    if (aconteceu()) return true;
    if (std::chrono::steady_clock::now() >= fim) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The whole of a text file as it is now (empty when it does not exist yet).
inline std::string LeArquivo(const std::string& caminho) {
  std::ifstream f(caminho);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// How many times `trecho` occurs in `texto`.
inline size_t Ocorrencias(const std::string& texto, const std::string& trecho) {
  size_t n = 0;
  for (size_t p = texto.find(trecho); p != std::string::npos; p = texto.find(trecho, p + 1)) ++n;
  return n;
}

// In a child after fork: becomes `binario` with `argumentos`; never returns (127 when it
// cannot).
[[noreturn]] inline void Executa(const std::string& binario,
                                 const std::vector<std::string>& argumentos) {
  std::vector<std::string> copia = argumentos;
  std::string b = binario;
  std::vector<char*> argv{b.data()};
  for (auto& a : copia) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(b.c_str(), argv.data());
  ::_exit(127);
}

class Processo {
 public:
  // `ambiente`: variables set for the child on top of this process's environment.
  Processo(const std::string& binario, const std::vector<std::string>& argumentos,
           const std::string& base,
           const std::vector<std::pair<std::string, std::string>>& ambiente = {})
      : saida_(base + ".out"), erros_(base + ".err") {
    // Emptied before the child exists: a test that reads the output at once must never see an
    // earlier run's (a service of the same name in a previous test said "pronto").
    for (const std::string* arquivo : {&saida_, &erros_}) {
      const int fd = ::open(arquivo->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) ::close(fd);
    }
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      const int out = ::open(saida_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(erros_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int nulo = ::open("/dev/null", O_RDONLY);
      ::dup2(out, 1);
      ::dup2(err, 2);
      ::dup2(nulo, 0);
      for (const auto& [nome, valor] : ambiente) ::setenv(nome.c_str(), valor.c_str(), 1);
      Executa(binario, argumentos);
    }
  }
  ~Processo() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Processo(const Processo&) = delete;
  Processo& operator=(const Processo&) = delete;

  void Sinaliza(int sinal) { ::kill(pid_, sinal); }

  // The exit code; -1 when it did not exit normally.
  int Espera() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Saida() const { return Le(saida_); }
  std::string Erros() const { return Le(erros_); }

 private:
  static std::string Le(const std::string& caminho) {
    std::ifstream f(caminho);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  pid_t pid_ = -1;
  std::string saida_, erros_;
};

// A program on a terminal of its own (a pseudo-terminal): waits for `pergunta` on it, answers
// `resposta`, and returns the exit code with everything the terminal showed.
inline std::pair<int, std::string> NoTerminal(const std::string& binario,
                                              const std::vector<std::string>& argumentos,
                                              const std::string& pergunta,
                                              const std::string& resposta) {
  int mestre = -1;
  const pid_t pid = ::forkpty(&mestre, nullptr, nullptr, nullptr);
  if (pid == 0) {
    Executa(binario, argumentos);
  }
  std::string tela;
  bool respondeu = false;
  for (;;) {
    pollfd p{mestre, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;
    char b[512];
    const ssize_t n = ::read(mestre, b, sizeof b);
    if (n <= 0) break;  // EIO once the child closed the terminal
    tela.append(b, static_cast<size_t>(n));
    if (!respondeu && tela.find(pergunta) != std::string::npos) {
      respondeu = true;
      const std::string linha = resposta + "\n";
      if (::write(mestre, linha.data(), linha.size()) < 0) break;
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(mestre);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, tela};
}

}  // namespace quorvel::teste
