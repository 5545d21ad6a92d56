#include "sdk/rede/fluxo.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "quorvel/sdk/sdk_rede.h"

namespace quorvel::sdk {

namespace {
std::atomic<uint64_t> g_enviados{0}, g_recebidos{0}, g_trocas{0};
}  // namespace

EstatisticasRede Estatisticas() { return {g_enviados.load(), g_recebidos.load(), g_trocas.load()}; }

std::string CaminhoSerial(int32_t porta) {
  const std::string variavel = "QUORVEL_SERIAL_" + std::to_string(porta);
  if (const char* p = std::getenv(variavel.c_str()); p && *p) return p;
  std::string padrao = "/dev/ttyS%d";
  if (const char* p = std::getenv("QUORVEL_SERIAL_PADRAO"); p && *p) padrao = p;
  const auto marca = padrao.find("%d");
  if (marca == std::string::npos) return padrao;
  return padrao.substr(0, marca) + std::to_string(porta - 1) + padrao.substr(marca + 2);
}

namespace rede {

namespace {
constexpr std::chrono::microseconds kEsperaAtiva{50};
}  // namespace

void ContaTroca() { ++g_trocas; }

Fluxo::~Fluxo() {
  if (fd_ >= 0) ::close(fd_);
}

bool Fluxo::Envia(std::string_view dados, int timeoutMs) {
  size_t enviado = 0;
  // The write is tried first: a request almost always fits the socket's buffer, and the wait
  // is only needed when it does not (one system call less per round trip).
  while (enviado < dados.size()) {
    const ssize_t n =
        socket_ ? ::send(fd_, dados.data() + enviado, dados.size() - enviado, MSG_NOSIGNAL)
                : ::write(fd_, dados.data() + enviado, dados.size() - enviado);
    if (n > 0) {
      enviado += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) return false;
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
  }
  g_enviados += dados.size();
  return true;
}

ssize_t Fluxo::LeSemEsperar(char* destino, size_t tamanho) {
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) return 0;
    if (r < 0) return -1;
    const ssize_t n = ::read(fd_, destino, tamanho);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    if (n <= 0) return -1;
    g_recebidos += static_cast<uint64_t>(n);
    return n;
  }
}

ssize_t Fluxo::Recebe(char* destino, size_t tamanho, int timeoutMs) {
  // An answer over a near link comes within microseconds; asking for it a few times before
  // sleeping in poll() saves the two scheduler switches (a sleep and a wake-up on each side)
  // that otherwise cost more than the exchange itself. Bounded, so a slow clock costs
  // kEsperaAtiva of processor and no more. A serial line is too slow for it to pay.
  const auto fimDaEspera = std::chrono::steady_clock::now() + kEsperaAtiva;
  while (socket_) {
    const ssize_t n = ::read(fd_, destino, tamanho);
    if (n > 0) {
      g_recebidos += static_cast<uint64_t>(n);
      return n;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) return 0;
    if (std::chrono::steady_clock::now() >= fimDaEspera) break;
  }
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    const ssize_t n = ::read(fd_, destino, tamanho);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n > 0) g_recebidos += static_cast<uint64_t>(n);
    return n < 0 ? 0 : n;
  }
}

std::unique_ptr<Fluxo> AbreTcp(const std::string& endereco, int32_t porta, int timeoutMs) {
  addrinfo dica{};
  dica.ai_family = AF_UNSPEC;
  dica.ai_socktype = SOCK_STREAM;
  addrinfo* lista = nullptr;
  if (::getaddrinfo(endereco.c_str(), std::to_string(porta).c_str(), &dica, &lista) != 0)
    return nullptr;
  std::unique_ptr<Fluxo> resultado;
  for (addrinfo* a = lista; a && !resultado; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (r < 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int erro = 0;
      socklen_t tam = sizeof erro;
      r = ::poll(&p, 1, timeoutMs) == 1 &&
                  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &erro, &tam) == 0 && erro == 0
              ? 0
              : -1;
    }
    if (r != 0) {
      ::close(fd);
      continue;
    }
    int um = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
    resultado = std::make_unique<Fluxo>(fd, true);
  }
  ::freeaddrinfo(lista);
  return resultado;
}

std::unique_ptr<Fluxo> AbreSerial(const std::string& caminho) {
  const int fd = ::open(caminho.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &t);
  }
  return std::make_unique<Fluxo>(fd, false);
}

}  // namespace rede
}  // namespace quorvel::sdk
