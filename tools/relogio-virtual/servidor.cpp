#include "servidor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include "sdk/protocol/protocol.h"
#include "sdk/protocol/servidor.h"

namespace relogio_virtual {

namespace {

using namespace quorvel;
using Relogio = std::chrono::steady_clock;

// After answering, the next request of a busy client comes within microseconds: the loop asks
// for it without sleeping for this long, which spares a wake-up per exchange.
constexpr std::chrono::microseconds kEsperaAtiva{50};
// Reads tried on the busy client's link before every link is polled again: a few
// microseconds, so the others wait no longer than that for their turn.
constexpr int kLeiturasDiretas = 8;
// Rounds served straight from the busy client's link before every link is polled anyway: a
// client that never pauses must not keep newcomers, closes and the others' requests waiting.
constexpr int kRodadasSemPoll = 16;

// Work per connection is bounded before it is done: requests are decoded only while the
// answers the peer has not taken stay under this mark, and at most this many are answered per
// polling round, so a peer that pipelines thousands of requests and reads nothing costs the
// daemon this mark plus one answer, and the others get their turn every round.
constexpr size_t kMarcaDeSaida = 1u << 20;
constexpr int kQuadrosPorRodada = 64;
// A peer whose answers sit over the mark and that takes none of them for this long is cut.
constexpr std::chrono::seconds kSaidaParada{30};
// Key guessing: at most this many wrong proofs from one address are checked in a minute;
// past it, no proof from that address is checked (the right key included) until the minute
// has passed, so parallel connections do not multiply a guesser's tries.
constexpr size_t kProvasErradasPorMinuto = 10;
// Connections from one address still in their handshake (no hello yet, the key not yet proven,
// or the proof's answer still held): a collector opens a few at a time; more is a flood.
constexpr size_t kSemProvaPorEndereco = 32;

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

struct Conexao {
  int fd = -1;
  RelogioServido* relogio = nullptr;
  bool serial = false;
  std::string nome, ip;
  protocol::Decodificador decodificador;
  std::unique_ptr<protocol::SessaoServidor> sessao;
  int64_t recebidos = 0, enviados = 0;
  // Idle counts from the last whole frame: a peer trickling bytes is idle all the same.
  Relogio::time_point ultimoQuadro = Relogio::now();  // last whole frame received
  Relogio::time_point ultimaTroca = Relogio::now();   // last frame either way
  std::string saida;                                  // answers not yet taken by the peer
  size_t enviadoDaSaida = 0;
  Relogio::time_point aceitaEm = Relogio::now();
  Relogio::time_point liberaEm{};                    // a refused key's answer waits until then
  Relogio::time_point ultimoEnvio = Relogio::now();  // the peer last took answers (or had none)
  bool fechaAposEnviar = false;
  // Whole frames may still wait in the decoder: the round's budget or the output mark stopped
  // their answering. Nothing more is read until they are answered.
  bool quadrosProntos = false;

  size_t Pendente() const { return saida.size() - enviadoDaSaida; }
  // Not yet a proven link: such connections make room first and are limited per address. A
  // proof's held answer counts too, right or wrong, so that which ones are let go early tells
  // nothing about the key.
  bool EmApertoDeMao(Relogio::time_point agora) const {
    return !serial && (!sessao->Pronta() || liberaEm > agora);
  }
};

// Wrong key proofs from one address: each one waits longer for its answer.
struct Tentativas {
  int falhas = 0;
  Relogio::time_point ultima{};
  std::deque<Relogio::time_point> erradas;  // wrong proofs within the last minute

  // True when the address has had its wrong proofs for this minute.
  bool Esgotou(Relogio::time_point agora) {
    while (!erradas.empty() && agora - erradas.front() > std::chrono::minutes(1))
      erradas.pop_front();
    return erradas.size() >= kProvasErradasPorMinuto;
  }
};

}  // namespace

std::chrono::milliseconds AtrasoDaChave(int falhas) {
  const int expoente = std::clamp(falhas - 1, 0, 9);
  return std::min(std::chrono::milliseconds(100LL << expoente), std::chrono::milliseconds(30000));
}

namespace {

// A request as a person reads it: the SDK operation it carries, or the kind of frame.
std::string NomeDoPedido(const protocol::Quadro& f) {
  using namespace protocol;
  switch (f.op) {
    case kOla:
      return "olá";
    case kProva:
      return "prova da chave";
    case kLote:
      return "lote";
    case kLogDesde:
      return "log desde";
    case kLeituraAntecipada:
      return "leitura antecipada";
    case kAssinatura:
      return "assinatura";
    case kLogDeRegistros:
      return "log de registros";
    case kArquivoFiscal:
      return "arquivo fiscal";
    default:
      break;
  }
  const auto& chamadas = Chamadas();
  if (f.op >= kPrimeiraChamada && f.op - kPrimeiraChamada < static_cast<int>(chamadas.size()))
    return chamadas[f.op - kPrimeiraChamada].nome;
  return "quadro " + std::to_string(f.op);
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

int Serve(const OpcoesServidor& o, std::vector<RelogioServido>& relogios,
          volatile std::sig_atomic_t& parar) {
  std::vector<std::unique_ptr<Conexao>> conexoes;
  std::map<std::string, Tentativas> tentativas;
  for (RelogioServido& r : relogios) {
    if (r.fdSerial < 0) continue;
    auto c = std::make_unique<Conexao>();
    c->fd = r.fdSerial;
    c->relogio = &r;
    c->serial = true;
    c->nome = r.caminhoSerial;
    c->sessao = std::make_unique<protocol::SessaoServidor>(r.dispositivo, r.chave);
    conexoes.push_back(std::move(c));
  }

  std::mt19937 gerador(42);
  const auto intervaloMarcacao = o.marcacoesPorMinuto > 0
                                     ? std::chrono::milliseconds(60000 / o.marcacoesPorMinuto)
                                     : std::chrono::milliseconds(0);
  auto proximaMarcacao = Relogio::now() + intervaloMarcacao;
  auto proximoPulso = Relogio::now();
  std::vector<char> buffer(1 << 16);
  // The link whose request was answered last: while its client is busy, its next request is
  // read straight from it (see below).
  Conexao* ultimaAtendida = nullptr;
  int rodadasSemPoll = 0;
  std::vector<pollfd> fds;
  std::vector<std::pair<Conexao*, std::string>> aFechar;

  auto fecha = [&](size_t i, const std::string& motivo) {
    Conexao& c = *conexoes[i];
    if (c.serial) {
      // A serial line never goes away: it starts over with a fresh session.
      c.decodificador = protocol::Decodificador();
      c.sessao =
          std::make_unique<protocol::SessaoServidor>(c.relogio->dispositivo, c.relogio->chave);
      c.recebidos = c.enviados = 0;
      c.saida.clear();
      c.enviadoDaSaida = 0;
      c.fechaAposEnviar = false;
      c.quadrosProntos = false;
      std::cerr << "serial " << c.nome << " reiniciada (" << motivo << ")\n";
      return false;
    }
    std::cerr << "conexão de " << c.nome << " encerrada (" << motivo << ", " << c.recebidos
              << " quadros)\n";
    if (&c == ultimaAtendida) ultimaAtendida = nullptr;
    ::close(c.fd);
    conexoes.erase(conexoes.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  };

  auto ultimaAtividade = Relogio::now() - kEsperaAtiva;
  while (!parar) {
    const auto agora = Relogio::now();
    fds.clear();
    for (const RelogioServido& r : relogios)
      if (r.fdEscuta >= 0) fds.push_back({r.fdEscuta, POLLIN, 0});
    const size_t primeiraConexao = fds.size();
    int espera = 100;
    for (const auto& c : conexoes) {
      short eventos = 0;
      const bool retida = c->liberaEm > agora;
      // A peer that does not take its answers is not read further: it cannot make the daemon
      // hold more than its own bound, and it never holds up anyone else.
      const bool podeAtender = !retida && !c->fechaAposEnviar && c->Pendente() < kMarcaDeSaida;
      if (podeAtender && !c->quadrosProntos) eventos |= POLLIN;
      if (podeAtender && c->quadrosProntos) espera = 0;  // frames already read wait their turn
      if (!retida && c->Pendente() > 0) eventos |= POLLOUT;
      if (retida)
        espera = std::min<int>(
            espera, static_cast<int>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(c->liberaEm - agora)
                            .count()) +
                        1);
      fds.push_back({c->fd, eventos, 0});
    }
    const bool ativo = agora - ultimaAtividade < kEsperaAtiva;
    if (ativo) espera = 0;
    // A client in a run of exchanges sends its next request as soon as it has the answer: that
    // request is read straight from its link, and only when nothing is there yet are all links
    // polled. One system call per request instead of a poll and a read, which is most of what
    // an exchange costs the daemon.
    bool lidoDireto = false;
    if (ativo && rodadasSemPoll < kRodadasSemPoll && ultimaAtendida && !ultimaAtendida->serial &&
        !ultimaAtendida->quadrosProntos && !ultimaAtendida->fechaAposEnviar &&
        ultimaAtendida->liberaEm <= agora && ultimaAtendida->Pendente() < kMarcaDeSaida) {
      for (int tentativa = 0; tentativa < kLeiturasDiretas; ++tentativa) {
        const ssize_t n = ::read(ultimaAtendida->fd, buffer.data(), buffer.size());
        if (n > 0) {
          ultimaAtendida->decodificador.Alimenta(buffer.data(), static_cast<size_t>(n));
          ultimaAtendida->quadrosProntos = true;
          lidoDireto = true;
        }
        if (n >= 0 || (errno != EAGAIN && errno != EINTR)) break;
      }
    }
    if (lidoDireto) {
      ++rodadasSemPoll;
      for (pollfd& p : fds) p.revents = 0;
    } else {
      rodadasSemPoll = 0;
      if (::poll(fds.data(), fds.size(), espera) < 0 && errno != EINTR) break;
    }

    // New connections; when every slot is taken the longest idle one makes room.
    size_t k = 0;
    for (RelogioServido& r : relogios) {
      if (r.fdEscuta < 0) continue;
      if (!(fds[k++].revents & POLLIN)) continue;
      for (;;) {
        sockaddr_in de{};
        socklen_t tam = sizeof de;
        const int fd = ::accept4(r.fdEscuta, reinterpret_cast<sockaddr*>(&de), &tam,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        // Answers are small and awaited: none may wait for the acknowledgement of the last.
        int um = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
        char ip[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &de.sin_addr, ip, sizeof ip);
        const std::string nome = std::string(ip) + ":" + std::to_string(ntohs(de.sin_port));
        const auto instante = Relogio::now();
        size_t tcp = 0, semProva = 0;
        for (const auto& c : conexoes) {
          tcp += c->serial ? 0 : 1;
          if (c->ip == ip && c->EmApertoDeMao(instante)) ++semProva;
        }
        if (semProva >= kSemProvaPorEndereco) {
          std::cerr << "conexão de " << nome << " recusada: " << ip << " já tem " << semProva
                    << " conexões sem concluir o aperto de mão\n";
          ::close(fd);
          continue;
        }
        if (tcp >= o.maxConexoes) {
          // Room is made first from a link still in its handshake (the oldest), else only
          // from a link in no use: one that never completed a frame, or whose last frame either
          // way (pushes included) is older than the idle window. A proven client collecting or
          // monitoring is never cut for a newcomer; the newcomer is.
          const auto limite = instante - std::chrono::seconds(o.ociosoS);
          size_t maisOciosa = conexoes.size();
          bool semProvaEscolhida = false;
          for (size_t i = 0; i < conexoes.size(); ++i) {
            const Conexao& c = *conexoes[i];
            if (c.serial) continue;
            if (c.EmApertoDeMao(instante)) {
              if (!semProvaEscolhida || c.aceitaEm < conexoes[maisOciosa]->aceitaEm) maisOciosa = i;
              semProvaEscolhida = true;
              continue;
            }
            if (semProvaEscolhida || (c.recebidos > 0 && c.ultimaTroca >= limite)) continue;
            if (maisOciosa == conexoes.size() || c.ultimaTroca < conexoes[maisOciosa]->ultimaTroca)
              maisOciosa = i;
          }
          if (maisOciosa == conexoes.size()) {
            std::cerr << "conexão de " << nome << " recusada: as " << o.maxConexoes
                      << " conexões estão em uso\n";
            ::close(fd);
            continue;
          }
          fecha(maisOciosa, "a mais ociosa, para dar lugar a " + nome);
        }
        auto c = std::make_unique<Conexao>();
        c->fd = fd;
        c->relogio = &r;
        c->nome = nome;
        c->ip = ip;
        c->sessao = std::make_unique<protocol::SessaoServidor>(r.dispositivo, r.chave);
        std::cerr << "conexão de " << nome << " ao relógio " << r.codigo << "\n";
        conexoes.push_back(std::move(c));
      }
    }

    // Requests: whole frames are answered into their connection's buffer, within the round's
    // budget and while the peer takes its answers.
    aFechar.clear();
    for (size_t i = 0; i < conexoes.size(); ++i) {
      Conexao& c = *conexoes[i];
      const size_t indice = primeiraConexao + i;
      if (indice >= fds.size() || fds[indice].fd != c.fd) continue;  // accepted this round
      const bool leitura = fds[indice].events & POLLIN;
      if (leitura && (fds[indice].revents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = ::read(c.fd, buffer.data(), buffer.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
          if (!c.serial) aFechar.emplace_back(&c, "fim da conexão");
          continue;
        }
        c.decodificador.Alimenta(buffer.data(), static_cast<size_t>(n));
      } else if (!leitura && (fds[indice].revents & (POLLHUP | POLLERR))) {
        aFechar.emplace_back(&c, "fim da conexão");
        continue;
      } else if (!(c.quadrosProntos && c.liberaEm <= agora && !c.fechaAposEnviar &&
                   c.Pendente() < kMarcaDeSaida)) {
        continue;
      }
      c.quadrosProntos = false;
      try {
        for (int feitos = 0;; ++feitos) {
          if (feitos == kQuadrosPorRodada || c.Pendente() >= kMarcaDeSaida) {
            c.quadrosProntos = c.decodificador.Acumulados() > 0;
            break;
          }
          auto f = c.decodificador.Proximo();
          if (!f) break;
          ++c.recebidos;
          c.ultimoQuadro = c.ultimaTroca = ultimaAtividade = Relogio::now();
          ultimaAtendida = &c;
          if (o.cairApos > 0 && c.recebidos > o.cairApos) {
            aFechar.emplace_back(&c, "queda simulada");
            break;
          }
          if (o.detalhar)
            std::cerr << "relógio " << c.relogio->codigo << ": pedido " << NomeDoPedido(*f)
                      << " de " << c.nome << "\n";
          const bool aguardavaProva = c.sessao->ProvaPendente();
          if (aguardavaProva && f->op == protocol::kProva && tentativas.count(c.ip) &&
              tentativas[c.ip].Esgotou(Relogio::now())) {
            // Not checked, so the answer may come at once: it says nothing about the key.
            c.saida +=
                c.sessao->Recusa(*f, protocol::codigo::kTentativasDeChave,
                                 "provas de chave demais deste endereço; tente em um minuto");
            c.fechaAposEnviar = true;
            std::cerr << "prova de chave de " << c.ip
                      << " não conferida: " << kProvasErradasPorMinuto
                      << " incorretas no último minuto\n";
            break;
          }
          std::string resposta = c.sessao->Responde(*f);
          if (o.atrasoMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.atrasoMs));
          if (o.corromperApos > 0 && ++c.enviados == o.corromperApos && resposta.size() > 13)
            resposta[12] ^= 0x5A;
          c.saida += resposta;
          if (c.sessao->Encerrando()) {
            // A wrong key: the answer waits longer at each failure from the same address.
            Tentativas& t = tentativas[c.ip];
            if (Relogio::now() - t.ultima > std::chrono::minutes(10)) t.falhas = 0;
            ++t.falhas;
            t.ultima = Relogio::now();
            t.erradas.push_back(t.ultima);
            const auto atraso = AtrasoDaChave(t.falhas);
            c.liberaEm = Relogio::now() + atraso;
            c.fechaAposEnviar = true;
            std::cerr << "chave incorreta de " << c.ip << " (" << t.falhas
                      << " seguidas): resposta atrasada " << atraso.count() << " ms\n";
            break;
          }
          // The right key from an address that has been guessing waits as long as a wrong
          // one would: how soon the answer comes tells a guesser nothing.
          if (aguardavaProva && !c.sessao->ProvaPendente()) {
            const auto t = tentativas.find(c.ip);
            if (t != tentativas.end() && t->second.falhas > 0 &&
                Relogio::now() - t->second.ultima <= std::chrono::minutes(10)) {
              const auto atraso = AtrasoDaChave(t->second.falhas + 1);
              c.liberaEm = Relogio::now() + atraso;
              std::cerr << "chave correta de " << c.ip << " após " << t->second.falhas
                        << " incorretas: resposta atrasada " << atraso.count() << " ms\n";
            }
          }
        }
      } catch (const protocol::ErroDeProtocolo& e) {
        aFechar.emplace_back(&c, std::string("quadro inválido: ") + e.what());
      }
    }

    // Group commit: every change of this round reaches the disk with one sync per journal,
    // and only then do the answers leave.
    for (RelogioServido& r : relogios) {
      if (!r.diario) continue;
      try {
        r.diario->Sincroniza();
      } catch (const std::exception& e) {
        std::cerr << "relogio-virtual: " << e.what() << "; encerrando sem confirmar mais nada.\n";
        return 1;
      }
      // A compaction that fails (a full disk) is told once and tried again later; the clock
      // keeps serving from its journal.
      r.diario->CompactaSeConvem();
      for (const std::string& aviso : r.diario->TomaAvisos())
        std::cerr << "relogio-virtual: " << aviso << "\n";
    }

    // Pushes to subscribed links, only now that what they announce is durable; a heartbeat
    // every second lets a client trust its copy of the log's size.
    const bool pulso = Relogio::now() >= proximoPulso;
    if (pulso) proximoPulso = Relogio::now() + std::chrono::seconds(1);
    for (auto& c : conexoes) {
      if (c->fechaAposEnviar) continue;
      const std::string aviso = c->sessao->Aviso(pulso);
      if (aviso.empty()) continue;
      c->saida += aviso;
      c->ultimaTroca = Relogio::now();  // a subscribed link is in use while it is told things
    }

    const auto depois = Relogio::now();
    for (auto& [c, motivo] : aFechar)
      for (size_t i = 0; i < conexoes.size(); ++i)
        if (conexoes[i].get() == c) {
          fecha(i, motivo);
          break;
        }
    for (size_t i = 0; i < conexoes.size(); ++i) {
      Conexao& c = *conexoes[i];
      std::string motivo;
      if (c.Pendente() > 0 && c.liberaEm <= depois) {
        const ssize_t n = ::write(c.fd, c.saida.data() + c.enviadoDaSaida, c.Pendente());
        if (n > 0) {
          c.enviadoDaSaida += static_cast<size_t>(n);
          c.ultimoEnvio = depois;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR && !c.serial)
          motivo = "falha ao enviar";
        if (c.Pendente() == 0) {
          c.saida.clear();
          c.enviadoDaSaida = 0;
        } else if (c.enviadoDaSaida > (1u << 20)) {
          c.saida.erase(0, c.enviadoDaSaida);
          c.enviadoDaSaida = 0;
        }
      }
      if (c.Pendente() == 0) c.ultimoEnvio = depois;
      if (motivo.empty() && c.Pendente() > o.limiteSaida) motivo = "não lê as respostas";
      if (motivo.empty() && !c.serial && c.Pendente() >= kMarcaDeSaida &&
          depois - c.ultimoEnvio >
              std::min<std::chrono::seconds>(kSaidaParada, std::chrono::seconds(o.ociosoS)))
        motivo = "não lê as respostas";
      if (motivo.empty() && c.fechaAposEnviar && c.Pendente() == 0) motivo = "chave incorreta";
      if (motivo.empty() && !c.serial && depois - c.ultimoQuadro > std::chrono::seconds(o.ociosoS))
        motivo = "ociosa";
      if (!motivo.empty() && fecha(i, motivo)) --i;
    }

    if (intervaloMarcacao.count() > 0 && Relogio::now() >= proximaMarcacao) {
      proximaMarcacao += intervaloMarcacao;
      for (RelogioServido& r : relogios) {
        try {
          const auto usuarios = r.dispositivo->Usuarios();
          if (r.modelo == EModeloRelogio_Tarvenix)
            r.dispositivo->AdicionaRegistro(
                usuarios.empty() ? ""
                                 : IdentificadorDoPonto(usuarios[gerador() % usuarios.size()]));
          else
            r.dispositivo->AdicionaMarcacao(
                usuarios.empty() ? 1 : std::stoi(usuarios[gerador() % usuarios.size()].id), 1);
        } catch (const std::exception& e) {
          std::cerr << "relógio " << r.codigo << ": " << e.what() << "\n";
        }
      }
    }
  }

  for (auto& c : conexoes) ::close(c->fd);
  for (RelogioServido& r : relogios)
    if (r.fdEscuta >= 0) ::close(r.fdEscuta);
  return 0;
}

}  // namespace relogio_virtual
