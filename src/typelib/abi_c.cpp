// The C boundary: handles, variants, errors as codes, the library's event loop, self-registration
// and class factories. No exception crosses it.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "quorvel/erro.h"
#include "quorvel/event_loop.h"
#include "quorvel/marcacao.h"
#include "quorvel/quorvel.h"
#include "quorvel/sdk/backends.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "quorvel/sdk/sdk_rede.h"
#include "quorvel/typelib.h"
#include "typelib/registro.h"

// A handle is not a pointer: it names a slot of the handle table and the generation that slot
// had when it was handed out, so a released, made-up or reused handle is recognised.
struct quorvel_objeto;

namespace {

using namespace quorvel;

constexpr int32_t kS_OK = 0, kS_FALSE = 1;
constexpr int32_t kE_FAIL = static_cast<int32_t>(0x80004005u);
constexpr int32_t kE_POINTER = static_cast<int32_t>(0x80004003u);
constexpr int32_t kE_NOINTERFACE = static_cast<int32_t>(0x80004002u);
constexpr int32_t kCLASS_E_CLASSNOTAVAILABLE = static_cast<int32_t>(0x80040111u);
constexpr int32_t kSELFREG_E_CLASS = static_cast<int32_t>(0x80040201u);

std::atomic<int64_t> g_vivos{0};  // handles and factories the host holds

// ---- Handles ----------------------------------------------------------------------------

struct Slot {
  RefObjeto ref;
  uint32_t geracao = 1;
  bool vivo = false;
  bool emprestado = false;  // an event's argument: not counted, gone after the callback
};

struct TabelaHandles {
  std::mutex mutex;
  std::vector<Slot> slots;
  std::vector<uint32_t> livres;
};

TabelaHandles& Tabela() {
  static TabelaHandles t;
  return t;
}

quorvel_objeto* Registra(RefObjeto ref, bool emprestado) {
  TabelaHandles& t = Tabela();
  std::lock_guard l(t.mutex);
  uint32_t i;
  if (!t.livres.empty()) {
    i = t.livres.back();
    t.livres.pop_back();
  } else {
    i = static_cast<uint32_t>(t.slots.size());
    t.slots.emplace_back();
  }
  Slot& s = t.slots[i];
  s.ref = std::move(ref);
  s.vivo = true;
  s.emprestado = emprestado;
  if (!emprestado) ++g_vivos;
  const uint64_t valor = (static_cast<uint64_t>(s.geracao) << 32) | (i + 1u);
  return reinterpret_cast<quorvel_objeto*>(static_cast<uintptr_t>(valor));
}

// The live slot a handle names, under the table's lock; nullptr for a null, released or
// made-up handle.
Slot* SlotVivo(TabelaHandles& t, const quorvel_objeto* h) {
  const uint64_t valor = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
  const uint32_t i = static_cast<uint32_t>(valor & 0xFFFFFFFFu);
  const uint32_t geracao = static_cast<uint32_t>(valor >> 32);
  if (i == 0 || i > t.slots.size()) return nullptr;
  Slot& s = t.slots[i - 1];
  return s.vivo && s.geracao == geracao ? &s : nullptr;
}

// The object a live handle names; nothing for a null, released or made-up one.
std::optional<RefObjeto> Resolve(const quorvel_objeto* h) {
  TabelaHandles& t = Tabela();
  std::lock_guard l(t.mutex);
  const Slot* s = SlotVivo(t, h);
  if (!s) return std::nullopt;
  return s->ref;
}

// Takes the handle out of the table; returns what it held so the object goes outside the lock.
std::optional<RefObjeto> Retira(const quorvel_objeto* h, bool soEmprestado = false) {
  TabelaHandles& t = Tabela();
  std::lock_guard l(t.mutex);
  Slot* slot = SlotVivo(t, h);
  if (!slot || slot->emprestado != soEmprestado) return std::nullopt;
  Slot& s = *slot;
  RefObjeto ref = std::move(s.ref);
  s.ref = {};
  s.vivo = false;
  ++s.geracao;
  if (s.geracao == 0) s.geracao = 1;
  t.livres.push_back(static_cast<uint32_t>(slot - t.slots.data()));
  if (!soEmprestado) --g_vivos;
  return ref;
}

// `texto` into a fixed field, NUL-terminated, cut at a UTF-8 character boundary.
template <size_t N>
void CopiaCampo(char (&campo)[N], std::string_view texto) {
  size_t n = std::min(texto.size(), N - 1);
  while (n > 0 && n < texto.size() && (static_cast<unsigned char>(texto[n]) & 0xC0) == 0x80) --n;
  std::memcpy(campo, texto.data(), n);
  campo[n] = '\0';
}

// ---- Threads ----------------------------------------------------------------------------
// The library serves one thread: the first that calls into it. A call from any other thread
// is refused with QUORVEL_OUTRA_THREAD before it touches anything shared.
std::atomic<std::thread::id> g_dona{};

bool NaThreadDona() {
  std::thread::id vazia{};
  const std::thread::id eu = std::this_thread::get_id();
  return g_dona.compare_exchange_strong(vazia, eu) || vazia == eu;
}

struct Fabrica {
  const ClasseDespacho* classe;
};

// The library's host: one event loop, and the SDK backend of new controls.
struct Ambiente {
  std::mutex mutex;
  std::unique_ptr<EventLoop> loop;
  std::string sdk;
};

Ambiente& A() {
  static Ambiente a;
  return a;
}

// Ensures the controls created through the boundary have a host and a backend.
void PreparaAmbiente() {
  Ambiente& a = A();
  std::lock_guard l(a.mutex);
  if (a.loop) return;
  a.loop = std::make_unique<EventLoop>();
  if (a.sdk.empty()) {
    const char* env = std::getenv("QUORVEL_SDK");
    a.sdk = env && *env ? env : "rede";
  }
  DefineAmbienteControles(a.loop.get(), sdk::FabricaDoBackend(a.sdk));
}

void Limpa(quorvel_erro* erro) {
  if (erro) {
    erro->numero = 0;
    erro->descricao[0] = '\0';
  }
}

int32_t Falha(quorvel_erro* erro, int32_t numero, const std::string& descricao) {
  if (erro) {
    erro->numero = numero;
    std::snprintf(erro->descricao, sizeof erro->descricao, "%s", descricao.c_str());
  }
  return QUORVEL_FALHA;
}

// Runs `corpo`, turning anything it throws into a return code and a filled quorvel_erro.
template <class F>
int32_t Protegido(quorvel_erro* erro, F&& corpo) noexcept {
  Limpa(erro);
  try {
    corpo();
    return QUORVEL_OK;
  } catch (...) {
    try {
      return Falha(erro, NumeroDaExcecaoAtual(), DescricaoDaExcecaoAtual());
    } catch (...) {
      return QUORVEL_FALHA;
    }
  }
}

quorvel_objeto* NovoHandle(RefObjeto ref) { return Registra(std::move(ref), false); }

Variant DeC(const quorvel_variant& v) {
  switch (v.tipo) {
    case QUORVEL_VAZIO:
      return Variant();
    case QUORVEL_AUSENTE:
      return Variant::Omitido();
    case QUORVEL_BOOLEANO:
      return Variant(v.booleano != 0);
    case QUORVEL_INTEIRO16:
      if (v.inteiro < INT16_MIN || v.inteiro > INT16_MAX) LancaEstouro();
      return Variant(static_cast<int16_t>(v.inteiro));
    case QUORVEL_INTEIRO32:
      return Variant(v.inteiro);
    case QUORVEL_DUPLO:
      return Variant(v.numero);
    case QUORVEL_TEXTO:
      return Variant(std::string(v.texto ? v.texto : ""));
    case QUORVEL_DATA:
      return Variant(DataHora::DeDias(v.numero));
    case QUORVEL_OBJETO:
      if (!v.objeto) return Variant(RefObjeto{});
      if (auto ref = Resolve(v.objeto)) return Variant(*ref);
      throw Erro(erro_plataforma::kObjetoNaoDefinido,
                 "Handle de objeto inválido: liberado ou desconhecido.");
  }
  LancaTiposIncompativeis("tipo de variant desconhecido " + std::to_string(v.tipo));
}

// Fills a C variant; texts are copied, objects get new handles unless `emprestado`.
void ParaC(const Variant& v, quorvel_variant& saida, bool emprestado,
           std::vector<std::string>* textos = nullptr) {
  saida = quorvel_variant{};
  std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, Variant::Vazio>) {
          saida.tipo = QUORVEL_VAZIO;
        } else if constexpr (std::is_same_v<T, Variant::Ausente>) {
          saida.tipo = QUORVEL_AUSENTE;
        } else if constexpr (std::is_same_v<T, bool>) {
          saida.tipo = QUORVEL_BOOLEANO;
          saida.booleano = x ? 1 : 0;
        } else if constexpr (std::is_same_v<T, int16_t>) {
          saida.tipo = QUORVEL_INTEIRO16;
          saida.inteiro = x;
        } else if constexpr (std::is_same_v<T, int32_t>) {
          saida.tipo = QUORVEL_INTEIRO32;
          saida.inteiro = x;
        } else if constexpr (std::is_same_v<T, double>) {
          saida.tipo = QUORVEL_DUPLO;
          saida.numero = x;
        } else if constexpr (std::is_same_v<T, std::string>) {
          saida.tipo = QUORVEL_TEXTO;
          if (textos) {
            textos->push_back(x);
            saida.texto = textos->back().c_str();
          } else {
            char* copia = static_cast<char*>(std::malloc(x.size() + 1));
            if (!copia) throw std::bad_alloc();
            std::memcpy(copia, x.c_str(), x.size() + 1);
            saida.texto = copia;
          }
        } else if constexpr (std::is_same_v<T, DataHora>) {
          saida.tipo = QUORVEL_DATA;
          saida.numero = x.ParaDias();
        } else if constexpr (std::is_same_v<T, RefObjeto>) {
          saida.tipo = QUORVEL_OBJETO;
          if (x.objeto) saida.objeto = Registra(x, emprestado);
        }
      },
      v.Bruto());
}

std::string ArquivoDaBiblioteca() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) && info.dli_fname)
    return std::filesystem::absolute(info.dli_fname).string();
  return {};
}

// Self-registration's answer: done, or the platform's "could not register" for any failure.
int32_t Autorregistro(void (*mudanca)()) {
  try {
    mudanca();
    return kS_OK;
  } catch (...) {
    return kSELFREG_E_CLASS;
  }
}

}  // namespace

extern "C" {

const char* quorvel_versao(void) { return QUORVEL_VERSAO; }

int32_t quorvel_cria(const char* nome, quorvel_objeto** saida, quorvel_erro* erro) {
  if (!nome || !saida) return QUORVEL_PARAMETRO_INVALIDO;
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  *saida = nullptr;
  return Protegido(erro, [&] {
    const ClasseDespacho* c = nullptr;
    if (auto guid = Guid::DeTexto(nome)) c = ProcuraClasse(*guid);
    if (!c) c = ProcuraClasse(nome);
    if (!c)
      throw Erro(erro_plataforma::kNaoCriavel, std::string("Classe desconhecida: ") + nome + ".");
    if (c->controle) PreparaAmbiente();
    *saida = NovoHandle(CriaObjeto(*c));
  });
}

quorvel_objeto* quorvel_duplica(quorvel_objeto* objeto) {
  if (!NaThreadDona()) return nullptr;
  try {
    const auto ref = Resolve(objeto);
    return ref ? NovoHandle(*ref) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void quorvel_libera(quorvel_objeto* objeto) {
  if (!NaThreadDona()) return;
  try {
    // The object goes (a control disconnecting its clocks) once the table is unlocked; a
    // control inside one of its own callbacks is kept until the callback has returned.
    // (The returned reference is a temporary: it goes at the end of this statement.)
    Retira(objeto);
  } catch (...) {
  }
}

const char* quorvel_classe(quorvel_objeto* objeto) {
  if (!NaThreadDona()) return "";
  const auto ref = Resolve(objeto);
  return ref && ref->classe ? ref->classe->nome.c_str() : "";
}

int32_t quorvel_dispid(quorvel_objeto* objeto, const char* nome, int32_t* dispid,
                       quorvel_erro* erro) {
  if (!objeto || !nome || !dispid) return QUORVEL_PARAMETRO_INVALIDO;
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  const auto ref = Resolve(objeto);
  if (!ref) return QUORVEL_HANDLE_INVALIDO;
  return Protegido(erro, [&] {
    if (!ref->classe) LancaObjetoNaoDefinido();
    *dispid = ProcuraDispId(*ref->classe, nome);
  });
}

int32_t quorvel_invoca(quorvel_objeto* objeto, int32_t dispid, int32_t tipo,
                       const quorvel_variant* argumentos, int32_t quantidade,
                       quorvel_variant* resultado, quorvel_erro* erro) {
  if (!objeto || quantidade < 0 || (quantidade > 0 && !argumentos))
    return QUORVEL_PARAMETRO_INVALIDO;
  if (resultado) *resultado = quorvel_variant{};
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  const auto ref = Resolve(objeto);
  if (!ref) return QUORVEL_HANDLE_INVALIDO;
  TipoMembro t;
  switch (tipo) {
    case QUORVEL_METODO:
      t = TipoMembro::Metodo;
      break;
    case QUORVEL_PROPGET:
      t = TipoMembro::PropGet;
      break;
    case QUORVEL_PROPPUT:
      t = TipoMembro::PropPut;
      break;
    case QUORVEL_PROPPUTREF:
      t = TipoMembro::PropPutRef;
      break;
    default:
      return QUORVEL_PARAMETRO_INVALIDO;
  }
  return Protegido(erro, [&] {
    std::vector<Variant> args;
    args.reserve(static_cast<size_t>(quantidade));
    for (int32_t i = 0; i < quantidade; ++i) args.push_back(DeC(argumentos[i]));
    Variant r = Invoca(*ref, dispid, t, std::move(args));
    if (resultado) ParaC(r, *resultado, false);
  });
}

void quorvel_variant_limpa(quorvel_variant* v) {
  if (!v) return;
  if (v->tipo == QUORVEL_TEXTO) std::free(const_cast<char*>(v->texto));
  if (v->tipo == QUORVEL_OBJETO) quorvel_libera(v->objeto);
  *v = quorvel_variant{};
}

int32_t quorvel_define_sink(quorvel_objeto* controle, quorvel_sink sink, void* contexto,
                            quorvel_erro* erro) {
  if (!controle) return QUORVEL_PARAMETRO_INVALIDO;
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  const auto ref = Resolve(controle);
  if (!ref) return QUORVEL_HANDLE_INVALIDO;
  return Protegido(erro, [&] {
    if (!sink) {
      DefineSink(*ref, nullptr);
      return;
    }
    std::weak_ptr<void> fraco = ref->objeto;
    DefineSink(*ref, [sink, contexto, fraco](int32_t dispid, const std::vector<Variant>& args) {
      // The host may release the control from inside this callback: it stays alive until the
      // event loop runs again, well after the control's own code has returned.
      std::shared_ptr<void> vivo = fraco.lock();
      // Arguments are borrowed for the duration of the call.
      std::vector<std::string> textos;
      textos.reserve(args.size());
      std::vector<quorvel_variant> c(args.size());
      for (size_t i = 0; i < args.size(); ++i) ParaC(args[i], c[i], true, &textos);
      sink(contexto, dispid, c.data(), static_cast<int32_t>(c.size()));
      for (auto& v : c)
        if (v.tipo == QUORVEL_OBJETO) Retira(v.objeto, true);
      if (vivo && A().loop)
        A().loop->Posta([guarda = std::move(vivo)]() mutable { guarda.reset(); });
    });
  });
}

void quorvel_processa_eventos(int32_t milissegundos) {
  if (!NaThreadDona()) return;
  try {
    PreparaAmbiente();
    // Zero runs what is due now: a host that pumps from its own loop never waits here.
    if (milissegundos <= 0)
      A().loop->Cede();
    else
      A().loop->RodaPor(std::chrono::milliseconds(milissegundos));
  } catch (...) {
  }
}

int32_t quorvel_define_sdk(const char* nome, quorvel_erro* erro) {
  if (!nome) return QUORVEL_PARAMETRO_INVALIDO;
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  return Protegido(erro, [&] {
    FabricaCZKEM f = sdk::FabricaDoBackend(nome);
    if (!f) LancaArgumentoInvalido(std::string("backend de SDK desconhecido: ") + nome);
    Ambiente& a = A();
    std::lock_guard l(a.mutex);
    a.sdk = nome;
    if (a.loop) DefineAmbienteControles(a.loop.get(), std::move(f));
  });
}

int32_t quorvel_define_chave(const char* chave, quorvel_erro* erro) {
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  return Protegido(erro, [&] {
    sdk::DefineChaveDaRede(chave ? std::optional<std::string>(chave) : std::nullopt);
  });
}

int32_t quorvel_marcacoes_le(quorvel_objeto* lista, int32_t inicio, int32_t quantidade,
                             quorvel_marcacao* saida, int32_t* lidas, quorvel_erro* erro) {
  if (!lista || !lidas || quantidade < 0 || (quantidade > 0 && !saida))
    return QUORVEL_PARAMETRO_INVALIDO;
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  *lidas = 0;
  const auto ref = Resolve(lista);
  if (!ref) return QUORVEL_HANDLE_INVALIDO;
  return Protegido(erro, [&] {
    if (!ref->classe || ref->classe->nome != "ListaMarcacao" || !ref->objeto)
      LancaTiposIncompativeis("quorvel_marcacoes_le espera uma ListaMarcacao");
    const auto& l = *static_cast<const ListaMarcacao*>(ref->objeto.get());
    static const int64_t kUnix = DataHora::DePartes(1970, 1, 1).Segundos();
    const int64_t ate = std::min<int64_t>(int64_t{inicio} + quantidade - 1, l.Count());
    int32_t n = 0;
    l.ParaCadaEntre(inicio, static_cast<int32_t>(ate), [&](const Marcacao& m) {
      quorvel_marcacao& r = saida[n++];
      r.segundos = m.DataHoraMarcacao().Segundos() - kUnix;
      r.cartao = m.CodigoCartao();
      r.relogio = m.CodigoRelogio();
      r.digital = m.MarcacaoPorDigital() ? 1 : 0;
      r.reservado = 0;
      CopiaCampo(r.nsr, m.NSR());
      CopiaCampo(r.pis, m.PIS());
    });
    *lidas = n;
  });
}

int32_t quorvel_virtual_publica(const char* ip, int32_t porta, int32_t modelo,
                                int32_t com_exemplo) {
  if (!ip || (modelo != 0 && modelo != 1)) return QUORVEL_PARAMETRO_INVALIDO;
  try {
    auto d = std::make_shared<sdk::DispositivoVirtual>(static_cast<EModeloRelogio>(modelo));
    if (com_exemplo) sdk::SemeiaExemplo(*d);
    sdk::RedeVirtual::Instancia().Publica(ip, porta, std::move(d));
    return QUORVEL_OK;
  } catch (...) {
    return QUORVEL_FALHA;
  }
}

int32_t DllRegisterServer(void) {
  return Autorregistro([] { registro::Registra(BibliotecaQuorvel(), ArquivoDaBiblioteca()); });
}

int32_t DllUnregisterServer(void) {
  return Autorregistro([] { registro::Remove(BibliotecaQuorvel()); });
}

int32_t DllGetClassObject(const quorvel_guid* clsid, const quorvel_guid* iid, void** fabrica) {
  if (!fabrica) return kE_POINTER;
  *fabrica = nullptr;
  if (!clsid || !iid) return kE_POINTER;
  try {
    Guid c{clsid->d1, clsid->d2, clsid->d3, {}};
    std::memcpy(c.d4.data(), clsid->d4, 8);
    Guid i{iid->d1, iid->d2, iid->d3, {}};
    std::memcpy(i.d4.data(), iid->d4, 8);
    const Guid iunknown = *Guid::DeTexto("{00000000-0000-0000-C000-000000000046}");
    const Guid iclassfactory = *Guid::DeTexto("{00000001-0000-0000-C000-000000000046}");
    const ClasseDespacho* classe = ProcuraClasse(c);
    if (!classe || !classe->criavel) return kCLASS_E_CLASSNOTAVAILABLE;
    if (!(i == iunknown) && !(i == iclassfactory)) return kE_NOINTERFACE;
    *fabrica = new Fabrica{classe};
    ++g_vivos;
    return kS_OK;
  } catch (...) {
    return kE_FAIL;
  }
}

int32_t DllCanUnloadNow(void) { return g_vivos.load() == 0 ? kS_OK : kS_FALSE; }

int32_t quorvel_fabrica_cria(void* fabrica, quorvel_objeto** saida, quorvel_erro* erro) {
  if (!fabrica || !saida) return QUORVEL_PARAMETRO_INVALIDO;
  *saida = nullptr;
  if (!NaThreadDona()) return QUORVEL_OUTRA_THREAD;
  return Protegido(erro, [&] {
    const ClasseDespacho& c = *static_cast<Fabrica*>(fabrica)->classe;
    if (c.controle) PreparaAmbiente();
    *saida = NovoHandle(CriaObjeto(c));
  });
}

void quorvel_fabrica_libera(void* fabrica) {
  if (!fabrica) return;
  delete static_cast<Fabrica*>(fabrica);
  --g_vivos;
}

}  // extern "C"
