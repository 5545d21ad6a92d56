#include "systemd.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace ponto::systemd {

bool NoJournal() {
  const char* j = std::getenv("JOURNAL_STREAM");
  return j && *j;
}

void Notifica(const std::string& estado) {
  const char* caminho = std::getenv("NOTIFY_SOCKET");
  if (!caminho || !*caminho) return;
  sockaddr_un endereco{};
  endereco.sun_family = AF_UNIX;
  const size_t tamanho = std::strlen(caminho);
  if (tamanho >= sizeof endereco.sun_path) return;
  std::memcpy(endereco.sun_path, caminho, tamanho);
  // An abstract socket is named with a leading '@' and travels with a leading NUL.
  if (endereco.sun_path[0] == '@') endereco.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  ::sendto(fd, estado.data(), estado.size(), MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(&endereco),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + tamanho));
  ::close(fd);
}

std::chrono::microseconds IntervaloWatchdog() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (!usec || !*usec) return std::chrono::microseconds(0);
  // Meant for this process only when WATCHDOG_PID is absent or names it.
  if (const char* pid = std::getenv("WATCHDOG_PID"); pid && *pid && std::atol(pid) != ::getpid())
    return std::chrono::microseconds(0);
  return std::chrono::microseconds(std::strtoll(usec, nullptr, 10));
}

}  // namespace ponto::systemd
