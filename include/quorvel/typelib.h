// The public type library: identities, slot order and dispatch numbers of every class, and
// late binding (name to dispatch number, invoke by number) over them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/host.h"
#include "quorvel/sdk/czkem.h"
#include "quorvel/variant.h"

namespace quorvel {

struct Guid {
  uint32_t d1 = 0;
  uint16_t d2 = 0, d3 = 0;
  std::array<uint8_t, 8> d4{};
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  std::string Texto() const;
  static std::optional<Guid> DeTexto(std::string_view texto);
  bool operator==(const Guid&) const = default;
};

enum class TipoMembro { Metodo, PropGet, PropPut, PropPutRef };
enum class TipoDado { Vazio, Booleano, Inteiro16, Inteiro32, Duplo, Texto, Data, Objeto, Qualquer };

struct Parametro {
  std::string nome;
  TipoDado tipo;
  std::string tipoNome;  // class of an object, enumeration of an enum value, or empty
  bool porReferencia = false;
  bool opcional = false;
  Variant padrao;  // for an optional parameter
};

struct Membro {
  std::string nome;
  int32_t dispid;
  TipoMembro tipo;
  std::vector<Parametro> parametros;
  TipoDado retorno = TipoDado::Vazio;
  std::string retornoNome;
};

struct Enumeracao {
  std::string nome;
  Guid id;
  std::vector<std::pair<std::string, int32_t>> membros;
};

class InvocadorClasse;

// One class of the library with its default interface ("_" + name).
struct ClasseDespacho {
  std::string nome;
  Guid clsid;
  Guid iid;  // of the default interface
  std::string progid;
  bool criavel = false;
  bool controle = false;
  std::vector<Membro> membros;  // slot order; a property gives its put and then its get
  std::shared_ptr<const InvocadorClasse> invocador;
  // Makes a new object of the class; empty for one that is not creatable.
  std::function<std::shared_ptr<void>()> fabrica;
  std::string NomeInterface() const { return "_" + nome; }
};

struct Biblioteca {
  std::string nome;        // "QUORVEL"
  std::string textoAjuda;  // "QUORVEL"
  Guid libid;
  uint16_t versaoMaior = 11, versaoMenor = 1;
  bool contemControles = true;
  std::vector<const ClasseDespacho*> classes;  // the public classes
  std::string nomeInterfaceEventos;            // "__ComunicacaoZK"
  Guid iidEventos;
  std::vector<Membro> eventos;  // dispatch numbers 1..4
  std::vector<Enumeracao> enumeracoes;
  // Outside definitions the library refers to.
  Guid iidColecaoPlataforma;  // the platform's keyed-collection interface
  Guid iidCZKEM, libidSdk;    // the device SDK object's interface and library
};

const Biblioteca& BibliotecaQuorvel();
// By ProgID ("QUORVEL.ComunicacaoZK"), by class name, or nullptr.
const ClasseDespacho* ProcuraClasse(std::string_view progidOuNome);
const ClasseDespacho* ProcuraClasse(const Guid& clsid);
// The dispatch class of the generic keyed collection and of the device SDK object.
const ClasseDespacho& ClasseColecao();

// Where a control created through late binding gets its host services and SDK objects.
// REQUIRES: the host outlives every control created while it is set.
void DefineAmbienteControles(Host* host, FabricaCZKEM fabrica);

// Receives a control's events by dispatch number (1 ErroMonitoracao, 2 MarcacaoRecolhida,
// 3 RelogioConectado, 4 ErroConexaoRelogio), arguments in declaration order.
using SinkEventos = std::function<void(int32_t dispid, const std::vector<Variant>& argumentos)>;

// A new object of a creatable class (the control included). Raises 429 when the class
// cannot be created.
RefObjeto CriaObjeto(const ClasseDespacho& classe);
// Case-insensitive member name to dispatch number; 438 when there is none.
int32_t ProcuraDispId(const ClasseDespacho& classe, std::string_view nome);
// Calls a member by number. Arguments in declaration order; an omitted optional argument is
// Variant::Omitido() or simply left off the end. Raises 438 (no such member), 450 (wrong
// number of arguments), 13 (type mismatch), 6 (overflow), or the member's own error.
Variant Invoca(const RefObjeto& objeto, int32_t dispid, TipoMembro tipo,
               std::vector<Variant> argumentos);
// Sets the sink of a control object (by dispatch number); 13 for any other object.
void DefineSink(const RefObjeto& controle, SinkEventos sink);

}  // namespace quorvel
