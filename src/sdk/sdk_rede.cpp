// The network backend: one stream (TCP socket or serial line) per SDK object, framed by the
// clock protocol, with next-item reads fetched in batches into a local buffer.
#include "quorvel/sdk/sdk_rede.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <unordered_map>

#include "quorvel/erro.h"
#include "quorvel/sdk/fonte_afd.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/protocol/protocol.h"
#include "sdk/protocol/servidor.h"

namespace quorvel::sdk {

namespace {

using namespace protocol;

std::atomic<uint64_t> g_enviados{0}, g_recebidos{0}, g_trocas{0};
constexpr int32_t kItensPorLote = 4096;  // next-item reads asked for in one kLote frame
constexpr std::chrono::microseconds kEsperaAtiva{50};

// A byte stream over a file descriptor: a TCP socket or a serial line alike.
class Fluxo {
 public:
  // `socket`: a TCP connection, written with send(MSG_NOSIGNAL) so that a peer that went away
  // is a failed call, never a SIGPIPE that would end the host's process.
  Fluxo(int fd, bool socket) : fd_(fd), socket_(socket) {}
  ~Fluxo() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fluxo(const Fluxo&) = delete;
  Fluxo& operator=(const Fluxo&) = delete;

  bool Envia(std::string_view dados, int timeoutMs) {
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
  // Bytes read (> 0), or 0 for end of stream, time-out or error.
  // Whatever has arrived, without waiting: bytes read, 0 when nothing is there, -1 when the
  // peer closed the link or it failed.
  ssize_t LeSemEsperar(char* destino, size_t tamanho) {
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

  ssize_t Recebe(char* destino, size_t tamanho, int timeoutMs) {
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

 private:
  int fd_;
  bool socket_;
};

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

// Every parameter travels; out-only ones go as defaults, since a caller may hand them in
// uninitialized (SdkQueryUserInfo's are in/out and go as given).
class SdkRede final : public CZKEM, public FonteDoAfd {
 public:
  explicit SdkRede(OpcoesRede o) : opcoes_(std::move(o)) {}

  bool SdkConnectNetwork(const std::string& ip, int32_t porta) override {
    Fecha();
    return Abre(AbreTcp(ip, porta, opcoes_.tempoConexaoMs));
  }
  bool SdkConnectSerial(int32_t porta, int32_t, int32_t baud) override {
    Fecha();
    if (baud != 115200) {
      ultimoErro_ = codigo::kArgumentoInvalido;
      return false;
    }
    return Abre(AbreSerial(CaminhoSerial(porta)));
  }
  void SdkDisconnect() override { Fecha(); }
  void SdkGetLastError(int32_t& c) override { c = ultimoErro_; }

  bool SdkEnableDevice(int32_t m, bool h) override {
    return ChamaSemSaida("SdkEnableDevice", {m, h});
  }
  bool SdkRefreshData(int32_t m) override { return ChamaSemSaida("SdkRefreshData", {m}); }
  bool SdkGetDeviceStatus(int32_t m, int32_t c, int32_t& v) override {
    if (c == kStatusRegistrosDoLog && PushConfiavel()) {
      v = static_cast<int32_t>(tamanhoPush_);
      ultimoErro_ = 0;
      return true;
    }
    std::vector<Valor> a{m, c, int32_t{0}};
    const bool r = Chama("SdkGetDeviceStatus", a);
    v = std::get<int32_t>(a[2]);
    return r;
  }
  bool SdkSetDeviceInfo(int32_t m, int32_t i, int32_t v) override {
    return ChamaSemSaida("SdkSetDeviceInfo", {m, i, v});
  }
  bool SdkGetDeviceTime(int32_t m, int32_t& a, int32_t& me, int32_t& d, int32_t& h, int32_t& mi,
                        int32_t& s) override {
    std::vector<Valor> v{m, int32_t{0}, int32_t{0}, int32_t{0}, int32_t{0}, int32_t{0}, int32_t{0}};
    const bool r = Chama("SdkGetDeviceTime", v);
    a = InteiroEm(v, 1), me = InteiroEm(v, 2), d = InteiroEm(v, 3), h = InteiroEm(v, 4),
    mi = InteiroEm(v, 5), s = InteiroEm(v, 6);
    return r;
  }
  bool SdkSetDeviceTime(int32_t m, int32_t a, int32_t me, int32_t d, int32_t h, int32_t mi,
                        int32_t s) override {
    return ChamaSemSaida("SdkSetDeviceTime", {m, a, me, d, h, mi, s});
  }
  // Announced in the hello: no round trip.
  bool SdkGetDeviceModel(int32_t, int32_t& modelo) override {
    if (!modeloAnunciado_) {
      ultimoErro_ = codigo::kLinkPerdido;
      return false;
    }
    modelo = static_cast<int32_t>(*modeloAnunciado_);
    ultimoErro_ = 0;
    return true;
  }
  bool SdkGetFirmwareVersion(int32_t m, std::string& v) override {
    std::vector<Valor> a{m, std::string()};
    const bool r = Chama("SdkGetFirmwareVersion", a);
    v = TextoEm(a, 1);
    return r;
  }
  bool SdkGetSysOption(int32_t m, const std::string& n, std::string& v) override {
    std::vector<Valor> a{m, n, std::string()};
    const bool r = Chama("SdkGetSysOption", a);
    v = TextoEm(a, 2);
    return r;
  }
  bool SdkSetSysOption(int32_t m, const std::string& n, const std::string& v) override {
    return ChamaSemSaida("SdkSetSysOption", {m, n, v});
  }
  bool SdkRefreshOptions(int32_t m) override { return ChamaSemSaida("SdkRefreshOptions", {m}); }
  bool SdkSetDaylight(int32_t m, int32_t l, const std::string& i, const std::string& f) override {
    return ChamaSemSaida("SdkSetDaylight", {m, l, i, f});
  }
  bool SdkClearAllData(int32_t m) override { return ChamaSemSaida("SdkClearAllData", {m}); }
  bool SdkTestOperation(int32_t a) override { return ChamaSemSaida("SdkTestOperation", {a}); }
  bool SdkSetEmployer(int32_t m, const std::string& n, int32_t t, const std::string& d,
                      const std::string& c, const std::string& e) override {
    return ChamaSemSaida("SdkSetEmployer", {m, n, t, d, c, e});
  }
  bool SdkReadAllLogs(int32_t m) override {
    // A register walk that reached the end of the log, and no push since saying it grew: the
    // walk that follows would find nothing, and its finished batch already says so.
    if (fimNsr_ && PushConfiavel() && fimNsr_->geracao == geracaoPush_ &&
        fimNsr_->tamanho == tamanhoPush_) {
      ultimoErro_ = 0;
      return true;
    }
    fimNsr_.reset();
    // The register log is read from the clock's position, which this call does not move: the
    // records already fetched (and a run asked for ahead) are the next ones, and stay; only a
    // finished walk is asked again.
    loteNsr_.terminou = false;
    cursorLog_ = 0;
    logPendente_ = true;  // checked at the first read: register clocks never read it
    logMais_ = false;
    return ChamaSemSaida("SdkReadAllLogs", {m});
  }
  bool SdkGetNextLog(int32_t, int32_t& c, int32_t& v, int32_t& mo, std::string& t) override {
    // The first read makes sure the copy is still this clock's log; later chunks are fetched
    // only as the walk reaches them, so a link that falls mid-log leaves what came usable.
    if (logPendente_) {
      if (!BuscaLog()) return false;
      logPendente_ = false;
    }
    while (cursorLog_ >= copiaLog_.size() && logMais_)
      if (!BuscaLog()) return false;
    if (cursorLog_ >= copiaLog_.size()) {
      ultimoErro_ = codigo::kNaoEncontrado;
      return false;
    }
    const RegistroLog& r = copiaLog_[cursorLog_++];
    c = r.cartao, v = r.valor, mo = r.modo;
    if (r.texto < 0)
      TextoDaData(r.segundos, t);
    else
      t = textosLog_[static_cast<size_t>(r.texto)];
    ultimoErro_ = 0;
    return true;
  }
  // Register records come in compact runs and are decoded in place, one per call: no
  // per-record objects on the way.
  bool SdkGetNextNsrLog(int32_t m, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                        int32_t& d, int32_t& h, int32_t& mi, int32_t& s) override {
    if (loteNsr_.restantes == 0 && !loteNsr_.terminou && !BuscaRegistros(m)) return false;
    if (loteNsr_.restantes == 0) {
      ultimoErro_ = loteNsr_.erroFinal;
      return false;
    }
    try {
      Leitor r(std::string_view(loteNsr_.dados).substr(loteNsr_.posicao));
      nsr.assign(r.TextoSemCopia());
      pis.assign(r.TextoSemCopia());
      a = r.I32();
      me = r.U8(), d = r.U8(), h = r.U8(), mi = r.U8(), s = r.U8();
      loteNsr_.posicao += r.Posicao();
    } catch (const ErroDeProtocolo& e) {
      Violacao(e.what());
    }
    if (--loteNsr_.restantes == 0 && loteNsr_.posicao != loteNsr_.dados.size())
      Violacao("registros a mais no lote");
    ultimoErro_ = 0;
    return true;
  }
  bool SdkSetLogPointer(int32_t m, int32_t p) override {
    Esquece("SdkGetNextNsrLog");
    fimNsr_.reset();
    const bool r = ChamaSemSaida("SdkSetLogPointer", {m, p});
    // A run asked for ahead was read from the old position (its answer was taken off the line
    // before this call's): it is dropped, and the walk starts over from the new one.
    if (adiantado_ && adiantado_->op == kLogDeRegistros) adiantado_.reset();
    return r;
  }
  bool SdkClearLogs(int32_t m) override { return ChamaSemSaida("SdkClearLogs", {m}); }
  bool SdkReadAllUserIds(int32_t m) override {
    Esquece("SdkGetNextUserInfo");
    Esquece("SdkGetNextUserInfoWithPis");
    EsqueceUsuarios();
    return ChamaSemSaida("SdkReadAllUserIds", {m});
  }
  bool SdkSetUserInfo(int32_t m, int32_t u, const std::string& n, const std::string& s, int32_t p,
                      bool h) override {
    return ChamaSemSaida("SdkSetUserInfo", {m, u, n, s, p, h});
  }
  bool SdkGetNextUserInfo(int32_t m, int32_t& u, std::string& n, std::string& s, int32_t& p,
                          bool& h) override {
    std::vector<Valor> a{m, int32_t{0}, std::string(), std::string(), int32_t{0}, false};
    if (!Proximo("SdkGetNextUserInfo", a)) return false;
    u = InteiroEm(a, 1), n = TextoEm(a, 2), s = TextoEm(a, 3), p = InteiroEm(a, 4),
    h = std::get<bool>(a[5]);
    return true;
  }
  bool SdkSetUserInfoWithPis(int32_t m, const std::string& u, const std::string& n,
                             const std::string& s, int32_t p, bool h, const std::string& pis,
                             const std::string& cpf) override {
    return ChamaSemSaida("SdkSetUserInfoWithPis", {m, u, n, s, p, h, pis, cpf});
  }
  bool SdkGetNextUserInfoWithPis(int32_t m, std::string& u, std::string& n, std::string& s,
                                 int32_t& p, bool& h, std::string& pis, std::string& cpf) override {
    std::vector<Valor> a{m,          std::string(), std::string(), std::string(),
                         int32_t{0}, false,         std::string(), std::string()};
    if (!Proximo("SdkGetNextUserInfoWithPis", a)) return false;
    u = TextoEm(a, 1), n = TextoEm(a, 2), s = TextoEm(a, 3), p = InteiroEm(a, 4),
    h = std::get<bool>(a[5]), pis = TextoEm(a, 6), cpf = TextoEm(a, 7);
    return true;
  }
  bool SdkQueryUserInfo(int32_t m, std::string& n, std::string& t, int32_t& num, bool& f) override {
    std::vector<Valor> a{m, n, t, num, f};
    const bool r = Chama("SdkQueryUserInfo", a);
    n = TextoEm(a, 1), t = TextoEm(a, 2), num = InteiroEm(a, 3), f = std::get<bool>(a[4]);
    return r;
  }
  bool SdkSetCardNumber(const std::string& c) override {
    return ChamaSemSaida("SdkSetCardNumber", {c});
  }
  bool SdkGetUserCardByTextId(int32_t m, const std::string& u, std::string& c) override {
    std::vector<Valor> a{m, u, std::string()};
    const bool r = Chama("SdkGetUserCardByTextId", a);
    if (r) c = TextoEm(a, 2);
    return r;
  }
  bool SdkDeleteEnrollData(int32_t m, int32_t u, int32_t m2, int32_t d) override {
    return ChamaSemSaida("SdkDeleteEnrollData", {m, u, m2, d});
  }
  bool SdkDeleteEnrollDataByTextId(int32_t m, const std::string& u, int32_t d) override {
    return ChamaSemSaida("SdkDeleteEnrollDataByTextId", {m, u, d});
  }
  bool SdkGetUserTemplate(int32_t m, int32_t u, int32_t d, std::string& t, int32_t& n) override {
    std::vector<Valor> a{m, u, d, std::string(), int32_t{0}};
    const bool r = LeTemplate("SdkGetUserTemplate", a);
    t = TextoEm(a, 3), n = InteiroEm(a, 4);
    return r;
  }
  bool SdkSetUserTemplate(int32_t m, int32_t u, int32_t d, const std::string& t) override {
    return ChamaSemSaida("SdkSetUserTemplate", {m, u, d, t});
  }
  bool SdkDeleteUserTemplate(int32_t m, int32_t u, int32_t d) override {
    return ChamaSemSaida("SdkDeleteUserTemplate", {m, u, d});
  }
  bool SdkGetUserTemplateByTextId(int32_t m, const std::string& u, int32_t d, int32_t& f,
                                  std::string& t, int32_t& n) override {
    std::vector<Valor> a{m, u, d, int32_t{0}, std::string(), int32_t{0}};
    const bool r = LeTemplate("SdkGetUserTemplateByTextId", a);
    f = InteiroEm(a, 3), t = TextoEm(a, 4), n = InteiroEm(a, 5);
    return r;
  }
  bool SdkSetUserTemplateByTextId(int32_t m, const std::string& u, int32_t d, int32_t f,
                                  const std::string& t) override {
    return ChamaSemSaida("SdkSetUserTemplateByTextId", {m, u, d, f, t});
  }
  bool SdkDeleteUserTemplateByTextId(int32_t m, const std::string& u, int32_t d) override {
    return ChamaSemSaida("SdkDeleteUserTemplateByTextId", {m, u, d});
  }
  bool SdkConvertTemplate(const std::string& e, std::string& s, int32_t& n) override {
    // A computation of the SDK itself, in the template format the clocks share.
    return ConverteTemplateSdk(e, s, n, ultimoErro_);
  }

 private:
  static int32_t InteiroEm(const std::vector<Valor>& a, size_t i) {
    return std::get<int32_t>(a[i]);
  }
  static const std::string& TextoEm(const std::vector<Valor>& a, size_t i) {
    return std::get<std::string>(a[i]);
  }

  bool ChamaSemSaida(const char* nome, std::vector<Valor> a) { return Chama(nome, a); }

  void Fecha() {
    fluxo_.reset();
    adiantado_.reset();
    decodificador_ = Decodificador();
    lotes_.clear();
    loteNsr_ = LoteNsr{};
    EsqueceUsuarios();
    assinado_ = false;
    tamanhoPush_ = -1;
    fimNsr_.reset();
  }

  [[noreturn]] void Violacao(const std::string& motivo) {
    Fecha();
    ultimoErro_ = codigo::kLinkPerdido;
    throw Erro(codigo::kFalhaProtocolo, "O relógio violou o protocolo: " + motivo + ".");
  }

  bool LinkPerdido() {
    Fecha();
    ultimoErro_ = codigo::kLinkPerdido;
    return false;
  }

  // Sends one frame and waits for its answer. Nothing: the link was lost (and is closed).
  std::optional<Quadro> Troca(uint8_t op, std::string payload) {
    if (!fluxo_) return std::nullopt;
    // A run asked for ahead is answered first: its answer is taken off the line and kept.
    if (adiantado_ && !adiantado_->resposta) {
      adiantado_->resposta = Aguarda(adiantado_->op, adiantado_->id);
      if (!adiantado_->resposta) {
        adiantado_.reset();
        return std::nullopt;
      }
    }
    const uint32_t id = ++sequencia_;
    ++g_trocas;
    if (!fluxo_->Envia(Codifica({op, id, std::move(payload)}), opcoes_.tempoRespostaMs))
      return std::nullopt;
    return Aguarda(op, id);
  }

  // ---- One log run asked for ahead ---------------------------------------------------------
  // While the walk goes through a run of the log, the clock already encodes the next one: the
  // request for it leaves as soon as the current run is taken in. It is used only if the next
  // request is that same one (same operation, same position); anything else drops it.
  struct Adiantado {
    uint8_t op;
    uint32_t id;
    std::string pedido;  // the request's payload: what it asked for
    std::optional<Quadro> resposta;
  };

  void PedeAdiantado(uint8_t op, std::string pedido) {
    if (!fluxo_ || adiantado_) return;
    const uint32_t id = ++sequencia_;
    ++g_trocas;
    if (!fluxo_->Envia(Codifica({op, id, pedido}), opcoes_.tempoRespostaMs)) return;
    adiantado_ = Adiantado{op, id, std::move(pedido), std::nullopt};
  }

  // The answer to `pedido`: the one asked for ahead when it is that request, else a new exchange.
  std::optional<Quadro> TrocaAdiantada(uint8_t op, std::string pedido) {
    if (adiantado_ && adiantado_->op == op && adiantado_->pedido == pedido) {
      Adiantado a = std::move(*adiantado_);
      adiantado_.reset();
      if (a.resposta) return a.resposta;
      return Aguarda(a.op, a.id);
    }
    return Troca(op, std::move(pedido));
  }

  // Waits for the answer to request `id`; pushes met on the way are taken in.
  std::optional<Quadro> Aguarda(uint8_t op, uint32_t id) {
    const auto prazo =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(opcoes_.tempoRespostaMs);
    char buffer[65536];
    for (;;) {
      std::optional<Quadro> f;
      try {
        f = decodificador_.Proximo();
      } catch (const ErroDeProtocolo&) {
        return std::nullopt;  // a corrupted frame: the line is not to be trusted any more
      }
      if (f) {
        if (EhPush(*f)) {
          RecebePush(*f);
          continue;
        }
        if (f->id != id) Violacao("resposta a outro pedido");
        if (f->op != (op | kBitDeResposta) && f->op != kErro) Violacao("resposta de outro tipo");
        ultimaTroca_ = std::chrono::steady_clock::now();
        return f;
      }
      const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
          prazo - std::chrono::steady_clock::now());
      if (resta.count() <= 0) return std::nullopt;
      const ssize_t n = fluxo_->Recebe(buffer, sizeof buffer, static_cast<int>(resta.count()));
      if (n <= 0) return std::nullopt;
      decodificador_.Alimenta(buffer, static_cast<size_t>(n));
    }
  }

  // An error frame: the clock refused; a failure as a call is thrown on.
  bool Recusa(const Quadro& f) {
    Leitor r(f.carga);
    int32_t codigo = 0;
    std::string mensagem;
    try {
      codigo = r.I32();
      mensagem = r.Texto();
    } catch (const ErroDeProtocolo&) {
      Violacao("quadro de erro malformado");
    }
    if (codigo == protocol::codigo::kFalhaNaChamada) throw Erro(codigo::kFalhaDeChamada, mensagem);
    // A clock of this protocol version made before an operation was added does not know it:
    // that operation is not supported there, and the link is as good as before.
    if (codigo == protocol::codigo::kPedidoMalformado && mensagem == "operação desconhecida") {
      ultimoErro_ = codigo::kNaoSuportado;
      return false;
    }
    if (codigo == protocol::codigo::kPedidoMalformado) Violacao("pedido recusado: " + mensagem);
    ultimoErro_ = codigo;
    return false;
  }

  bool Abre(std::unique_ptr<Fluxo> fluxo) {
    if (!fluxo) {
      ultimoErro_ = codigo::kLinkPerdido;
      return false;
    }
    fluxo_ = std::move(fluxo);
    modeloAnunciado_.reset();  // the clock at the other end says anew
    const std::string nonce = BytesAleatorios(16);
    Escritor w;
    w.U8(kVersaoDoProtocolo);
    w.Bytes(nonce);
    auto f = Troca(kOla, std::move(w.Dados()));
    if (!f) return LinkPerdido();
    if (f->op == kErro) {
      Recusa(*f);
      Fecha();
      return false;
    }
    bool exigeChave = false;
    std::string desafio;
    try {
      Leitor r(f->carga);
      if (r.U8() != kVersaoDoProtocolo) Violacao("versão diferente");
      exigeChave = r.U8() == 1;
      desafio = std::string(r.Bytes(16));
      const uint8_t modelo = r.U8();
      if (modelo != EModeloRelogio_Quorvel && modelo != EModeloRelogio_Tarvenix)
        Violacao("modelo " + std::to_string(modelo) + " desconhecido");
      modeloAnunciado_ = static_cast<EModeloRelogio>(modelo);
      r.Texto();  // the firmware, for people reading the exchange
      r.ExigeFim();
    } catch (const ErroDeProtocolo& e) {
      Violacao(e.what());
    }
    if (exigeChave) {
      if (opcoes_.chave.empty()) {
        Fecha();
        ultimoErro_ = codigo::kChaveExigida;
        return false;
      }
      auto p = Troca(kProva, Prova(opcoes_.chave, desafio, nonce));
      if (!p) return LinkPerdido();
      if (p->op == kErro) {
        Recusa(*p);
        Fecha();
        return false;
      }
    }
    if (!Assina()) return LinkPerdido();
    ultimoErro_ = 0;
    return true;
  }

  bool Chama(const char* nome, std::vector<Valor>& args) {
    // Anything but a read may change templates: what was read ahead is no longer known.
    if (std::strncmp(nome, "SdkGet", 6) != 0) antecipadas_.clear();
    Escritor w;
    for (const Valor& v : args) w.ValorTipado(v);
    return Pede(CodigoDe(nome), std::move(w.Dados()), [&](Leitor& r) {
      const uint8_t resposta = r.U8();
      ultimoErro_ = r.I32();
      std::vector<Valor> volta;
      while (!r.NoFim()) volta.push_back(r.ValorTipado());
      if (resposta > 1 || volta.size() != args.size()) Violacao("resposta com argumentos errados");
      for (size_t i = 0; i < args.size(); ++i)
        if (volta[i].index() != args[i].index()) Violacao("resposta com tipos errados");
      args = std::move(volta);
      return resposta == 1;
    });
  }

  // One request and its answer, read by `le`: a lost link, a refusal and a malformed answer end
  // the way every call's do.
  template <class Le>
  bool Pede(uint8_t op, std::string pedido, Le&& le) {
    auto f = Troca(op, std::move(pedido));
    if (!f) return LinkPerdido();
    if (f->op == kErro) return Recusa(*f);
    try {
      Leitor r(f->carga);
      return le(r);
    } catch (const ErroDeProtocolo& e) {
      Violacao(e.what());
    }
  }

  bool LeParteDoAfd(const PedidoAfd& pedido, ParteAfd& parte) override {
    if (pedido.depois < 0 || pedido.depois > INT32_MAX || pedido.limite < 0 ||
        pedido.limite > INT32_MAX) {
      ultimoErro_ = codigo::kArgumentoInvalido;
      return false;
    }
    Escritor w;
    w.I32(pedido.de);
    w.I32(pedido.ate);
    w.I32(static_cast<int32_t>(pedido.depois));
    w.I32(static_cast<int32_t>(pedido.limite));
    return Pede(kArquivoFiscal, std::move(w.Dados()), [&](Leitor& r) {
      const uint8_t resposta = r.U8();
      ultimoErro_ = r.I32();
      parte.limite = r.I32();
      parte.proximo = r.I32();
      parte.texto = r.Texto();
      r.ExigeFim();
      if (resposta > 1 || parte.limite < 0 || parte.proximo < 0)
        Violacao("parte do arquivo fiscal malformada");
      // A part that does not move on would be asked for again forever.
      if (resposta == 1 && parte.proximo != 0 && parte.proximo <= pedido.depois)
        Violacao("parte do arquivo fiscal que não avança");
      return resposta == 1;
    });
  }

  // The fingerprint clock's log, kept between reads: a read fetches only what the log grew
  // by, unless the clock says it is another log (erased, another clock, another run).
  // 24 bytes: a copy of a million-punch log is 24 MB that grows without moving strings.
  struct RegistroLog {
    int32_t cartao, valor, modo;
    int32_t texto;  // -1, or the index in textosLog_ of a date no calendar has (the clock's text)
    int64_t segundos;  // the date-time as a number (DataHora seconds)
  };

  // The copy in blocks that never move: a log of a million punches grows by one fresh block at
  // a time, where a single array would be copied and faulted in anew at every doubling.
  class CopiaDoLog {
   public:
    size_t size() const { return tamanho_; }
    const RegistroLog& operator[](size_t i) const { return blocos_[i / kPorBloco][i % kPorBloco]; }
    void push_back(const RegistroLog& r) {
      if (tamanho_ == blocos_.size() * kPorBloco)
        blocos_.push_back(std::make_unique_for_overwrite<RegistroLog[]>(kPorBloco));
      blocos_[tamanho_ / kPorBloco][tamanho_ % kPorBloco] = r;
      ++tamanho_;
    }
    void clear() {
      blocos_.clear();
      tamanho_ = 0;
    }

   private:
    static constexpr size_t kPorBloco = 1 << 16;  // 1.5 MiB
    std::vector<std::unique_ptr<RegistroLog[]>> blocos_;
    size_t tamanho_ = 0;
  };

  // "yyyy-MM-dd hh:mm:ss" from a number: the date part is made once per day.
  void TextoDaData(int64_t segundos, std::string& t) {
    const int64_t dia = segundos >= 0 ? segundos / 86400 : -((-segundos + 86399) / 86400);
    if (dia != diaDoTexto_ || prefixoDoDia_.empty()) {
      prefixoDoDia_ = DataHora::DeSegundos(dia * 86400).FormataIso().substr(0, 11);
      diaDoTexto_ = dia;
    }
    const auto resto = static_cast<int32_t>(segundos - dia * 86400);
    const int32_t partes[3] = {resto / 3600, resto / 60 % 60, resto % 60};
    // Written in place: a text of the same length keeps its buffer, so no allocation.
    t.resize(19);
    char* p = t.data();
    std::memcpy(p, prefixoDoDia_.data(), 11);
    for (int i = 0; i < 3; ++i) {
      p[11 + 3 * i] = static_cast<char>('0' + partes[i] / 10);
      p[12 + 3 * i] = static_cast<char>('0' + partes[i] % 10);
      if (i < 2) p[13 + 3 * i] = ':';
    }
  }
  int64_t diaDoTexto_ = 0;
  std::string prefixoDoDia_;

  // Fetches the next chunk of the log after the copy; another log (erased, another clock,
  // another run) replaces the copy from its start.
  bool BuscaLog() {
    Escritor w;
    w.I32(static_cast<int32_t>(geracaoLog_ & 0xFFFFFFFFu));
    w.I32(static_cast<int32_t>(geracaoLog_ >> 32));
    w.I32(static_cast<int32_t>(copiaLog_.size()));
    auto f = TrocaAdiantada(kLogDesde, std::move(w.Dados()));
    if (!f) return LinkPerdido();
    if (f->op == kErro) return Recusa(*f);
    try {
      Leitor r(f->carga);
      const uint64_t geracao = static_cast<uint32_t>(r.I32()) |
                               (static_cast<uint64_t>(static_cast<uint32_t>(r.I32())) << 32);
      const int32_t inicio = r.I32();
      const int32_t n = r.I32();
      if (inicio < 0 || n < 0 || n > 1'000'000) Violacao("log malformado");
      if (geracao != geracaoLog_ || static_cast<size_t>(inicio) != copiaLog_.size()) {
        if (inicio != 0) Violacao("log fora de ordem");
        copiaLog_.clear();
        textosLog_.clear();
        cursorLog_ = 0;
        geracaoLog_ = geracao;
      }
      for (int32_t i = 0; i < n; ++i) {
        RegistroLog reg;
        reg.cartao = r.I32();
        reg.valor = r.I32();
        reg.modo = r.I32();
        reg.texto = -1;
        reg.segundos = 0;
        const uint8_t tipo = r.U8();
        if (tipo == 0) {
          const auto baixo = static_cast<uint32_t>(r.I32());
          const auto alto = static_cast<uint32_t>(r.I32());
          reg.segundos = static_cast<int64_t>((static_cast<uint64_t>(alto) << 32) | baixo);
          static const int64_t kMenor = DataHora::DePartes(100, 1, 1).Segundos();
          static const int64_t kMaior = DataHora::DePartes(9999, 12, 31, 23, 59, 59).Segundos();
          if (reg.segundos < kMenor || reg.segundos > kMaior) Violacao("data fora do calendário");
        } else if (tipo == 1) {
          std::string texto = r.Texto();
          if (texto.empty()) Violacao("data vazia");
          reg.texto = static_cast<int32_t>(textosLog_.size());
          textosLog_.push_back(std::move(texto));
        } else {
          Violacao("tipo de data desconhecido");
        }
        copiaLog_.push_back(reg);
      }
      const uint8_t mais = r.U8();
      r.ExigeFim();
      if (mais != 0 && n == 0) Violacao("log sem progresso");
      logMais_ = mais != 0;
      if (logMais_) {
        Escritor proximo;
        proximo.I32(static_cast<int32_t>(geracaoLog_ & 0xFFFFFFFFu));
        proximo.I32(static_cast<int32_t>(geracaoLog_ >> 32));
        proximo.I32(static_cast<int32_t>(copiaLog_.size()));
        PedeAdiantado(kLogDesde, std::move(proximo.Dados()));
      }
    } catch (const ErroDeProtocolo& e) {
      Violacao(e.what());
    }
    return true;
  }

  // Next-item reads walk a local buffer filled a batch at a time.
  struct Lote {
    std::deque<std::vector<Valor>> itens;
    bool terminou = false;
    int32_t erroFinal = 0;
  };

  void Esquece(const char* nome) {
    lotes_.erase(nome);
    if (std::strcmp(nome, "SdkGetNextNsrLog") == 0) loteNsr_ = LoteNsr{};
  }

  struct LoteNsr {
    std::string dados;  // the answer's payload
    size_t posicao = 0;
    int32_t restantes = 0;
    bool terminou = false;
    int32_t erroFinal = 0;
  };
  LoteNsr loteNsr_;

  // The head of a run's answer (kLote, kLogDeRegistros).
  struct CabecalhoDeLote {
    int32_t itens;
    bool mais;
    int32_t erro;        // the last error after the run
    int32_t tamanhoLog;  // the log's size as the run ended
  };
  CabecalhoDeLote LeCabecalhoDeLote(Leitor& r) {
    CabecalhoDeLote c{};
    c.itens = r.I32();
    const uint8_t mais = r.U8();
    c.erro = r.I32();
    c.tamanhoLog = r.I32();
    if (c.itens < 0 || c.itens > kItensPorLote || mais > 1) Violacao("lote malformado");
    c.mais = mais == 1;
    return c;
  }

  bool BuscaRegistros(int32_t maquina) {
    Escritor w;
    w.I32(maquina);
    w.I32(kItensPorLote);
    const std::string pedido = w.Dados();
    auto f = TrocaAdiantada(kLogDeRegistros, std::move(w.Dados()));
    if (!f) return LinkPerdido();
    if (f->op == kErro) return Recusa(*f);
    try {
      Leitor r(f->carga);
      const CabecalhoDeLote c = LeCabecalhoDeLote(r);
      if (c.itens == 0 && r.Posicao() != f->carga.size()) Violacao("registros a mais no lote");
      loteNsr_.posicao = r.Posicao();
      loteNsr_.dados = std::move(f->carga);
      loteNsr_.restantes = c.itens;
      loteNsr_.terminou = !c.mais;
      loteNsr_.erroFinal = c.erro;
      if (loteNsr_.terminou) fimNsr_ = FimDoLog{geracaoPush_, c.tamanhoLog};
      // The clock's read position moves past what a run carries: the next run is asked for
      // now, and dropped (with the position set again) only by a pointer change or a new link.
      if (!loteNsr_.terminou) PedeAdiantado(kLogDeRegistros, pedido);
    } catch (const ErroDeProtocolo& e) {
      Violacao(e.what());
    }
    return true;
  }

  bool Proximo(const char* nome, std::vector<Valor>& args) {
    Lote& lote = lotes_[nome];
    if (lote.itens.empty() && !lote.terminou) {
      Escritor w;
      w.U8(CodigoDe(nome));
      w.I32(kItensPorLote);
      for (const Valor& v : args) w.ValorTipado(v);
      auto f = Troca(kLote, std::move(w.Dados()));
      if (!f) return LinkPerdido();
      if (f->op == kErro) return Recusa(*f);
      try {
        Leitor r(f->carga);
        const CabecalhoDeLote c = LeCabecalhoDeLote(r);
        lote.erroFinal = c.erro;
        for (int32_t i = 0; i < c.itens; ++i) {
          std::vector<Valor> item;
          for (size_t k = 0; k < args.size(); ++k) item.push_back(r.ValorTipado());
          for (size_t k = 0; k < args.size(); ++k)
            if (item[k].index() != args[k].index()) Violacao("lote com tipos errados");
          // The users a walk delivers, in order: their templates are what a reader asks for
          // next, so they are read ahead in a few frames.
          if (std::strcmp(nome, "SdkGetNextUserInfo") == 0 ||
              std::strcmp(nome, "SdkGetNextUserInfoWithPis") == 0)
            AnotaUsuario(item[1]);
          lote.itens.push_back(std::move(item));
        }
        r.ExigeFim();
        lote.terminou = !c.mais;
      } catch (const ErroDeProtocolo& e) {
        Violacao(e.what());
      }
    }
    if (lote.itens.empty()) {
      ultimoErro_ = lote.erroFinal;
      return false;
    }
    args = std::move(lote.itens.front());
    lote.itens.pop_front();
    ultimoErro_ = 0;
    return true;
  }

  // ---- Templates read ahead -------------------------------------------------------------
  // A reader of every employee asks for each one's fingers in turn. When it asks for a finger
  // of a user the last walk delivered, the fingers of that user and of the users after it are
  // read in one round trip; each answer — true or false, with its last error — is then handed
  // out once, as the clock gave it. Any call that is not a read drops what was read ahead.
  struct Antecipada {
    bool resposta;
    int32_t erro;
    std::vector<Valor> args;
  };
  static constexpr size_t kUsuariosAntecipados = 256;
  static constexpr int32_t kDedosAntecipados = 10;

  static std::string ChaveId(const Valor& id) {
    return std::holds_alternative<int32_t>(id) ? std::to_string(std::get<int32_t>(id))
                                               : std::get<std::string>(id);
  }
  static std::string ChaveLeitura(const char* nome, const Valor& id, int32_t dedo) {
    return std::string(nome) + '\x1f' + ChaveId(id) + '\x1f' + std::to_string(dedo);
  }
  void AnotaUsuario(const Valor& id) {
    if (posicaoUsuario_.emplace(ChaveId(id), usuariosLidos_.size()).second)
      usuariosLidos_.push_back(id);
  }
  void EsqueceUsuarios() {
    usuariosLidos_.clear();
    posicaoUsuario_.clear();
    antecipadas_.clear();
  }

  bool LeTemplate(const char* nome, std::vector<Valor>& a) {
    const int32_t dedo = InteiroEm(a, 2);
    const std::string chave = ChaveLeitura(nome, a[1], dedo);
    auto it = antecipadas_.find(chave);
    if (it == antecipadas_.end()) {
      auto pos = posicaoUsuario_.find(ChaveId(a[1]));
      if (pos == posicaoUsuario_.end() || dedo < 0 || dedo >= kDedosAntecipados ||
          !Antecipa(nome, a, pos->second))
        return Chama(nome, a);
      it = antecipadas_.find(chave);
      if (it == antecipadas_.end()) return Chama(nome, a);
    }
    for (size_t i = 0; i < a.size(); ++i)
      if (it->second.args.size() != a.size() || it->second.args[i].index() != a[i].index())
        Violacao("leitura antecipada com tipos errados");
    a = std::move(it->second.args);
    ultimoErro_ = it->second.erro;
    const bool resposta = it->second.resposta;
    antecipadas_.erase(it);
    return resposta;
  }

  // Reads the fingers of the users from `inicio` on; false when the link failed (the caller
  // then makes the single call, which reports it).
  bool Antecipa(const char* nome, const std::vector<Valor>& modelo, size_t inicio) {
    const size_t fim = std::min(usuariosLidos_.size(), inicio + kUsuariosAntecipados);
    std::vector<std::string> chaves;
    Escritor w;
    w.U8(CodigoDe(nome));
    w.I32(static_cast<int32_t>((fim - inicio) * kDedosAntecipados));
    std::vector<Valor> a = modelo;
    for (size_t u = inicio; u < fim; ++u)
      for (int32_t dedo = 0; dedo < kDedosAntecipados; ++dedo) {
        a[1] = usuariosLidos_[u];
        a[2] = dedo;
        w.U8(static_cast<uint8_t>(a.size()));
        for (const Valor& v : a) w.ValorTipado(v);
        chaves.push_back(ChaveLeitura(nome, a[1], dedo));
      }
    auto f = Troca(kLeituraAntecipada, std::move(w.Dados()));
    if (!f) {
      LinkPerdido();
      return false;
    }
    if (f->op == kErro) return false;
    try {
      Leitor r(f->carga);
      const int32_t n = r.I32();
      if (n < 0 || static_cast<size_t>(n) > chaves.size())
        Violacao("leitura antecipada malformada");
      for (int32_t i = 0; i < n; ++i) {
        Antecipada x;
        const uint8_t resposta = r.U8();
        x.erro = r.I32();
        const uint8_t argumentos = r.U8();
        if (resposta > 1 || argumentos != modelo.size())
          Violacao("leitura antecipada com argumentos errados");
        x.resposta = resposta == 1;
        for (uint8_t k = 0; k < argumentos; ++k) x.args.push_back(r.ValorTipado());
        antecipadas_.insert_or_assign(chaves[static_cast<size_t>(i)], std::move(x));
      }
      r.ExigeFim();
    } catch (const ErroDeProtocolo& e) {
      Violacao(e.what());
    }
    return true;
  }

  // ---- The log's size, pushed by the clock ----------------------------------------------
  // After the handshake the link subscribes; the clock then pushes its log's size whenever it
  // changes (once durable) and at least every second. An idle monitoring visit — the status
  // of the log's size, or a register walk already at the end — is answered from the last push
  // without a round trip, as long as pushes keep coming (3 s) and a real exchange happened in
  // the last 20 s (which keeps a silently dead peer from going unnoticed).
  static constexpr int32_t kStatusRegistrosDoLog = 6;
  struct FimDoLog {
    uint64_t geracao;
    int64_t tamanho;
  };

  static bool EhPush(const Quadro& f) {
    return f.id == 0 && f.op == (kAssinatura | kBitDeResposta);
  }

  void RecebePush(const Quadro& f) {
    try {
      Leitor r(f.carga);
      const uint64_t geracao = static_cast<uint32_t>(r.I32()) |
                               (static_cast<uint64_t>(static_cast<uint32_t>(r.I32())) << 32);
      const int32_t tamanho = r.I32();
      r.ExigeFim();
      if (tamanho < 0) Violacao("tamanho de log negativo");
      geracaoPush_ = geracao;
      tamanhoPush_ = tamanho;
      ultimoPush_ = std::chrono::steady_clock::now();
    } catch (const ErroDeProtocolo& e) {
      Violacao(e.what());
    }
  }

  // False when the link was lost on the way.
  bool Assina() {
    if (!opcoes_.assinar) return true;
    auto f = Troca(kAssinatura, {});
    if (!f) return false;
    if (f->op == kErro) return true;  // then every visit asks the clock, as before
    Quadro inicial = *f;
    inicial.id = 0;
    RecebePush(inicial);
    assinado_ = true;
    return true;
  }

  // Takes in what the clock pushed; false when that showed the link lost (now closed).
  bool Drena() {
    char buffer[4096];
    for (;;) {
      std::optional<Quadro> f;
      try {
        f = decodificador_.Proximo();
      } catch (const ErroDeProtocolo&) {
        return false;
      }
      if (f) {
        if (adiantado_ && !adiantado_->resposta && f->id == adiantado_->id) {
          if (f->op != (adiantado_->op | kBitDeResposta) && f->op != kErro)
            Violacao("resposta de outro tipo");
          adiantado_->resposta = std::move(f);
          continue;
        }
        if (!EhPush(*f)) Violacao("quadro sem pedido");
        RecebePush(*f);
        continue;
      }
      const ssize_t n = fluxo_->LeSemEsperar(buffer, sizeof buffer);
      if (n < 0) return false;
      if (n == 0) return true;
      decodificador_.Alimenta(buffer, static_cast<size_t>(n));
    }
  }

  bool PushConfiavel() {
    if (!assinado_ || !fluxo_) return false;
    if (!Drena()) {
      LinkPerdido();
      return false;  // the call then goes out and reports the lost link
    }
    const auto agora = std::chrono::steady_clock::now();
    return tamanhoPush_ >= 0 && agora - ultimoPush_ < std::chrono::seconds(3) &&
           agora - ultimaTroca_ < std::chrono::seconds(20);
  }

  bool assinado_ = false;
  uint64_t geracaoPush_ = 0;
  int64_t tamanhoPush_ = -1;
  std::chrono::steady_clock::time_point ultimoPush_{}, ultimaTroca_{};
  std::optional<FimDoLog> fimNsr_;
  std::optional<Adiantado> adiantado_;

  std::vector<Valor> usuariosLidos_;
  std::unordered_map<std::string, size_t> posicaoUsuario_;
  std::unordered_map<std::string, Antecipada> antecipadas_;

  OpcoesRede opcoes_;
  std::unique_ptr<Fluxo> fluxo_;
  Decodificador decodificador_;
  uint32_t sequencia_ = 0;
  int32_t ultimoErro_ = 0;
  // The model the clock announced on the last link opened (kept after it closes).
  std::optional<EModeloRelogio> modeloAnunciado_;
  std::map<std::string, Lote> lotes_;
  CopiaDoLog copiaLog_;
  std::vector<std::string> textosLog_;
  uint64_t geracaoLog_ = 0;
  size_t cursorLog_ = 0;
  bool logPendente_ = false;
  bool logMais_ = false;
};

}  // namespace

std::string CaminhoSerial(int32_t porta) {
  const std::string variavel = "QUORVEL_SERIAL_" + std::to_string(porta);
  if (const char* p = std::getenv(variavel.c_str()); p && *p) return p;
  std::string padrao = "/dev/ttyS%d";
  if (const char* p = std::getenv("QUORVEL_SERIAL_PADRAO"); p && *p) padrao = p;
  const auto marca = padrao.find("%d");
  if (marca == std::string::npos) return padrao;
  return padrao.substr(0, marca) + std::to_string(porta - 1) + padrao.substr(marca + 2);
}

EstatisticasRede Estatisticas() { return {g_enviados.load(), g_recebidos.load(), g_trocas.load()}; }

std::shared_ptr<CZKEM> CriaSdkRede(OpcoesRede opcoes) {
  return std::make_shared<SdkRede>(std::move(opcoes));
}

FabricaCZKEM FabricaRede(OpcoesRede opcoes) {
  return [opcoes] { return CriaSdkRede(opcoes); };
}

}  // namespace quorvel::sdk
