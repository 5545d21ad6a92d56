// The byte stream under a network backend's link: a TCP socket or a serial line alike, and the
// process's traffic counters that every stream adds to.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel::sdk::rede {

class Fluxo {
 public:
  // `socket`: a TCP connection, written with send(MSG_NOSIGNAL) so that a peer that went away
  // is a failed call, never a SIGPIPE that would end the host's process.
  Fluxo(int fd, bool socket) : fd_(fd), socket_(socket) {}
  ~Fluxo();
  Fluxo(const Fluxo&) = delete;
  Fluxo& operator=(const Fluxo&) = delete;

  // False when the peer went away or nothing could be written for `timeoutMs`.
  bool Envia(std::string_view dados, int timeoutMs);
  // Whatever has arrived, without waiting: bytes read, 0 when nothing is there, -1 when the
  // peer closed the link or it failed.
  ssize_t LeSemEsperar(char* destino, size_t tamanho);
  // Bytes read (> 0), or 0 for end of stream, time-out or error.
  ssize_t Recebe(char* destino, size_t tamanho, int timeoutMs);

 private:
  int fd_;
  bool socket_;
};

// Null when the address does not resolve or no address of it answers within `timeoutMs`.
std::unique_ptr<Fluxo> AbreTcp(const std::string& endereco, int32_t porta, int timeoutMs);
// The device at 115200 8N1, raw; null when it cannot be opened.
std::unique_ptr<Fluxo> AbreSerial(const std::string& caminho);

// One more exchange (request and answer) for the process's counters.
void ContaTroca();

}  // namespace quorvel::sdk::rede
