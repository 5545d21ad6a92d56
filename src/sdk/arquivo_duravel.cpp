#include "sdk/arquivo_duravel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sdk/diario_virtual.h"

namespace quorvel::sdk {

namespace {

std::string Pasta(const std::string& caminho) {
  const auto barra = caminho.rfind('/');
  if (barra == std::string::npos) return ".";
  return barra == 0 ? "/" : caminho.substr(0, barra);
}

}  // namespace

std::string LeArquivo(const std::string& caminho, bool& existe) {
  std::ifstream in(caminho, std::ios::binary);
  existe = in.good();
  if (!existe) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Motivo(int erro) {
  const char* dito = nullptr;
  switch (erro) {
    case ENOSPC:
      dito = "disco cheio";
      break;
    case EDQUOT:
      dito = "cota de disco esgotada";
      break;
    case EACCES:
    case EPERM:
      dito = "sem permissão";
      break;
    case EROFS:
      dito = "sistema de arquivos somente leitura";
      break;
    case EIO:
      dito = "erro de entrada e saída no disco";
      break;
    case ENOENT:
      dito = "pasta inexistente";
      break;
    default:
      dito = "erro do sistema";
  }
  return std::string(dito) + " (" + std::strerror(erro) + ")";
}

void SincronizaPasta(const std::string& caminho) {
  const int fd = ::open(Pasta(caminho).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw ErroDiario("não foi possível abrir a pasta de " + caminho);
  const int r = ::fsync(fd);
  ::close(fd);
  if (r != 0) throw ErroDiario("não foi possível sincronizar a pasta de " + caminho);
}

void EscreveTudo(int fd, const std::string& bytes, const std::string& caminho) {
  size_t feito = 0;
  while (feito < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + feito, bytes.size() - feito);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ErroDiario("falha ao gravar " + caminho + ": " + Motivo(errno));
    feito += static_cast<size_t>(n);
  }
}

void SubstituiArquivo(const std::string& caminho, const std::string& conteudo) {
  const std::string temporario = caminho + ".tmp";
  const int fd = ::open(temporario.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw ErroDiario("não foi possível criar " + temporario + ": " + Motivo(errno));
  try {
    EscreveTudo(fd, conteudo, temporario);
    if (::fsync(fd) != 0)
      throw ErroDiario("não foi possível sincronizar " + temporario + ": " + Motivo(errno));
    ::close(fd);
    if (::rename(temporario.c_str(), caminho.c_str()) != 0)
      throw ErroDiario("não foi possível renomear " + temporario + ": " + Motivo(errno));
  } catch (...) {
    // A half-written copy on a full disk would only hold the space that is missing.
    ::close(fd);
    std::remove(temporario.c_str());
    throw;
  }
  SincronizaPasta(caminho);
}

}  // namespace quorvel::sdk
