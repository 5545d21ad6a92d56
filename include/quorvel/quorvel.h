/* The C ABI of QUORVEL: late binding by dispatch number for programs in any language.
 * C11-compatible. Nothing throws across it: every failure is a return code, and a
 * component error also fills a quorvel_erro with its number and full description. */
#ifndef QUORVEL_QUORVEL_H
#define QUORVEL_QUORVEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct quorvel_objeto quorvel_objeto;

/* Value kinds of a quorvel_variant. */
enum {
  QUORVEL_VAZIO = 0,     /* empty; as an object argument it means "no object" */
  QUORVEL_AUSENTE = 1,   /* an omitted optional argument */
  QUORVEL_BOOLEANO = 2,  /* booleano: 0 or 1 */
  QUORVEL_INTEIRO16 = 3, /* inteiro */
  QUORVEL_INTEIRO32 = 4, /* inteiro */
  QUORVEL_DUPLO = 5,     /* numero */
  QUORVEL_TEXTO = 6,     /* texto, UTF-8 */
  QUORVEL_DATA = 7,      /* numero: days since 30/12/1899, the time as the fraction */
  QUORVEL_OBJETO = 8     /* objeto (NULL: no object) */
};

typedef struct quorvel_variant {
  int32_t tipo;
  int32_t booleano;
  int32_t inteiro;
  double numero;
  const char* texto;      /* in results: owned by the variant until quorvel_variant_limpa */
  quorvel_objeto* objeto; /* in results: a new handle, released by quorvel_variant_limpa */
} quorvel_variant;

typedef struct quorvel_erro {
  int32_t numero; /* the component's number (-41, -43, ...) or the platform's (13, 438, ...) */
  char descricao[4096]; /* the full description, UTF-8, lines separated by CR LF */
} quorvel_erro;

/* Return codes of the quorvel_ functions. QUORVEL_PARAMETRO_INVALIDO: a NULL where a value is
 * needed. QUORVEL_HANDLE_INVALIDO: the handle was released, or was never handed out by the
 * library (never a crash). QUORVEL_OUTRA_THREAD: the
 * call came from a thread other than the one that owns the library (see Threads below). */
enum {
  QUORVEL_OK = 0,
  QUORVEL_FALHA = 1,
  QUORVEL_PARAMETRO_INVALIDO = 2,
  QUORVEL_HANDLE_INVALIDO = 3,
  QUORVEL_OUTRA_THREAD = 4
};

/* Threads: the library belongs to the first thread that calls any quorvel_ function; every
 * object, the event loop and the callbacks live on that thread. A call from another thread
 * changes nothing and returns QUORVEL_OUTRA_THREAD (NULL from quorvel_duplica, "" from
 * quorvel_classe, nothing from quorvel_libera and quorvel_processa_eventos). A program that
 * drives clocks from several threads gives each its own process, or funnels the calls to the
 * owning thread.
 *
 * Handles: a handle names a table entry and its generation, not memory. Using one after
 * quorvel_libera, releasing it twice, or passing a value the library never handed out gives
 * QUORVEL_HANDLE_INVALIDO (quorvel_libera ignores it). A control released inside its own
 * callback is destroyed after the callback returns, the next time the event loop runs. */

/* Kinds of call for quorvel_invoca (the platform's dispatch flags). */
enum { QUORVEL_METODO = 1, QUORVEL_PROPGET = 2, QUORVEL_PROPPUT = 4, QUORVEL_PROPPUTREF = 8 };

/* The library's version, "11.1.0". */
const char* quorvel_versao(void);

/* Creates an object by ProgID ("QUORVEL.ComunicacaoZK") or by CLSID text ("{...}"). */
int32_t quorvel_cria(const char* progid_ou_clsid, quorvel_objeto** saida, quorvel_erro* erro);
/* A second handle to the same object (e.g. to keep an event's argument). */
quorvel_objeto* quorvel_duplica(quorvel_objeto* objeto);
/* Releases a handle; the object goes when its last holder lets go. NULL is ignored. */
void quorvel_libera(quorvel_objeto* objeto);
/* The class name of an object ("Marcacao"), owned by the library. */
const char* quorvel_classe(quorvel_objeto* objeto);
/* Member name (any case) to dispatch number. */
int32_t quorvel_dispid(quorvel_objeto* objeto, const char* nome, int32_t* dispid,
                       quorvel_erro* erro);
/* Calls a member. Arguments in declaration order; trailing optional ones may be left off.
 * `resultado` may be NULL; otherwise it is filled and must be cleared with quorvel_variant_limpa.
 */
int32_t quorvel_invoca(quorvel_objeto* objeto, int32_t dispid, int32_t tipo,
                       const quorvel_variant* argumentos, int32_t quantidade,
                       quorvel_variant* resultado, quorvel_erro* erro);
void quorvel_variant_limpa(quorvel_variant* valor);

/* Events of a control arrive by dispatch number (1 ErroMonitoracao, 2 MarcacaoRecolhida,
 * 3 RelogioConectado, 4 ErroConexaoRelogio) while the library's event loop runs. The
 * arguments are valid during the call only (quorvel_duplica keeps an object). */
typedef void (*quorvel_sink)(void* contexto, int32_t dispid, const quorvel_variant* argumentos,
                             int32_t quantidade);
int32_t quorvel_define_sink(quorvel_objeto* controle, quorvel_sink sink, void* contexto,
                            quorvel_erro* erro);

/* Runs the library's event loop (timers: connection, monitoring) for this many milliseconds;
 * 0 (or less) runs what is due now and returns at once, for a host that pumps from its own
 * loop. */
void quorvel_processa_eventos(int32_t milissegundos);

/* The device SDK backend of controls created from now on: "rede" (the clock protocol over TCP
 * or serial; the communication key comes from the environment variable QUORVEL_CHAVE) or
 * "virtual" (the in-process virtual clocks). The default is the environment variable
 * QUORVEL_SDK, or "rede". */
int32_t quorvel_define_sdk(const char* nome, quorvel_erro* erro);

/* The communication key of the network clocks registered from now on, on any control
 * (AddRelogio, AddRelogioIP, AddRelogioSerial): each clock keeps the key in force when it was
 * registered, so two clocks may have two keys. NULL: back to the environment variable
 * QUORVEL_CHAVE (none when it is not set); "": no key. */
int32_t quorvel_define_chave(const char* chave, quorvel_erro* erro);

/* One punch of a ListaMarcacao as a fixed-size record, for reading long lists in one call.
 * `segundos`: the punch's date and time as the clock wrote it (no time zone), in seconds since
 * 1970-01-01 00:00:00 (negative before it). `nsr` and `pis` are UTF-8 and NUL-terminated,
 * empty when the punch has none (fingerprint model); a longer text than fits is cut at a
 * character boundary. */
typedef struct quorvel_marcacao {
  int64_t segundos;
  int32_t cartao;
  int16_t relogio;
  uint8_t digital; /* 1: made by fingerprint */
  uint8_t reservado;
  char nsr[24];
  char pis[24];
} quorvel_marcacao;

/* Copies the punches at positions inicio..inicio+quantidade-1 (1-based) of a ListaMarcacao
 * into `saida` (room for `quantidade` records) without making one object per punch; *lidas
 * says how many were copied (fewer at the end of the list, 0 past it). A handle of another
 * class: QUORVEL_FALHA with the platform's type mismatch (13). */
int32_t quorvel_marcacoes_le(quorvel_objeto* lista, int32_t inicio, int32_t quantidade,
                             quorvel_marcacao* saida, int32_t* lidas, quorvel_erro* erro);

/* A virtual clock for demos, in this process: published at ip:porta (modelo 0 quorvel,
 * 1 tarvenix), optionally with the sample employees and punches; a control whose SDK is
 * "virtual" connects to it there. */
int32_t quorvel_virtual_publica(const char* ip, int32_t porta, int32_t modelo, int32_t com_exemplo);

/* Self-registration entry points. The registration store is a JSON file: the path in the
 * environment variable QUORVEL_REGISTRO, else $XDG_CONFIG_HOME/quorvel/registro.json, else
 * $HOME/.config/quorvel/registro.json. */
typedef struct quorvel_guid {
  uint32_t d1;
  uint16_t d2;
  uint16_t d3;
  uint8_t d4[8];
} quorvel_guid;

int32_t DllRegisterServer(void);
int32_t DllUnregisterServer(void);
/* Hands out the class factory of a creatable class (IClassFactory or IUnknown asked). */
int32_t DllGetClassObject(const quorvel_guid* clsid, const quorvel_guid* iid, void** fabrica);
/* 0 (yes) when no object or factory of the library is alive, 1 (no) otherwise. */
int32_t DllCanUnloadNow(void);
int32_t quorvel_fabrica_cria(void* fabrica, quorvel_objeto** saida, quorvel_erro* erro);
void quorvel_fabrica_libera(void* fabrica);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEL_QUORVEL_H */
