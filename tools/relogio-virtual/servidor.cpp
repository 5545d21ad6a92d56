// The daemon's serving loop: one round at a time over every connection, answers held until the
// round's changes are durable, each connection's work bounded, key guessing slowed.
#include "servidor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <random>

#include "sdk/protocol/protocol.h"
#include "sdk/servidor.h"
#include "sessao.h"

namespace relogio_virtual {

namespace {

using namespace quorvel;

// After answering, the next request of a busy client comes within microseconds: the loop asks
// for it without sleeping for this long, which spares a wake-up per exchange.
constexpr std::chrono::microseconds kEsperaAtiva{50};
// Reads tried on the busy client's link before every link is polled again: a few
// microseconds, so the others wait no longer than that for their turn.
constexpr int kLeiturasDiretas = 8;
// Rounds served straight from the busy client's link before every link is polled anyway: a
// client that never pauses must not keep newcomers, closes and the others' requests waiting.
constexpr int kRodadasSemPoll = 16;

// A peer whose answers sit over the mark and that takes none of them for this long is cut.
constexpr std::chrono::seconds kSaidaParada{30};
// Connections from one address still in their handshake (no hello yet, the key not yet proven,
// or the proof's answer still held): a collector opens a few at a time; more is a flood.
constexpr size_t kSemProvaPorEndereco = 32;

}  // namespace

namespace {

// The serving loop's state and its steps, one round at a time: wait for what is ready, take
// new connections, answer whole frames, punch on the simulated clocks, make the round's changes
// durable, push to subscribed links, and write the answers out and close what must close.
class Laco {
 public:
  Laco(const OpcoesServidor& o, std::vector<RelogioServido>& relogios)
      : o_(o),
        relogios_(relogios),
        intervaloMarcacao_(o.marcacoesPorMinuto > 0
                               ? std::chrono::milliseconds(60000 / o.marcacoesPorMinuto)
                               : std::chrono::milliseconds(0)),
        proximaMarcacao_(Relogio::now() + intervaloMarcacao_),
        proximoPulso_(Relogio::now()),
        ultimaAtividade_(Relogio::now() - kEsperaAtiva),
        buffer_(1 << 16) {
    for (RelogioServido& r : relogios_) {
      if (r.fdSerial < 0) continue;
      auto c = std::make_unique<Conexao>();
      c->fd = r.fdSerial;
      c->relogio = &r;
      c->serial = true;
      c->nome = r.caminhoSerial;
      c->sessao = std::make_unique<protocol::SessaoServidor>(r.dispositivo, r.chave);
      conexoes_.push_back(std::move(c));
    }
  }
  ~Laco() {
    for (auto& c : conexoes_) ::close(c->fd);
    for (RelogioServido& r : relogios_)
      if (r.fdEscuta >= 0) ::close(r.fdEscuta);
  }
  Laco(const Laco&) = delete;
  Laco& operator=(const Laco&) = delete;

  // Waits for a link, a listener or a held answer to be ready (or reads the busy client's next
  // request straight away); false when polling itself failed.
  bool Espera() {
    agora_ = Relogio::now();
    fds_.clear();
    for (const RelogioServido& r : relogios_)
      if (r.fdEscuta >= 0) fds_.push_back({r.fdEscuta, POLLIN, 0});
    primeiraConexao_ = fds_.size();
    int espera = 100;
    for (const auto& c : conexoes_) {
      short eventos = 0;
      const bool retida = c->liberaEm > agora_;
      // A peer that does not take its answers is not read further: it cannot make the daemon
      // hold more than its own bound, and it never holds up anyone else.
      const bool podeAtender = !retida && !c->fechaAposEnviar && c->Pendente() < kMarcaDeSaida;
      if (podeAtender && !c->quadrosProntos) eventos |= POLLIN;
      if (podeAtender && c->quadrosProntos) espera = 0;  // frames already read wait their turn
      if (!retida && c->Pendente() > 0) eventos |= POLLOUT;
      if (retida)
        espera = std::min<int>(
            espera, static_cast<int>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(c->liberaEm - agora_)
                            .count()) +
                        1);
      fds_.push_back({c->fd, eventos, 0});
    }
    // Simulated punches come on time: the wait ends when the next one is due.
    if (intervaloMarcacao_.count() > 0)
      espera = std::clamp<int>(
          static_cast<int>(
              std::chrono::ceil<std::chrono::milliseconds>(proximaMarcacao_ - agora_).count()),
          0, espera);
    const bool ativo = agora_ - ultimaAtividade_ < kEsperaAtiva;
    if (ativo) espera = 0;
    // A client in a run of exchanges sends its next request as soon as it has the answer: that
    // request is read straight from its link, and only when nothing is there yet are all links
    // polled. One system call per request instead of a poll and a read, which is most of what
    // an exchange costs the daemon.
    bool lidoDireto = false;
    if (ativo && rodadasSemPoll_ < kRodadasSemPoll && ultimaAtendida_ && !ultimaAtendida_->serial &&
        !ultimaAtendida_->quadrosProntos && !ultimaAtendida_->fechaAposEnviar &&
        ultimaAtendida_->liberaEm <= agora_ && ultimaAtendida_->Pendente() < kMarcaDeSaida) {
      for (int tentativa = 0; tentativa < kLeiturasDiretas; ++tentativa) {
        const ssize_t n = ::read(ultimaAtendida_->fd, buffer_.data(), buffer_.size());
        if (n > 0) {
          ultimaAtendida_->decodificador.Alimenta(buffer_.data(), static_cast<size_t>(n));
          ultimaAtendida_->quadrosProntos = true;
          lidoDireto = true;
        }
        if (n >= 0 || (errno != EAGAIN && errno != EINTR)) break;
      }
    }
    if (lidoDireto) {
      ++rodadasSemPoll_;
      for (pollfd& p : fds_) p.revents = 0;
    } else {
      rodadasSemPoll_ = 0;
      if (::poll(fds_.data(), fds_.size(), espera) < 0 && errno != EINTR) return false;
    }

    return true;
  }

  void Aceita() {
    // New connections; when every slot is taken the longest idle one makes room.
    size_t k = 0;
    for (RelogioServido& r : relogios_) {
      if (r.fdEscuta < 0) continue;
      if (!(fds_[k++].revents & POLLIN)) continue;
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
        for (const auto& c : conexoes_) {
          tcp += c->serial ? 0 : 1;
          if (c->ip == ip && c->EmApertoDeMao(instante)) ++semProva;
        }
        if (semProva >= kSemProvaPorEndereco) {
          std::cerr << "conexão de " << nome << " recusada: " << ip << " já tem " << semProva
                    << " conexões sem concluir o aperto de mão\n";
          ::close(fd);
          continue;
        }
        if (tcp >= o_.maxConexoes) {
          // Room is made first from a link still in its handshake (the oldest), else only
          // from a link in no use: one that never completed a frame, or whose last frame either
          // way (pushes included) is older than the idle window. A proven client collecting or
          // monitoring is never cut for a newcomer; the newcomer is.
          const auto limite = instante - std::chrono::seconds(o_.ociosoS);
          size_t maisOciosa = conexoes_.size();
          bool semProvaEscolhida = false;
          for (size_t i = 0; i < conexoes_.size(); ++i) {
            const Conexao& c = *conexoes_[i];
            if (c.serial) continue;
            if (c.EmApertoDeMao(instante)) {
              if (!semProvaEscolhida || c.aceitaEm < conexoes_[maisOciosa]->aceitaEm)
                maisOciosa = i;
              semProvaEscolhida = true;
              continue;
            }
            if (semProvaEscolhida || (c.recebidos > 0 && c.ultimaTroca >= limite)) continue;
            if (maisOciosa == conexoes_.size() ||
                c.ultimaTroca < conexoes_[maisOciosa]->ultimaTroca)
              maisOciosa = i;
          }
          if (maisOciosa == conexoes_.size()) {
            std::cerr << "conexão de " << nome << " recusada: as " << o_.maxConexoes
                      << " conexões estão em uso\n";
            ::close(fd);
            continue;
          }
          Fecha(maisOciosa, "a mais ociosa, para dar lugar a " + nome);
        }
        auto c = std::make_unique<Conexao>();
        c->fd = fd;
        c->relogio = &r;
        c->nome = nome;
        c->ip = ip;
        c->sessao = std::make_unique<protocol::SessaoServidor>(r.dispositivo, r.chave);
        std::cerr << "conexão de " << nome << " ao relógio " << r.codigo << "\n";
        conexoes_.push_back(std::move(c));
      }
    }
  }

  void Atende() {
    // Requests: whole frames are answered into their connection's buffer, within the round's
    // budget and while the peer takes its answers.
    aFechar_.clear();
    for (size_t i = 0; i < conexoes_.size(); ++i) {
      Conexao& c = *conexoes_[i];
      const size_t indice = primeiraConexao_ + i;
      if (indice >= fds_.size() || fds_[indice].fd != c.fd) continue;  // accepted this round
      const bool leitura = fds_[indice].events & POLLIN;
      if (leitura && (fds_[indice].revents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = ::read(c.fd, buffer_.data(), buffer_.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
          if (!c.serial) aFechar_.emplace_back(&c, "fim da conexão");
          continue;
        }
        c.decodificador.Alimenta(buffer_.data(), static_cast<size_t>(n));
      } else if (!leitura && (fds_[indice].revents & (POLLHUP | POLLERR))) {
        aFechar_.emplace_back(&c, "fim da conexão");
        continue;
      } else if (!(c.quadrosProntos && c.liberaEm <= agora_ && !c.fechaAposEnviar &&
                   c.Pendente() < kMarcaDeSaida)) {
        continue;
      }
      c.quadrosProntos = false;
      const int64_t antes = c.recebidos;
      if (auto motivo = c.AtendeQuadros(o_, provas_)) aFechar_.emplace_back(&c, *motivo);
      if (c.recebidos != antes) {
        ultimaAtividade_ = c.ultimoQuadro;
        ultimaAtendida_ = &c;
      }
    }
  }

  // False when a journal could not be made durable: nothing more may be acknowledged.
  bool Confirma() {
    // Group commit: every change of this round reaches the disk with one sync per journal,
    // and only then do the answers leave.
    for (RelogioServido& r : relogios_) {
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

    return true;
  }

  void Avisa() {
    // Pushes to subscribed links, only now that what they announce is durable; a heartbeat
    // every second lets a client trust its copy of the log's size.
    const bool pulso = Relogio::now() >= proximoPulso_;
    if (pulso) proximoPulso_ = Relogio::now() + std::chrono::seconds(1);
    for (auto& c : conexoes_) {
      if (c->fechaAposEnviar) continue;
      const std::string aviso = c->sessao->Aviso(pulso);
      if (aviso.empty()) continue;
      c->saida += aviso;
      c->ultimaTroca = Relogio::now();  // a subscribed link is in use while it is told things
    }
  }

  void Escreve() {
    const auto depois = Relogio::now();
    for (auto& [c, motivo] : aFechar_)
      for (size_t i = 0; i < conexoes_.size(); ++i)
        if (conexoes_[i].get() == c) {
          Fecha(i, motivo);
          break;
        }
    for (size_t i = 0; i < conexoes_.size(); ++i) {
      Conexao& c = *conexoes_[i];
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
      if (motivo.empty() && c.Pendente() > o_.limiteSaida) motivo = "não lê as respostas";
      if (motivo.empty() && !c.serial && c.Pendente() >= kMarcaDeSaida &&
          depois - c.ultimoEnvio >
              std::min<std::chrono::seconds>(kSaidaParada, std::chrono::seconds(o_.ociosoS)))
        motivo = "não lê as respostas";
      if (motivo.empty() && c.fechaAposEnviar && c.Pendente() == 0) motivo = "chave incorreta";
      if (motivo.empty() && !c.serial && depois - c.ultimoQuadro > std::chrono::seconds(o_.ociosoS))
        motivo = "ociosa";
      if (!motivo.empty() && Fecha(i, motivo)) --i;
    }
  }

  void Marca() {
    if (intervaloMarcacao_.count() > 0 && Relogio::now() >= proximaMarcacao_) {
      proximaMarcacao_ += intervaloMarcacao_;
      // The instant the round of punches began, to the millisecond, for a measurement that
      // compares a punch's arrival with it (the punches carry only their second).
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
      for (RelogioServido& r : relogios_) {
        try {
          const auto usuarios = r.dispositivo->Usuarios();
          if (r.modelo == EModeloRelogio_Tarvenix)
            r.dispositivo->AdicionaRegistro(
                usuarios.empty() ? ""
                                 : IdentificadorDoPonto(usuarios[gerador_() % usuarios.size()]));
          else
            r.dispositivo->AdicionaMarcacao(
                usuarios.empty() ? 1 : std::stoi(usuarios[gerador_() % usuarios.size()].id), 1);
        } catch (const std::exception& e) {
          std::cerr << "relógio " << r.codigo << ": " << e.what() << "\n";
        }
      }
      const std::string milesimos = std::to_string(1000 + ms % 1000).substr(1);
      std::cerr << "marcações simuladas em " << relogios_.size()
                << (relogios_.size() == 1 ? " relógio" : " relógios") << " (época " << ms / 1000
                << "." << milesimos << ")\n";
    }
  }

 private:
  // Closes connection `i` (a serial line starts over with a fresh session instead); true when
  // it left the list.
  bool Fecha(size_t i, const std::string& motivo) {
    Conexao& c = *conexoes_[i];
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
    if (&c == ultimaAtendida_) ultimaAtendida_ = nullptr;
    ::close(c.fd);
    conexoes_.erase(conexoes_.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }

  const OpcoesServidor& o_;
  std::vector<RelogioServido>& relogios_;
  std::vector<std::unique_ptr<Conexao>> conexoes_;
  ProvasDaChave provas_;
  std::mt19937 gerador_{42};
  const std::chrono::milliseconds intervaloMarcacao_;
  Relogio::time_point proximaMarcacao_, proximoPulso_;
  // When a frame was last answered: right after, the busy client's next request is read
  // straight from its link.
  Relogio::time_point ultimaAtividade_;
  Relogio::time_point agora_;  // the round's start
  std::vector<char> buffer_;
  // The link whose request was answered last: while its client is busy, its next request is
  // read straight from it (see Espera).
  Conexao* ultimaAtendida_ = nullptr;
  int rodadasSemPoll_ = 0;
  std::vector<pollfd> fds_;
  size_t primeiraConexao_ = 0;  // fds_ holds the listeners first, then the connections
  std::vector<std::pair<Conexao*, std::string>> aFechar_;
};

}  // namespace

int Serve(const OpcoesServidor& o, std::vector<RelogioServido>& relogios,
          volatile std::sig_atomic_t& parar) {
  Laco laco(o, relogios);
  while (!parar) {
    if (!laco.Espera()) break;
    laco.Aceita();
    laco.Atende();
    // The round's punches before its sync: each is durable and announced in the round that
    // made it, as a clock's own punch is, not a poll's wait later.
    laco.Marca();
    if (!laco.Confirma()) return 1;
    laco.Avisa();
    laco.Escreve();
  }
  return 0;
}

}  // namespace relogio_virtual
