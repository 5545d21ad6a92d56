// Where each clock is served: a TCP listener, or a pseudo-terminal standing in for its serial
// line. A place that cannot be opened ends the daemon with the reason (exit 2).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "servidor.h"

namespace relogio_virtual {

namespace {

using namespace quorvel;

[[noreturn]] void Falha(const std::string& motivo) {
  std::cerr << "relogio-virtual: " << motivo << "\n";
  std::exit(2);
}

int AbreEscuta(const std::string& endereco, int32_t& porta) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int um = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(porta));
  if (::inet_pton(AF_INET, endereco.c_str(), &a.sin_addr) != 1)
    Falha("endereço inválido: " + endereco);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0)
    Falha("não foi possível escutar em " + endereco + ":" + std::to_string(porta) + " (" +
          std::strerror(errno) + ")");
  socklen_t tam = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &tam);
  porta = ntohs(a.sin_port);
  return fd;
}

int AbrePty(std::string& caminho) {
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
    Falha("não foi possível criar um pseudo-terminal");
  caminho = ::ptsname(fd);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

}  // namespace

void Publica(const OpcoesServidor& o, std::vector<RelogioServido>& relogios) {
  for (RelogioServido& r : relogios) {
    const std::string_view nomeModelo = NomeDoModelo(r.modelo);
    if (r.serial) {
      r.fdSerial = AbrePty(r.caminhoSerial);
      std::cout << "relógio " << r.codigo << " (" << nomeModelo << ") na serial " << r.caminhoSerial
                << std::endl;
    } else {
      r.fdEscuta = AbreEscuta(o.endereco, r.porta);
      std::cout << "relógio " << r.codigo << " (" << nomeModelo << ") em " << o.endereco << ":"
                << r.porta << std::endl;
    }
  }
}

}  // namespace relogio_virtual
