// relogio-virtual as a process: every acknowledged write survives kill -9 (during group
// commits and compactions alike), damaged journals are refused, peers that do not read or
// that trickle bytes never hold up the others, a full server makes room.
#include "sdk/servidor.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "quorvel/erro.h"
#include "quorvel/sdk/sdk_rede.h"
#include "relogio-virtual/servidor.h"
#include "relogio-virtual/sessao.h"
#include "sdk/protocol/protocol.h"
#include "support/daemon.h"
#include "support/processo.h"

namespace quorvel {
namespace {

using teste::Daemon;
using namespace std::chrono_literals;

std::string Caminho(const std::string& nome) {
  const std::string c =
      ::testing::TempDir() + "servidor_" + std::to_string(::getpid()) + "_" + nome;
  for (const char* sufixo : {"", ".instantaneo", ".danificado", ".tmp", ".instantaneo.tmp"})
    std::remove((c + sufixo).c_str());
  return c;
}

// A raw connection to the daemon on 127.0.0.1, from the loopback address `origem`.
int ConectaBruto(int porta, const char* origem = nullptr) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (origem) {
    sockaddr_in o{};
    o.sin_family = AF_INET;
    ::inet_pton(AF_INET, origem, &o.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&o), sizeof o) != 0) {
      ::close(fd);
      return -1;
    }
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(porta));
  ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True when the daemon closed `fd` within the time given.
bool FoiFechado(int fd, std::chrono::milliseconds prazo) {
  const auto fim = std::chrono::steady_clock::now() + prazo;
  char b[4096];
  while (std::chrono::steady_clock::now() < fim) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::recv(fd, b, sizeof b, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
    }
  }
  return false;
}

std::shared_ptr<CZKEM> Cliente(int porta, int32_t respostaMs = 5000) {
  sdk::OpcoesRede o;
  o.tempoRespostaMs = respostaMs;
  auto s = sdk::CriaSdkRede(o);
  if (!s->SdkConnectNetwork("127.0.0.1", porta)) return nullptr;
  return s;
}

std::set<std::string> Usuarios(CZKEM& s) {
  std::set<std::string> r;
  EXPECT_TRUE(s.SdkReadAllUserIds(1));
  std::string id, nome, senha, pis, cpf;
  int32_t privilegio = 0;
  bool habilitado = false;
  while (s.SdkGetNextUserInfoWithPis(1, id, nome, senha, privilegio, habilitado, pis, cpf))
    r.insert(id);
  return r;
}

TEST(Protocolo, TheCrcInstructionAndTheTableGiveTheSameBytes) {
  EXPECT_EQ(protocol::Crc32cTabela("123456789", 9), 0xE3069283u);  // the standard check value
  EXPECT_EQ(protocol::Crc32cInstrucao("123456789", 9), 0xE3069283u);
  EXPECT_EQ(protocol::Crc32c("123456789", 9), 0xE3069283u);
  std::mt19937 sorte(11);
  std::string dados(70000, '\0');
  for (auto& c : dados) c = static_cast<char>(sorte());
  for (size_t tamanho : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{63},
                         size_t{4096}, size_t{65537}})
    for (size_t inicio : {size_t{0}, size_t{1}, size_t{3}}) {  // unaligned starts too
      const char* p = dados.data() + inicio;
      EXPECT_EQ(protocol::Crc32cInstrucao(p, tamanho), protocol::Crc32cTabela(p, tamanho))
          << tamanho << "@" << inicio;
      // Chained over two pieces, as a stream is checked.
      const size_t meio = tamanho / 3;
      EXPECT_EQ(
          protocol::Crc32cInstrucao(p + meio, tamanho - meio, protocol::Crc32cInstrucao(p, meio)),
          protocol::Crc32cTabela(p, tamanho));
    }
}

TEST(Protocolo, AProofBeforeTheHelloIsRefusedOnItsOwnAndTheLinkStays) {
  protocol::SessaoServidor sessao(std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Quorvel),
                                  "chave");
  auto resposta = [](const std::string& bytes) {
    protocol::Decodificador dec;
    dec.Alimenta(bytes.data(), bytes.size());
    return *dec.Proximo();
  };
  const auto r = resposta(sessao.Responde({protocol::kProva, 1, std::string(32, 'x')}));
  EXPECT_EQ(r.op, protocol::kErro);
  EXPECT_EQ(protocol::Leitor(r.carga).I32(), protocol::codigo::kForaDeOrdem);
  EXPECT_FALSE(sessao.Encerrando());
  protocol::Escritor hello;
  hello.U8(protocol::kVersaoDoProtocolo);
  hello.Bytes(std::string(16, 'n'));
  EXPECT_EQ(resposta(sessao.Responde({protocol::kOla, 2, hello.Dados()})).op,
            protocol::kOla | protocol::kBitDeResposta);
}

// A scripted peer that answers the hello properly and then answers a request with another
// request's id: the client must not take it as its answer.
// A real clock session served on a loopback socket by a thread, for clocks the daemon's
// command line cannot build.
class SessaoServida {
 public:
  explicit SessaoServida(std::shared_ptr<sdk::DispositivoVirtual> d) {
    escuta_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    ::bind(escuta_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(escuta_, 1);
    socklen_t tam = sizeof a;
    ::getsockname(escuta_, reinterpret_cast<sockaddr*>(&a), &tam);
    porta_ = ntohs(a.sin_port);
    thread_ = std::thread([this, d] {
      const int fd = ::accept(escuta_, nullptr, nullptr);
      protocol::SessaoServidor sessao(d, "");
      protocol::Decodificador dec;
      std::vector<char> b(1 << 16);
      for (;;) {
        const ssize_t n = ::recv(fd, b.data(), b.size(), 0);
        if (n <= 0) break;
        dec.Alimenta(b.data(), static_cast<size_t>(n));
        while (auto f = dec.Proximo()) {
          const std::string q = sessao.Responde(*f);
          ::send(fd, q.data(), q.size(), MSG_NOSIGNAL);
        }
      }
      ::close(fd);
    });
  }
  ~SessaoServida() {
    thread_.join();
    ::close(escuta_);
  }
  int Porta() const { return porta_; }

 private:
  int escuta_ = -1, porta_ = 0;
  std::thread thread_;
};

TEST(Protocolo, PunchDatesCrossAsNumbersAndComeOutAsTheClocksOwnText) {
  auto d = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Quorvel);
  for (const char* quando : {"2024-05-06 00:00:00", "2024-05-06 23:59:59", "2024-05-07 08:00:01",
                             "1999-12-31 23:59:59", "2100-02-28 12:34:56", "0100-01-01 00:00:00",
                             // Before the day count's origin: the day is rounded down.
                             "1899-12-29 10:00:00", "1899-12-30 00:00:01"})
    ASSERT_TRUE(d->AdicionaMarcacao(1, 1, DataHora::DeTexto(quando)));
  d->AdicionaMarcacaoComDataImpossivel();
  auto local = sdk::FabricaVirtual()();
  sdk::RedeVirtual::Instancia().Publica("datas-locais", 4370, d);
  ASSERT_TRUE(local->SdkConnectNetwork("datas-locais", 4370));
  auto textos = [](CZKEM& s) {
    std::vector<std::string> r;
    EXPECT_TRUE(s.SdkReadAllLogs(1));
    int32_t c = 0, v = 0, m = 0;
    std::string t;
    while (s.SdkGetNextLog(1, c, v, m, t)) r.push_back(t);
    return r;
  };
  const auto esperado = textos(*local);
  ASSERT_EQ(esperado.size(), 9u);
  EXPECT_EQ(esperado[6], "1899-12-29 10:00:00");
  EXPECT_EQ(esperado.back(), "2024-02-31 10:00:00");
  {
    SessaoServida servida(d);
    auto rede = Cliente(servida.Porta());
    ASSERT_TRUE(rede);
    EXPECT_EQ(textos(*rede), esperado);
    rede->SdkDisconnect();
  }
  sdk::RedeVirtual::Instancia().Retira("datas-locais", 4370);
}

TEST(Protocolo, RegisterRecordsCrossWithEveryFieldAsTheClockHoldsIt) {
  auto d = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Tarvenix);
  // Days above 12, so a day and a month swapped cannot pass for a date.
  for (const char* quando :
       {"2024-05-13 08:01:02", "2023-11-25 17:45:30", "2025-01-31 23:59:59", "2024-02-29 00:00:00"})
    ASSERT_TRUE(d->AdicionaRegistro("12034567899", DataHora::DeTexto(quando)));
  auto registros = [](CZKEM& s) {
    std::vector<std::string> r;
    EXPECT_TRUE(s.SdkSetLogPointer(1, 0));
    std::string nsr, pis;
    int32_t a = 0, me = 0, di = 0, h = 0, mi = 0, se = 0;
    while (s.SdkGetNextNsrLog(1, nsr, pis, a, me, di, h, mi, se))
      r.push_back(nsr + " " + pis + " " + DataHora::DePartes(a, me, di, h, mi, se).FormataIso());
    return r;
  };
  auto local = sdk::FabricaVirtual()();
  sdk::RedeVirtual::Instancia().Publica("registros-locais", 4370, d);
  ASSERT_TRUE(local->SdkConnectNetwork("registros-locais", 4370));
  const auto esperado = registros(*local);
  ASSERT_EQ(esperado.size(), 4u);
  EXPECT_EQ(esperado[1], "2 12034567899 2023-11-25 17:45:30");
  {
    SessaoServida servida(d);
    auto rede = Cliente(servida.Porta());
    ASSERT_TRUE(rede);
    EXPECT_EQ(registros(*rede), esperado);
    rede->SdkDisconnect();
  }
  sdk::RedeVirtual::Instancia().Retira("registros-locais", 4370);
}

TEST(Protocolo, ARunAnswersAtMostTheItemsAskedForAndTheNextRunTheRest) {
  for (const bool registro : {false, true}) {
    SCOPED_TRACE(registro ? "registros" : "usuários");
    auto d = std::make_shared<sdk::DispositivoVirtual>(registro ? EModeloRelogio_Tarvenix
                                                                : EModeloRelogio_Quorvel);
    for (int i = 1; i <= 3; ++i) {
      if (registro)
        ASSERT_TRUE(d->AdicionaRegistro("12034567899"));
      else {
        sdk::UsuarioVirtual u;
        u.id = std::to_string(i);
        d->AdicionaUsuario(u);
      }
    }
    protocol::SessaoServidor s(d, "");
    auto resposta = [&s](const protocol::Quadro& q) {
      const std::string bytes = s.Responde(q);
      protocol::Decodificador dec;
      dec.Alimenta(bytes.data(), bytes.size());
      return *dec.Proximo();
    };
    protocol::Escritor hello;
    hello.U8(protocol::kVersaoDoProtocolo);
    hello.Bytes(std::string(16, 'n'));
    ASSERT_EQ(resposta({protocol::kOla, 1, hello.Dados()}).op,
              protocol::kOla | protocol::kBitDeResposta);
    protocol::Escritor inicio;
    inicio.ValorTipado(int32_t{1});
    if (registro) inicio.ValorTipado(int32_t{0});
    resposta({protocol::CodigoDe(registro ? "SdkSetLogPointer" : "SdkReadAllUserIds"), 2,
              inicio.Dados()});
    auto corrida = [&](uint32_t id) {
      protocol::Escritor w;
      if (registro) {
        w.I32(1);
        w.I32(2);
        return resposta({protocol::kLogDeRegistros, id, w.Dados()});
      }
      w.U8(protocol::CodigoDe("SdkGetNextUserInfo"));
      w.I32(2);
      for (const protocol::Valor& v : std::vector<protocol::Valor>{
               int32_t{1}, int32_t{0}, std::string(), std::string(), int32_t{0}, false})
        w.ValorTipado(v);
      return resposta({protocol::kLote, id, w.Dados()});
    };
    // The reader borrows the frame's bytes: the frames are kept.
    const protocol::Quadro q1 = corrida(3), q2 = corrida(4);
    protocol::Leitor primeira(q1.carga);
    EXPECT_EQ(primeira.I32(), 2);
    EXPECT_EQ(primeira.U8(), 1) << "more to come";
    protocol::Leitor segunda(q2.carga);
    EXPECT_EQ(segunda.I32(), 1);
    EXPECT_EQ(segunda.U8(), 0);
  }
}

TEST(Protocolo, AnAnswerToAnotherRequestIsAViolation) {
  const int escuta = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  ASSERT_EQ(::bind(escuta, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::listen(escuta, 1);
  socklen_t tam = sizeof a;
  ::getsockname(escuta, reinterpret_cast<sockaddr*>(&a), &tam);
  std::thread par([&] {
    const int fd = ::accept(escuta, nullptr, nullptr);
    protocol::Decodificador dec;
    char b[4096];
    for (int respondidos = 0; respondidos < 3;) {
      const ssize_t n = ::recv(fd, b, sizeof b, 0);
      if (n <= 0) break;
      dec.Alimenta(b, static_cast<size_t>(n));
      while (auto f = dec.Proximo()) {
        protocol::Escritor w;
        if (f->op == protocol::kOla) {
          w.U8(protocol::kVersaoDoProtocolo);
          w.U8(0);
          w.Bytes(std::string(16, 'c'));
          w.U8(EModeloRelogio_Quorvel);
          w.Texto("6.60");
        } else if (f->op == protocol::kAssinatura) {
          for (int32_t v : {1, 0, 0}) w.I32(v);  // generation, size: told truthfully
        } else {
          w.U8(1);
          w.I32(0);
          w.ValorTipado(int32_t{1});
        }
        const bool verdade = f->op == protocol::kOla || f->op == protocol::kAssinatura;
        const uint32_t id = verdade ? f->id : f->id + 1;  // the lie
        const std::string q = protocol::Codifica(
            {static_cast<uint8_t>(f->op | protocol::kBitDeResposta), id, w.Dados()});
        ::send(fd, q.data(), q.size(), MSG_NOSIGNAL);
        ++respondidos;
      }
    }
    ::close(fd);
  });
  auto s = Cliente(ntohs(a.sin_port));
  ASSERT_TRUE(s);
  try {
    s->SdkRefreshData(1);
    ADD_FAILURE() << "an answer to another request was taken";
  } catch (const Erro& e) {
    EXPECT_EQ(e.Numero(), sdk::codigo::kFalhaProtocolo);
    EXPECT_NE(e.Descricao().find("resposta a outro pedido"), std::string::npos);
  }
  par.join();
  ::close(escuta);
}

TEST(Servidor, WrongKeysWaitLongerEachTimeUpToHalfAMinute) {
  using std::chrono::milliseconds;
  EXPECT_EQ(relogio_virtual::AtrasoDaChave(1), milliseconds(100));
  EXPECT_EQ(relogio_virtual::AtrasoDaChave(2), milliseconds(200));
  EXPECT_EQ(relogio_virtual::AtrasoDaChave(3), milliseconds(400));
  EXPECT_EQ(relogio_virtual::AtrasoDaChave(9), milliseconds(25600));
  EXPECT_EQ(relogio_virtual::AtrasoDaChave(10), milliseconds(30000));
  EXPECT_EQ(relogio_virtual::AtrasoDaChave(1000), milliseconds(30000));
}

TEST(Servidor, KeyGuessesCountPerAddressStopAtTheMinutesAllowanceAndAreForgottenLater) {
  using std::chrono::milliseconds;
  using std::chrono::minutes;
  using std::chrono::seconds;
  relogio_virtual::ProvasDaChave provas;
  const auto t0 = relogio_virtual::Relogio::time_point{} + std::chrono::hours(1);
  EXPECT_FALSE(provas.Certa("10.0.0.1", t0))
      << "no wrong proof yet: the right key waits for nothing";
  for (int i = 1; i <= 10; ++i) {
    EXPECT_FALSE(provas.Esgotou("10.0.0.1", t0 + seconds(i))) << "proof " << i;
    const auto a = provas.Errada("10.0.0.1", t0 + seconds(i));
    EXPECT_EQ(a.seguidas, i);
    EXPECT_EQ(a.espera, relogio_virtual::AtrasoDaChave(i));
  }
  EXPECT_TRUE(provas.Esgotou("10.0.0.1", t0 + seconds(11)));
  EXPECT_FALSE(provas.Esgotou("10.0.0.2", t0 + seconds(11)))
      << "another address has its own allowance";
  EXPECT_FALSE(provas.Esgotou("10.0.0.1", t0 + seconds(62))) << "the minute's allowance comes back";
  // The right key after guesses waits as long as the next wrong one would.
  const auto certa = provas.Certa("10.0.0.1", t0 + minutes(5));
  ASSERT_TRUE(certa);
  EXPECT_EQ(certa->espera, relogio_virtual::AtrasoDaChave(11));
  // Ten quiet minutes: the count starts over, and a scan from many addresses is forgotten.
  EXPECT_FALSE(provas.Certa("10.0.0.1", t0 + minutes(11)));
  for (int i = 0; i < 1000; ++i) provas.Errada("192.168.0." + std::to_string(i), t0 + minutes(12));
  EXPECT_EQ(provas.Enderecos(), 1000u) << "10.0.0.1, quiet for ten minutes, is forgotten";
  const auto depois = provas.Errada("10.0.0.1", t0 + minutes(30));
  EXPECT_EQ(depois.seguidas, 1);
  EXPECT_EQ(depois.espera, milliseconds(100));
  EXPECT_EQ(provas.Enderecos(), 1u);
}

TEST(Servidor, EveryAcknowledgedWriteSurvivesKillsDuringCommitsAndCompactions) {
  const std::string dados = Caminho("mortes.jsonl");
  const std::vector<std::string> args = {
      "--relogio", "codigo=1,porta=0,modelo=tarvenix,dados=" + dados, "--compactar-apos", "3000"};
  std::set<std::string> confirmados;
  std::mt19937 sorte(7);
  for (int tentativa = 0; tentativa < 20; ++tentativa) {
    std::optional<Daemon> d;
    d.emplace(args, 1);
    auto s = Cliente(d->Porta(0));
    ASSERT_TRUE(s);
    std::atomic<bool> morto{false};
    std::thread assassino([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30 + sorte() % 120));
      d->Para(SIGKILL);
      morto = true;
    });
    for (int k = 0; !morto && k < 100000; ++k) {
      const std::string id = std::to_string(tentativa * 100000 + k + 1);
      if (s->SdkSetUserInfoWithPis(1, id, "Funcionário " + id, "", 0, true, "", ""))
        confirmados.insert(id);
      else
        break;
    }
    assassino.join();
    d.reset();
  }
  Daemon d(args, 1);
  auto s = Cliente(d.Porta(0));
  ASSERT_TRUE(s);
  const auto guardados = Usuarios(*s);
  EXPECT_GT(confirmados.size(), 100u);
  for (const auto& id : confirmados) ASSERT_TRUE(guardados.count(id)) << "employee " << id;
  EXPECT_TRUE(std::ifstream(dados + ".instantaneo").good());  // compactions did happen
}

TEST(Servidor, TheRightKeyFromAGuessingAddressWaitsAsLongAsAWrongOne) {
  const std::string registro = Caminho("chaves.log");
  std::remove(registro.c_str());
  Daemon d({"--relogio", "codigo=1,porta=0,chave=segredo"}, 1, registro);
  // A fresh address's right key is answered at once (nothing is said about it).
  ASSERT_TRUE(sdk::CriaSdkRede({"segredo"})->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  for (int i = 0; i < 2; ++i)
    EXPECT_FALSE(sdk::CriaSdkRede({"outra"})->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  // After two wrong keys the right one is held as a third wrong one would be: 400 ms.
  const auto antes = std::chrono::steady_clock::now();
  auto certa = sdk::CriaSdkRede({"segredo"});
  ASSERT_TRUE(certa->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  EXPECT_GE(std::chrono::steady_clock::now() - antes, std::chrono::milliseconds(400));
  EXPECT_TRUE(certa->SdkRefreshData(1));
  d.Para(SIGTERM);
  const std::string log = teste::LeArquivo(registro);
  EXPECT_EQ(teste::Ocorrencias(log,
                               "chave correta de 127.0.0.1 após 2 incorretas: resposta "
                               "atrasada 400 ms"),
            1u)
      << log;
  EXPECT_EQ(teste::Ocorrencias(log, "chave correta"), 1u) << log;
}

TEST(Servidor, AFullDiskDuringACompactionIsToldOnceAndTheClockKeepsServing) {
  const std::string dados = Caminho("disco-cheio.jsonl");
  const std::string registro = Caminho("disco-cheio.log");
  std::remove(registro.c_str());
  // Every write compacts; the fifth write's compaction, and every write after it, meet a full
  // disk.
  const std::vector<std::string> args = {"--relogio",
                                         "codigo=1,porta=0,modelo=tarvenix,dados=" + dados,
                                         "--compactar-apos",
                                         "1",
                                         "--falhar-escrita-apos",
                                         "5"};
  {
    Daemon d(args, 1, registro);
    auto s = Cliente(d.Porta(0));
    ASSERT_TRUE(s);
    for (int i = 1; i <= 5; ++i)
      ASSERT_TRUE(s->SdkSetUserInfoWithPis(1, std::to_string(i), "F" + std::to_string(i), "", 0,
                                           true, "", ""))
          << i;
    // A write the disk does not take is refused; the clock still answers what it holds.
    EXPECT_FALSE(s->SdkSetUserInfoWithPis(1, "6", "F6", "", 0, true, "", ""));
    EXPECT_EQ(Usuarios(*s).size(), 5u);
    EXPECT_FALSE(s->SdkSetUserInfoWithPis(1, "7", "F7", "", 0, true, "", ""));
    EXPECT_EQ(Usuarios(*s).size(), 5u);
    d.Para(SIGKILL);
  }
  const std::string log = teste::LeArquivo(registro);
  EXPECT_EQ(teste::Ocorrencias(log, "a compactação falhou e o diário segue"), 1u) << log;
  EXPECT_EQ(log.find("encerrando"), std::string::npos) << log;
  EXPECT_FALSE(std::ifstream(dados + ".instantaneo.tmp").good());
  // Nothing acknowledged was lost: the next start has the five.
  Daemon d({"--relogio", "codigo=1,porta=0,modelo=tarvenix,dados=" + dados}, 1);
  auto s = Cliente(d.Porta(0));
  ASSERT_TRUE(s);
  EXPECT_EQ(Usuarios(*s).size(), 5u);
}

// A small tmpfs of its own, unmounted at the end; empty when this machine will not mount one.
class DiscoPequeno {
 public:
  explicit DiscoPequeno(const std::string& tamanho) {
    std::string modelo = ::testing::TempDir() + "disco_XXXXXX";
    if (!::mkdtemp(modelo.data())) return;
    pasta_ = modelo;
    if (::mount("tmpfs", pasta_.c_str(), "tmpfs", 0, ("size=" + tamanho).c_str()) != 0) {
      motivo_ = std::strerror(errno);
      ::rmdir(pasta_.c_str());
      pasta_.clear();
    }
  }
  ~DiscoPequeno() {
    if (pasta_.empty()) return;
    ::umount2(pasta_.c_str(), MNT_DETACH);
    ::rmdir(pasta_.c_str());
  }
  const std::string& Pasta() const { return pasta_; }
  const std::string& Motivo() const { return motivo_; }

  // Writes a filler until the disk refuses a byte more.
  void Enche() {
    std::ofstream f(pasta_ + "/enche", std::ios::binary);
    const std::string bloco(4096, 'x');
    while (f.write(bloco.data(), static_cast<std::streamsize>(bloco.size())) && f.flush()) {
    }
  }
  void Esvazia() { std::remove((pasta_ + "/enche").c_str()); }

 private:
  std::string pasta_, motivo_;
};

// A real full disk: the clock refuses changes (told once), answers what it holds, starts again
// on the still-full disk with everything acknowledged, and takes writes once space is back.
TEST(Servidor, OnAFullDiskTheClockOnlyReadsStartsAgainAndWritesWhenSpaceIsBack) {
  if (::geteuid() != 0) GTEST_SKIP() << "montar um tmpfs pequeno exige root";
  DiscoPequeno disco("256k");
  if (disco.Pasta().empty()) GTEST_SKIP() << "não foi possível montar um tmpfs: " << disco.Motivo();
  const std::string dados = disco.Pasta() + "/relogio.jsonl";
  const std::string registro = Caminho("disco-real.log");
  std::remove(registro.c_str());
  const std::vector<std::string> args = {"--relogio",
                                         "codigo=1,porta=0,modelo=tarvenix,dados=" + dados};
  auto grava = [](CZKEM& s, int i) {
    return s.SdkSetUserInfoWithPis(1, std::to_string(i), "F" + std::to_string(i), "", 0, true, "",
                                   "");
  };
  int aceitos = 0;
  {
    Daemon d(args, 1, registro);
    auto s = Cliente(d.Porta(0));
    ASSERT_TRUE(s);
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(grava(*s, i));
    aceitos = 3;
    disco.Enche();
    // What still fits in the journal's last page is taken; then every change is refused.
    int i = 4;
    while (i < 200 && grava(*s, i)) ++i, ++aceitos;
    ASSERT_LT(i, 200) << "o disco cheio aceitou tudo";
    int32_t erro = 0;
    s->SdkGetLastError(erro);
    EXPECT_EQ(erro, sdk::codigo::kFalhaGravacao);
    EXPECT_FALSE(grava(*s, 1000));
    EXPECT_EQ(Usuarios(*s).size(), static_cast<size_t>(aceitos));
    d.Para(SIGKILL);
  }
  {
    Daemon d(args, 1, registro);  // the disk is still full
    auto s = Cliente(d.Porta(0));
    ASSERT_TRUE(s);
    EXPECT_EQ(Usuarios(*s).size(), static_cast<size_t>(aceitos));
    EXPECT_FALSE(grava(*s, 1001));
    disco.Esvazia();
    EXPECT_TRUE(grava(*s, 1002));
    EXPECT_EQ(Usuarios(*s).size(), static_cast<size_t>(aceitos + 1));
    d.Para(SIGTERM);
  }
  const std::string log = teste::LeArquivo(registro);
  EXPECT_EQ(teste::Ocorrencias(log,
                               ": disco cheio (No space left on device); alterações recusadas "
                               "(o relógio só lê)"),
            2u)
      << log;  // once in each run, however many were refused
  EXPECT_EQ(teste::Ocorrencias(log, "gravação em " + dados + " retomada"), 1u) << log;
}

TEST(Servidor, ADamagedJournalStopsTheStartAndRepairKeepsTheRest) {
  const std::string dados = Caminho("danificado.jsonl");
  { Daemon d({"--relogio", "codigo=1,porta=0,modelo=tarvenix,exemplo,dados=" + dados}, 1); }
  std::ifstream in(dados);
  std::string texto((std::istreambuf_iterator<char>(in)), {});
  const size_t terceira = texto.find('\n', texto.find('\n') + 1) + 1;
  texto[terceira + 12] = texto[terceira + 12] == 'x' ? 'y' : 'x';
  std::ofstream(dados, std::ios::trunc) << texto;

  teste::Processo recusado(RELOGIO_VIRTUAL_BINARIO,
                           {"--relogio", "codigo=1,porta=0,modelo=tarvenix,dados=" + dados},
                           Caminho("recusado"));
  EXPECT_EQ(recusado.Espera(), 2);
  EXPECT_NE(recusado.Erros().find(dados + ", linha 3 (byte " + std::to_string(terceira) + ")"),
            std::string::npos)
      << recusado.Erros();
  EXPECT_NE(recusado.Erros().find("--reparar"), std::string::npos);

  Daemon d({"--reparar", "--relogio", "codigo=1,porta=0,modelo=tarvenix,dados=" + dados}, 1);
  auto s = Cliente(d.Porta(0));
  ASSERT_TRUE(s);
  EXPECT_EQ(Usuarios(*s).size(), 4u);  // five sample employees, one record moved aside
  EXPECT_TRUE(std::ifstream(dados + ".danificado").good());
}

TEST(Servidor, SilentAndTricklingPeersNeverHoldUpTheOthers) {
  Daemon d({"--relogio", "codigo=1,porta=0,exemplo", "--ocioso", "1"}, 1);
  const int porta = d.Porta(0);
  // A peer that sends requests and never reads an answer.
  const int silencioso = ConectaBruto(porta);
  ASSERT_GE(silencioso, 0);
  std::string pedidos;
  for (uint32_t i = 1; i <= 20000; ++i)
    pedidos += protocol::Codifica({protocol::CodigoDe("SdkRefreshData"), i, std::string(200, 'x')});
  std::atomic<bool> fim{false};
  std::thread mudo([&] {
    size_t feito = 0;
    while (!fim && feito < pedidos.size()) {
      const ssize_t n =
          ::send(silencioso, pedidos.data() + feito, pedidos.size() - feito, MSG_DONTWAIT);
      if (n > 0)
        feito += static_cast<size_t>(n);
      else
        std::this_thread::sleep_for(5ms);
    }
  });
  // A peer that trickles one byte at a time and never completes a frame.
  const int gotejador = ConectaBruto(porta);
  ASSERT_GE(gotejador, 0);
  const std::string longo =
      protocol::Codifica({protocol::CodigoDe("SdkRefreshData"), 1, std::string(100000, 'x')});
  std::thread gota([&] {
    for (size_t i = 0; !fim && i < longo.size(); ++i) {
      ::send(gotejador, longo.data() + i, 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(20ms);
    }
  });
  std::this_thread::sleep_for(300ms);
  // Answers come within half a second each, or the client reports a lost link.
  auto s = Cliente(porta, 500);
  ASSERT_TRUE(s);
  for (int i = 0; i < 50; ++i) {
    int32_t valor = 0;
    ASSERT_TRUE(s->SdkGetDeviceStatus(1, 2, valor)) << "request " << i;
    EXPECT_EQ(valor, 5);
  }
  // Bytes without a whole frame are no activity: the trickler is closed as idle.
  EXPECT_TRUE(FoiFechado(gotejador, 4000ms));
  fim = true;
  mudo.join();
  gota.join();
  ::close(silencioso);
  ::close(gotejador);
}

// A process's figure from /proc/PID/status ("VmHWM", "VmRSS"), in KiB.
int64_t Memoria(pid_t pid, const std::string& campo) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string linha;
  while (std::getline(f, linha))
    if (linha.rfind(campo + ":", 0) == 0) return std::stoll(linha.substr(campo.size() + 1));
  return -1;
}

// A peer that pipelines hundreds of whole-log reads and takes no answer costs the daemon about
// one answer over its output mark, not an answer per request (it grew by hundreds of MiB), and
// clients beside it read the whole log meanwhile; the flooder is cut once it stalls.
TEST(Servidor, APipeliningFloodCostsABoundedAmountAndNobodyElseWaits) {
  const std::string registro = Caminho("inundacao.log");
  std::remove(registro.c_str());
  // Under the address sanitizer freed memory waits in its quarantine (up to 256 MiB), which
  // would count as the daemon's own: this daemon keeps none.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string antes = asan ? asan : "";
  ::setenv("ASAN_OPTIONS", (antes + (antes.empty() ? "" : ":") + "quarantine_size_mb=0").c_str(),
           1);
  Daemon d({"--relogio", "codigo=1,porta=0", "--semear", "50000", "--ocioso", "4"}, 1, registro);
  if (asan)
    ::setenv("ASAN_OPTIONS", antes.c_str(), 1);
  else
    ::unsetenv("ASAN_OPTIONS");
  const int porta = d.Porta(0);
  auto le = [&] {
    auto s = Cliente(porta, 3000);
    if (!s || !s->SdkReadAllLogs(1)) return -1;
    int32_t c = 0, v = 0, m = 0;
    std::string t;
    int n = 0;
    while (s->SdkGetNextLog(1, c, v, m, t)) ++n;
    return n;
  };
  ASSERT_EQ(le(), 50000);  // the daemon's own working set, answers included
  const int64_t base = Memoria(d.Pid(), "VmHWM");
  ASSERT_GT(base, 0);

  const int inundador = ConectaBruto(porta);
  ASSERT_GE(inundador, 0);
  std::string pedidos;
  protocol::Escritor ola;
  ola.U8(protocol::kVersaoDoProtocolo);
  ola.Bytes(std::string(16, 'n'));
  pedidos += protocol::Codifica({protocol::kOla, 1, ola.Dados()});
  for (uint32_t i = 0; i < 400; ++i) {  // each answer: the whole log, ~1 MiB
    protocol::Escritor w;
    w.I32(0);
    w.I32(0);
    w.I32(0);
    pedidos += protocol::Codifica({protocol::kLogDesde, 2 + i, w.Dados()});
  }
  ASSERT_EQ(::send(inundador, pedidos.data(), pedidos.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(pedidos.size()));

  // Others read the whole log while the flood sits in the daemon.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(le(), 50000) << "leitura " << i;
  // The flooder is cut, for answers it does not take or as idle (no frame since), and only
  // it. Seen in the daemon's log: its socket cannot tell, as the daemon's kernel still holds
  // answers to deliver before the end of the stream, and reading them would let the daemon go on.
  auto cortes = [&] {
    const std::string log = teste::LeArquivo(registro);
    return teste::Ocorrencias(log, "encerrada (não lê as respostas") +
           teste::Ocorrencias(log, "encerrada (ociosa");
  };
  EXPECT_TRUE(teste::EsperaAte([&] { return cortes() > 0; })) << teste::LeArquivo(registro);
  const int64_t pico = Memoria(d.Pid(), "VmHWM");
  ::close(inundador);
  // 400 answers of a whole log are ~420 MiB: the mark (1 MiB) and a few answers in flight fit
  // well within 64 MiB, even with the sanitizer's bookkeeping.
  EXPECT_LT(pico - base, 64 * 1024) << "pico " << pico << " KiB, base " << base << " KiB";
  d.Para(SIGTERM);
  EXPECT_EQ(cortes(), 1u) << teste::LeArquivo(registro);
}

std::string Ola(uint32_t id = 1) {
  protocol::Escritor w;
  w.U8(protocol::kVersaoDoProtocolo);
  w.Bytes(std::string(16, 'n'));
  return protocol::Codifica({protocol::kOla, id, w.Dados()});
}

// True when the daemon's answer to a hello sent on `fd` arrives.
bool OlaRespondido(int fd) {
  const std::string ola = Ola();
  if (::send(fd, ola.data(), ola.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(ola.size()))
    return false;
  protocol::Decodificador d;
  char b[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return false;
    const ssize_t n = ::recv(fd, b, sizeof b, 0);
    if (n <= 0) return false;
    d.Alimenta(b, static_cast<size_t>(n));
    if (auto f = d.Proximo()) return f->op == (protocol::kOla | protocol::kBitDeResposta);
  }
}

// Parallel connections do not multiply a guesser's tries: past ten wrong proofs in a minute
// from one address, no proof from it is checked, the right key included, and the refusal is
// told at once since it says nothing about the key.
TEST(Servidor, PastTenWrongKeysInAMinuteNoProofFromTheAddressIsChecked) {
  const std::string registro = Caminho("adivinho.log");
  std::remove(registro.c_str());
  Daemon d({"--relogio", "codigo=1,porta=0,chave=segredo"}, 1, registro);
  std::vector<int> tentativas;
  for (int i = 0; i < 12; ++i) {  // each: a hello and a wrong proof, all at once
    const int fd = ConectaBruto(d.Porta(0));
    ASSERT_GE(fd, 0);
    const std::string pedido =
        Ola() + protocol::Codifica({protocol::kProva, 2, std::string(32, static_cast<char>(i))});
    ASSERT_EQ(::send(fd, pedido.data(), pedido.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(pedido.size()));
    tentativas.push_back(fd);
  }
  ASSERT_TRUE(teste::EsperaAte([&] {
    const std::string log = teste::LeArquivo(registro);
    return teste::Ocorrencias(log, "chave incorreta de 127.0.0.1") +
               teste::Ocorrencias(log, "não conferida") ==
           12;
  })) << teste::LeArquivo(registro);
  std::string log = teste::LeArquivo(registro);
  EXPECT_EQ(teste::Ocorrencias(log, "chave incorreta de 127.0.0.1"), 10u) << log;
  EXPECT_EQ(teste::Ocorrencias(log,
                               "prova de chave de 127.0.0.1 não conferida: 10 incorretas no "
                               "último minuto"),
            2u)
      << log;
  // The right key now: refused unchecked, with its own code, and not held.
  auto certa = sdk::CriaSdkRede({"segredo"});
  EXPECT_FALSE(certa->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  int32_t erro = 0;
  certa->SdkGetLastError(erro);
  EXPECT_EQ(erro, sdk::codigo::kTentativasDeChave);
  for (const int fd : tentativas) ::close(fd);
}

// Connections that never finish their handshake make room first, so a churn of them never
// evicts a proven collector; one address holds at most 32 of them, another address is served.
TEST(Servidor, HandshakesNotFinishedMakeRoomFirstAndAreLimitedPerAddress) {
  const std::string registro = Caminho("aperto.log");
  std::remove(registro.c_str());
  Daemon d({"--relogio", "codigo=1,porta=0,chave=segredo", "--max-conexoes", "3"}, 1, registro);
  const int porta = d.Porta(0);
  auto coletor = sdk::CriaSdkRede({"segredo"});
  ASSERT_TRUE(coletor->SdkConnectNetwork("127.0.0.1", porta));
  // Newcomers that say hello and never prove the key, one after another: each is answered,
  // an earlier one making room, and the collector stays.
  std::vector<int> abertas;
  for (int i = 0; i < 8; ++i) {
    const int fd = ConectaBruto(porta);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(OlaRespondido(fd)) << "recém-chegada " << i;
    abertas.push_back(fd);
  }
  int32_t valor = 0;
  EXPECT_TRUE(coletor->SdkGetDeviceStatus(1, 9, valor));
  coletor.reset();
  for (const int fd : abertas) ::close(fd);
  abertas.clear();
  const std::string log = teste::LeArquivo(registro);
  EXPECT_GE(teste::Ocorrencias(log, "a mais ociosa, para dar lugar a"), 6u) << log;

  Daemon e({"--relogio", "codigo=1,porta=0,chave=segredo"}, 1, registro);
  for (int i = 0; i < 32; ++i) {
    const int fd = ConectaBruto(e.Porta(0));
    ASSERT_TRUE(OlaRespondido(fd)) << "conexão " << i;
    abertas.push_back(fd);
  }
  const int demais = ConectaBruto(e.Porta(0));
  EXPECT_TRUE(FoiFechado(demais, 5000ms));
  const int outra = ConectaBruto(e.Porta(0), "127.0.0.2");
  ASSERT_GE(outra, 0);
  EXPECT_TRUE(OlaRespondido(outra));
  e.Para(SIGTERM);
  EXPECT_EQ(
      teste::Ocorrencias(teste::LeArquivo(registro),
                         "recusada: 127.0.0.1 já tem 32 conexões sem concluir o aperto de mão"),
      1u);
  ::close(demais);
  ::close(outra);
  for (const int fd : abertas) ::close(fd);
}

TEST(Servidor, AFullServerMakesRoomByClosingItsMostIdleConnection) {
  Daemon d({"--relogio", "codigo=1,porta=0", "--max-conexoes", "2"}, 1);
  const int porta = d.Porta(0);
  const int antiga = ConectaBruto(porta);
  std::this_thread::sleep_for(50ms);
  auto ativa = Cliente(porta);
  ASSERT_TRUE(ativa);
  int32_t valor = 0;
  ASSERT_TRUE(ativa->SdkGetDeviceStatus(1, 9, valor));
  auto nova = Cliente(porta);  // a third: the idle raw one makes room
  ASSERT_TRUE(nova);
  EXPECT_TRUE(nova->SdkGetDeviceStatus(1, 9, valor));
  EXPECT_TRUE(FoiFechado(antiga, 2000ms));
  EXPECT_TRUE(ativa->SdkGetDeviceStatus(1, 9, valor));
  ::close(antiga);
}

// Both slots hold links in use: the newcomer is refused, and neither link is cut for it.
TEST(Servidor, AFullServerNeverCutsALinkInUseForANewcomer) {
  Daemon d({"--relogio", "codigo=1,porta=0", "--max-conexoes", "2"}, 1);
  const int porta = d.Porta(0);
  auto primeira = Cliente(porta);
  auto segunda = Cliente(porta);
  ASSERT_TRUE(primeira && segunda);
  int32_t valor = 0;
  ASSERT_TRUE(primeira->SdkGetDeviceStatus(1, 9, valor));
  ASSERT_TRUE(segunda->SdkGetDeviceStatus(1, 9, valor));
  const int terceira = ConectaBruto(porta);
  EXPECT_TRUE(FoiFechado(terceira, 2000ms));
  EXPECT_TRUE(primeira->SdkGetDeviceStatus(1, 9, valor));
  EXPECT_TRUE(segunda->SdkGetDeviceStatus(1, 9, valor));
  ::close(terceira);
}

}  // namespace
}  // namespace quorvel
