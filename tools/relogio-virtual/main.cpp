// relogio-virtual: serves virtual clocks over the clock protocol, on TCP ports of a loopback
// address or on pseudo-terminals standing in for serial lines. main() parses and dispatches.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/protocol/protocol.h"
#include "sdk/protocol/servidor.h"

namespace {

using namespace quorvel;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_parar = 0;
void AoSinal(int) { g_parar = 1; }

const char* kAjuda = R"(relogio-virtual — relógios virtuais servidos pelo protocolo de relógio

Uso: relogio-virtual --relogio ESPEC [--relogio ESPEC ...] [opções]

ESPEC: lista separada por vírgulas de
  codigo=N         código do relógio (obrigatório)
  modelo=M         quorvel (padrão) ou tarvenix
  porta=P          porta TCP (0: uma porta livre; padrão 4370)
  serial           serve num pseudo-terminal em vez de TCP (o caminho é impresso)
  firmware=V       versão do firmware
  chave=K          chave de comunicação exigida dos clientes
  dados=ARQUIVO    diário durável do estado (retomado ao reiniciar)
  exemplo          funcionários e marcações de exemplo (só num diário vazio)
  capacidade=N     capacidade de registros (e de usuários e digitais, se maior)
  desvio=SEGUNDOS  o relógio adianta (negativo: atrasa) esse tanto em relação ao computador

Opções:
  --endereco IP              endereço de escuta (padrão 127.0.0.1)
  --marcacoes-por-minuto N   gera marcações novas nesse ritmo
  --semear N                 acrescenta N marcações ao iniciar (para medições)
  --cair-apos N              derruba cada conexão depois de N quadros recebidos
  --atraso MS                atrasa cada resposta
  --recusar OP=CODIGO        a operação OP responde falso com esse código
  --corromper-apos N         corrompe o N-ésimo quadro enviado em cada conexão
  --max-conexoes N           conexões simultâneas (padrão 16)
  --ocioso SEGUNDOS          encerra conexões paradas (padrão 300)
)";

struct Relogio {
  int32_t codigo = 0;
  EModeloRelogio modelo = EModeloRelogio_Quorvel;
  int32_t porta = 4370;
  bool serial = false;
  bool exemplo = false;
  std::string firmware, chave, dados;
  int32_t capacidade = 0;
  int64_t desvio = 0;
  std::shared_ptr<sdk::DispositivoVirtual> dispositivo;
  int fdEscuta = -1;    // TCP listener
  int fdDiario = -1;    // journal
  bool emLote = false;  // seeding: one flush at the end instead of one per change
  std::string pendente;
};

struct Opcoes {
  std::string endereco = "127.0.0.1";
  std::vector<Relogio> relogios;
  int32_t marcacoesPorMinuto = 0;
  int64_t semear = 0;
  int64_t cairApos = 0;
  int32_t atrasoMs = 0;
  std::vector<std::pair<std::string, int32_t>> recusas;
  int64_t corromperApos = 0;
  size_t maxConexoes = 16;
  int32_t ociosoS = 300;
};

struct Conexao {
  int fd = -1;
  Relogio* relogio = nullptr;
  bool serial = false;
  std::string nome;
  protocol::Decoder decodificador;
  std::unique_ptr<protocol::ServerSession> sessao;
  int64_t recebidos = 0, enviados = 0;
  Clock::time_point ultimaAtividade = Clock::now();
};

[[noreturn]] void Uso(const std::string& motivo) {
  std::cerr << "relogio-virtual: " << motivo << "\nVeja \"relogio-virtual --ajuda\".\n";
  std::exit(2);
}

long long Numero(const std::string& texto, const std::string& onde) {
  char* fim = nullptr;
  const long long v = std::strtoll(texto.c_str(), &fim, 10);
  if (texto.empty() || *fim != '\0' || v < 0)
    Uso("número inválido em " + onde + ": \"" + texto + "\"");
  return v;
}

long long NumeroComSinal(const std::string& texto, const std::string& onde) {
  char* fim = nullptr;
  errno = 0;
  const long long v = std::strtoll(texto.c_str(), &fim, 10);
  // A century either way is more than any clock drifts and keeps dates in range.
  if (texto.empty() || *fim != '\0' || errno != 0 || v < -3155760000LL || v > 3155760000LL)
    Uso("número inválido em " + onde + ": \"" + texto + "\"");
  return v;
}

Relogio LeEspec(const std::string& espec) {
  Relogio r;
  std::istringstream in(espec);
  for (std::string item; std::getline(in, item, ',');) {
    const auto igual = item.find('=');
    const std::string k = item.substr(0, igual),
                      v = igual == std::string::npos ? "" : item.substr(igual + 1);
    if (k == "codigo")
      r.codigo = static_cast<int32_t>(Numero(v, "codigo"));
    else if (k == "modelo" && (v == "quorvel" || v == "tarvenix"))
      r.modelo = v == "quorvel" ? EModeloRelogio_Quorvel : EModeloRelogio_Tarvenix;
    else if (k == "porta")
      r.porta = static_cast<int32_t>(Numero(v, "porta"));
    else if (k == "serial")
      r.serial = true;
    else if (k == "exemplo")
      r.exemplo = true;
    else if (k == "firmware")
      r.firmware = v;
    else if (k == "chave")
      r.chave = v;
    else if (k == "dados")
      r.dados = v;
    else if (k == "desvio")
      r.desvio = NumeroComSinal(v, "desvio");
    else if (k == "capacidade")
      r.capacidade = static_cast<int32_t>(Numero(v, "capacidade"));
    else
      Uso("item desconhecido em --relogio: \"" + item + "\"");
  }
  if (r.codigo < 1 || r.codigo > 32767) Uso("--relogio precisa de codigo=1..32767");
  if (r.porta > 65535) Uso("porta inválida");
  return r;
}

Opcoes LeOpcoes(int argc, char** argv) {
  Opcoes o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto valor = [&]() -> std::string {
      if (i + 1 >= argc) Uso("a opção " + a + " precisa de um valor");
      return argv[++i];
    };
    if (a == "--ajuda" || a == "--help") {
      std::cout << kAjuda;
      std::exit(0);
    } else if (a == "--relogio")
      o.relogios.push_back(LeEspec(valor()));
    else if (a == "--endereco")
      o.endereco = valor();
    else if (a == "--marcacoes-por-minuto")
      o.marcacoesPorMinuto = static_cast<int32_t>(Numero(valor(), a));
    else if (a == "--semear")
      o.semear = Numero(valor(), a);
    else if (a == "--cair-apos")
      o.cairApos = Numero(valor(), a);
    else if (a == "--atraso")
      o.atrasoMs = static_cast<int32_t>(Numero(valor(), a));
    else if (a == "--corromper-apos")
      o.corromperApos = Numero(valor(), a);
    else if (a == "--max-conexoes")
      o.maxConexoes = static_cast<size_t>(Numero(valor(), a));
    else if (a == "--ocioso")
      o.ociosoS = static_cast<int32_t>(Numero(valor(), a));
    else if (a == "--recusar") {
      const std::string v = valor();
      const auto igual = v.find('=');
      if (igual == std::string::npos) Uso("use --recusar OPERACAO=CODIGO");
      o.recusas.emplace_back(v.substr(0, igual),
                             static_cast<int32_t>(std::strtol(v.c_str() + igual + 1, nullptr, 10)));
    } else
      Uso("opção desconhecida: " + a);
  }
  if (o.relogios.empty()) Uso("informe ao menos um --relogio");
  return o;
}

// Each change reaches the disk before the operation answers: written and flushed.
void AbreDiario(Relogio& r) {
  if (r.dados.empty()) return;
  {
    std::ifstream in(r.dados);
    std::string linha;
    size_t n = 0;
    while (std::getline(in, linha))
      if (r.dispositivo->Reaplica(linha)) ++n;
    if (n > 0)
      std::cerr << "relógio " << r.codigo << ": " << n << " registros retomados de " << r.dados
                << "\n";
  }
  r.fdDiario = ::open(r.dados.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (r.fdDiario < 0) Uso("não foi possível abrir " + r.dados);
  Relogio* rp = &r;
  r.dispositivo->DefineDiario([rp](const std::string& linha) {
    rp->pendente.append(linha).push_back('\n');
    if (rp->emLote && rp->pendente.size() < (1u << 20)) return;
    size_t feito = 0;
    while (feito < rp->pendente.size()) {
      const ssize_t n =
          ::write(rp->fdDiario, rp->pendente.data() + feito, rp->pendente.size() - feito);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        throw std::runtime_error(
            "falha ao gravar o diário");  // the call fails, nothing is acknowledged
      feito += static_cast<size_t>(n);
    }
    rp->pendente.clear();
    if (!rp->emLote && ::fdatasync(rp->fdDiario) != 0)
      throw std::runtime_error("falha ao sincronizar o diário");
  });
}

void DescarregaLote(Relogio& r) {
  r.emLote = false;
  if (r.fdDiario < 0) return;
  if (!r.pendente.empty()) {
    if (::write(r.fdDiario, r.pendente.data(), r.pendente.size()) !=
        static_cast<ssize_t>(r.pendente.size()))
      throw std::runtime_error("falha ao gravar o diário");
    r.pendente.clear();
  }
  ::fdatasync(r.fdDiario);
}

int AbreEscuta(const std::string& endereco, int32_t& porta) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int um = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(porta));
  if (::inet_pton(AF_INET, endereco.c_str(), &a.sin_addr) != 1)
    Uso("endereço inválido: " + endereco);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0)
    Uso("não foi possível escutar em " + endereco + ":" + std::to_string(porta) + " (" +
        std::strerror(errno) + ")");
  socklen_t tam = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &tam);
  porta = ntohs(a.sin_port);
  return fd;
}

int AbrePty(std::string& caminho) {
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
    Uso("não foi possível criar um pseudo-terminal");
  caminho = ::ptsname(fd);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

bool EnviaTudo(int fd, const std::string& dados) {
  size_t feito = 0;
  while (feito < dados.size()) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    const ssize_t n = ::write(fd, dados.data() + feito, dados.size() - feito);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    feito += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Opcoes o = LeOpcoes(argc, argv);
  std::signal(SIGTERM, AoSinal);
  std::signal(SIGINT, AoSinal);
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::unique_ptr<Conexao>> conexoes;
  try {
    for (Relogio& r : o.relogios) {
      r.dispositivo = std::make_shared<sdk::DispositivoVirtual>(r.modelo, r.firmware);
      if (r.desvio != 0) r.dispositivo->DefineDesvio(r.desvio);
      if (r.capacidade > 0)
        r.dispositivo->DefineCapacidades(
            {std::max(3000, r.capacidade), std::max(3000, r.capacidade), r.capacidade});
      const bool novo = r.dados.empty() || !std::ifstream(r.dados).good() ||
                        std::ifstream(r.dados).peek() == std::ifstream::traits_type::eof();
      AbreDiario(r);
      r.emLote = true;
      if (r.exemplo && novo) sdk::SemeiaExemplo(*r.dispositivo);
      for (int64_t i = 0; i < o.semear; ++i) {
        if (r.modelo == EModeloRelogio_Tarvenix)
          r.dispositivo->AdicionaRegistro("12034567899");
        else
          r.dispositivo->AdicionaMarcacao(static_cast<int32_t>(i % 50) + 1, 1);
      }
      DescarregaLote(r);
      for (const auto& [op, codigo] : o.recusas) r.dispositivo->Recusa(op, codigo);
      const char* nomeModelo = r.modelo == EModeloRelogio_Tarvenix ? "tarvenix" : "quorvel";
      if (r.serial) {
        auto c = std::make_unique<Conexao>();
        std::string caminho;
        c->fd = AbrePty(caminho);
        c->relogio = &r;
        c->serial = true;
        c->nome = caminho;
        c->sessao = std::make_unique<protocol::ServerSession>(r.dispositivo, r.chave);
        conexoes.push_back(std::move(c));
        std::cout << "relógio " << r.codigo << " (" << nomeModelo << ") na serial " << caminho
                  << std::endl;
      } else {
        r.fdEscuta = AbreEscuta(o.endereco, r.porta);
        std::cout << "relógio " << r.codigo << " (" << nomeModelo << ") em " << o.endereco << ":"
                  << r.porta << std::endl;
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "relogio-virtual: " << e.what() << "\n";
    return 1;
  }

  std::mt19937 gerador(42);
  const auto intervaloMarcacao = o.marcacoesPorMinuto > 0
                                     ? std::chrono::milliseconds(60000 / o.marcacoesPorMinuto)
                                     : std::chrono::milliseconds(0);
  auto proximaMarcacao = Clock::now() + intervaloMarcacao;

  std::vector<char> buffer(1 << 16);
  while (!g_parar) {
    std::vector<pollfd> fds;
    for (const Relogio& r : o.relogios)
      if (r.fdEscuta >= 0) fds.push_back({r.fdEscuta, POLLIN, 0});
    for (const auto& c : conexoes) fds.push_back({c->fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR) break;

    size_t k = 0;
    for (Relogio& r : o.relogios) {
      if (r.fdEscuta < 0) continue;
      if (fds[k++].revents & POLLIN) {
        sockaddr_in de{};
        socklen_t tam = sizeof de;
        const int fd = ::accept4(r.fdEscuta, reinterpret_cast<sockaddr*>(&de), &tam,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        char ip[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &de.sin_addr, ip, sizeof ip);
        const std::string nome = std::string(ip) + ":" + std::to_string(ntohs(de.sin_port));
        size_t tcp = 0;
        for (const auto& c : conexoes) tcp += c->serial ? 0 : 1;
        if (tcp >= o.maxConexoes) {
          std::cerr << "conexão de " << nome << " recusada: limite de " << o.maxConexoes
                    << " conexões\n";
          ::close(fd);
          continue;
        }
        auto c = std::make_unique<Conexao>();
        c->fd = fd;
        c->relogio = &r;
        c->nome = nome;
        c->sessao = std::make_unique<protocol::ServerSession>(r.dispositivo, r.chave);
        std::cerr << "conexão de " << nome << " ao relógio " << r.codigo << "\n";
        conexoes.push_back(std::move(c));
      }
    }

    const auto agora = Clock::now();
    for (size_t i = 0; i < conexoes.size(); ++i) {
      Conexao& c = *conexoes[i];
      bool fechar = false;
      std::string motivo;
      const size_t indice = k + i;
      if (indice < fds.size() && fds[indice].fd == c.fd &&
          (fds[indice].revents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = ::read(c.fd, buffer.data(), buffer.size());
        if (n <= 0) {
          if (!c.serial) {
            fechar = true;
            motivo = "fim da conexão";
          }
        } else {
          c.ultimaAtividade = agora;
          c.decodificador.Feed(buffer.data(), static_cast<size_t>(n));
          try {
            while (auto f = c.decodificador.Next()) {
              ++c.recebidos;
              if (o.cairApos > 0 && c.recebidos > o.cairApos) {
                fechar = true;
                motivo = "queda simulada";
                break;
              }
              std::string resposta = c.sessao->Handle(*f);
              if (o.atrasoMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(o.atrasoMs));
              if (o.corromperApos > 0 && ++c.enviados == o.corromperApos && resposta.size() > 13)
                resposta[12] ^= 0x5A;
              if (!EnviaTudo(c.fd, resposta)) {
                fechar = true;
                motivo = "falha ao enviar";
                break;
              }
              if (c.sessao->Closing()) {
                fechar = true;
                motivo = "chave incorreta";
                break;
              }
            }
          } catch (const protocol::ProtocolError& e) {
            fechar = true;
            motivo = std::string("quadro inválido: ") + e.what();
          }
        }
      }
      if (!fechar && !c.serial && agora - c.ultimaAtividade > std::chrono::seconds(o.ociosoS)) {
        fechar = true;
        motivo = "ociosa";
      }
      if (fechar) {
        if (c.serial) {
          // A serial line never goes away: start over with a fresh session.
          c.decodificador = protocol::Decoder();
          c.sessao =
              std::make_unique<protocol::ServerSession>(c.relogio->dispositivo, c.relogio->chave);
          c.recebidos = c.enviados = 0;
          std::cerr << "serial " << c.nome << " reiniciada (" << motivo << ")\n";
        } else {
          std::cerr << "conexão de " << c.nome << " encerrada (" << motivo << ", " << c.recebidos
                    << " quadros)\n";
          ::close(c.fd);
          conexoes.erase(conexoes.begin() + static_cast<std::ptrdiff_t>(i));
          --i;
          // fds indices of later connections shift; they are served at the next round.
          break;
        }
      }
    }

    if (intervaloMarcacao.count() > 0 && Clock::now() >= proximaMarcacao) {
      proximaMarcacao += intervaloMarcacao;
      for (Relogio& r : o.relogios) {
        try {
          const auto usuarios = r.dispositivo->Usuarios();
          if (r.modelo == EModeloRelogio_Tarvenix)
            r.dispositivo->AdicionaRegistro(
                usuarios.empty() ? "" : usuarios[gerador() % usuarios.size()].pis);
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
  for (Relogio& r : o.relogios) {
    if (r.fdEscuta >= 0) ::close(r.fdEscuta);
    if (r.fdDiario >= 0) ::close(r.fdDiario);
  }
  std::cerr << "relogio-virtual encerrado.\n";
  return 0;
}
