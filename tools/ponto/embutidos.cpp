#include "embutidos.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "sdk/diario_virtual.h"

namespace ponto {

using namespace quorvel;

namespace {

// Creates the folder and the ones above it, private to the user as the state folder should be.
bool CriaPasta(const std::string& pasta) {
  std::error_code erro;
  std::filesystem::create_directories(pasta, erro);
  if (erro) return false;
  ::chmod(pasta.c_str(), 0700);
  return ::access(pasta.c_str(), W_OK) == 0;
}

// The folder's lock, held until the descriptor is closed. Another ponto holding it is waited
// for, since its command is usually short; `monitorar` is not, so the wait says whose it is.
int Trava(const std::string& pasta, bool (*interrompido)()) {
  const std::string caminho = pasta + "/embutidos.trava";
  const int fd = ::open(caminho.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  bool avisou = false;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(fd);
      return -1;
    }
    if (!avisou) {
      char dono[32] = {};
      const ssize_t n = ::pread(fd, dono, sizeof dono - 1, 0);
      std::string pid = n > 0 ? std::string(dono, static_cast<size_t>(n)) : "";
      while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
      std::cerr << "Aguardando outro ponto que usa os relógios embutidos"
                << (pid.empty() ? "" : " (processo " + pid + ")") << "; Ctrl-C desiste.\n"
                << std::flush;
      avisou = true;
    }
    if (interrompido && interrompido()) {
      ::close(fd);
      throw std::runtime_error("interrompido pelo usuário.");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // Only the waiting message of another ponto reads it.
  }
  return fd;
}

}  // namespace

std::optional<std::string> PastaDosEmbutidos() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/quorvel";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/state/quorvel";
  return std::nullopt;
}

std::string DiarioDoEmbutido(const std::string& pasta, int codigo) {
  return pasta + "/relogio-" + std::to_string(codigo) + ".diario";
}

EstadoDosEmbutidos::EstadoDosEmbutidos(
    const std::vector<std::pair<int, std::shared_ptr<sdk::DispositivoVirtual>>>& relogios,
    bool (*interrompido)()) {
  const auto pasta = PastaDosEmbutidos();
  if (pasta && CriaPasta(*pasta)) trava_ = Trava(*pasta, interrompido);
  if (trava_ < 0) {
    std::cerr << "ponto: aviso: não foi possível guardar o estado dos relógios embutidos"
              << (pasta ? " em " + *pasta : std::string(" (HOME não definido)"))
              << "; eles começam do exemplo e esquecem o que for feito neste comando.\n";
    for (const auto& [codigo, d] : relogios) sdk::SemeiaExemplo(*d);
    return;
  }
  pasta_ = *pasta;
  for (const auto& [codigo, d] : relogios) {
    const std::string caminho = DiarioDoEmbutido(pasta_, codigo);
    std::vector<std::string> relatorio;
    try {
      diarios_.push_back(
          std::make_unique<sdk::DiarioVirtual>(caminho, d, sdk::OpcoesDiario{}, relatorio));
    } catch (const sdk::ErroDiario& e) {
      throw std::runtime_error("o estado do relógio embutido " + std::to_string(codigo) +
                               " não pode ser lido: " + e.what() +
                               " \"ponto embutidos --recriar\" recomeça os relógios embutidos do "
                               "exemplo.");
    }
    for (const auto& linha : relatorio)
      std::cerr << "ponto: relógio embutido " << codigo << ": " << linha << "\n";
    if (diarios_.back()->Retomados() == 0) {
      // A new clock: the sample data, written to its journal in one go.
      diarios_.back()->EmLote(true);
      sdk::SemeiaExemplo(*d);
      diarios_.back()->EmLote(false);
    }
  }
}

EstadoDosEmbutidos::~EstadoDosEmbutidos() {
  for (auto& d : diarios_) {
    try {
      d->Sincroniza();
      d->CompactaSeConvem();
      for (const std::string& aviso : d->TomaAvisos())
        std::cerr << "ponto: aviso: " << aviso << "\n";
    } catch (const std::exception& e) {
      std::cerr << "ponto: aviso: " << e.what() << "\n";
    } catch (...) {
    }
  }
  diarios_.clear();
  if (trava_ >= 0) ::close(trava_);
}

void EstadoDosEmbutidos::Recria(const std::string& pasta, bool (*interrompido)()) {
  if (!CriaPasta(pasta)) throw std::runtime_error("não foi possível escrever em " + pasta + ".");
  const int fd = Trava(pasta, interrompido);
  if (fd < 0) throw std::runtime_error("não foi possível travar " + pasta + "/embutidos.trava.");
  for (int codigo = 1; codigo <= 2; ++codigo) {
    const std::string diario = DiarioDoEmbutido(pasta, codigo);
    for (const char* sufixo : {"", ".instantaneo", ".tmp", ".instantaneo.tmp", ".danificado"})
      std::remove((diario + sufixo).c_str());
  }
  ::close(fd);
}

}  // namespace ponto
