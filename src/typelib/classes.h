// The type library's classes as data, shared by the files that describe them: the builder of a
// class's members and actions, the table of every class, and what each group of classes adds.
// The engine (typelib/motor.cpp) only reads the result.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/erro.h"
#include "quorvel/typelib.h"

namespace quorvel {

using Argumentos = std::vector<Variant>;

// Dispatch actions of one class, by (dispatch number, kind).
class InvocadorClasse {
 public:
  using Acao = std::function<Variant(void* self, Argumentos& args)>;
  std::map<std::pair<int32_t, TipoMembro>, std::pair<size_t, Acao>> acoes;  // index into membros
};

namespace classes {

inline Guid GuidDe(const char* texto) { return *Guid::DeTexto(texto); }

inline Parametro Param(const char* nome, TipoDado tipo, const char* tipoNome = "",
                       bool porReferencia = false) {
  return Parametro{nome, tipo, tipoNome, porReferencia, false, {}};
}
inline Parametro Opcional(const char* nome, TipoDado tipo, Variant padrao) {
  return Parametro{nome, tipo, "", false, true, std::move(padrao)};
}

inline const auto I2 = TipoDado::Inteiro16;
inline const auto I4 = TipoDado::Inteiro32;
inline const auto BOOL = TipoDado::Booleano;
inline const auto TXT = TipoDado::Texto;
inline const auto DATA = TipoDado::Data;
inline const auto OBJ = TipoDado::Objeto;
inline const auto NADA = TipoDado::Vazio;

template <class T>
std::shared_ptr<T> Obj(const Variant& v) {
  return std::static_pointer_cast<T>(v.Como<RefObjeto>().objeto);
}

// Builds one class: members in slot order and their actions.
template <class C>
class Construtor {
 public:
  explicit Construtor(ClasseDespacho& c) : c_(c), inv_(std::make_shared<InvocadorClasse>()) {}
  ~Construtor() { c_.invocador = inv_; }

  // A read/write property: its put (or put-by-reference) first, then its get.
  // The put's parameter is "par" + the property's name unless `nomeParametro` names it.
  Construtor& Prop(const char* nome, int32_t dispid, TipoDado tipo, const char* tipoNome,
                   std::function<Variant(C&)> get, std::function<void(C&, const Variant&)> put,
                   const char* nomeParametro = nullptr) {
    const TipoMembro tipoPut = tipo == OBJ ? TipoMembro::PropPutRef : TipoMembro::PropPut;
    std::string nomeParam = nomeParametro ? nomeParametro : std::string("par") + nome;
    Adiciona(Membro{nome,
                    dispid,
                    tipoPut,
                    {Param(nomeParam.c_str(), tipo, tipoNome, tipo == OBJ)},
                    NADA,
                    ""},
             [put](void* s, Argumentos& a) {
               put(*static_cast<C*>(s), a[0]);
               return Variant();
             });
    return SoLeitura(nome, dispid, tipo, tipoNome, get);
  }
  Construtor& SoLeitura(const char* nome, int32_t dispid, TipoDado tipo, const char* tipoNome,
                        std::function<Variant(C&)> get) {
    Adiciona(Membro{nome, dispid, TipoMembro::PropGet, {}, tipo, tipoNome},
             [get](void* s, Argumentos&) { return get(*static_cast<C*>(s)); });
    return *this;
  }
  Construtor& Metodo(const char* nome, int32_t dispid, std::vector<Parametro> params,
                     TipoDado retorno, const char* retornoNome,
                     std::function<Variant(C&, Argumentos&)> acao) {
    Adiciona(Membro{nome, dispid, TipoMembro::Metodo, std::move(params), retorno, retornoNome},
             [acao](void* s, Argumentos& a) { return acao(*static_cast<C*>(s), a); });
    return *this;
  }

 private:
  void Adiciona(Membro m, InvocadorClasse::Acao acao) {
    inv_->acoes[{m.dispid, m.tipo}] = {c_.membros.size(), std::move(acao)};
    c_.membros.push_back(std::move(m));
  }
  ClasseDespacho& c_;
  std::shared_ptr<InvocadorClasse> inv_;
};

// All classes of the library, built once.
struct Tabelas {
  ClasseDespacho comunicacao, funcionarioCartao, funcionarioNaoEnviado, listaFuncionarioCartao,
      listaFuncionarioNaoEnviado, listaMarcacao, relogio, relogioCZKEM, statusRelogio, modelo,
      marcacao, listaRelogio, horario, listaHorario, colecao, czkem;
  Biblioteca biblioteca;
  Tabelas();

 private:
  // Each group of classes: identities, members in slot order, what each member does.
  void DefineRelogios();
  void DefineMarcacoes();
  void DefineFuncionarios();
  void DefineStatusEHorarios();
  void DefineColecaoESdk();
  void DefineControle();
  // The library itself: its classes in order, the control's events, the enumerations.
  void DefineBiblioteca();
};

const Tabelas& TabelasDaBiblioteca();

template <class X>
Variant Ref(const ClasseDespacho& c, std::shared_ptr<X> p) {
  return Variant(RefObjeto{&c, std::move(p)});
}

inline Variant Dia(DataHora d) { return Variant(d); }

// A class's identity and, for a creatable one, how a new object of it is made.
void Identidade(ClasseDespacho& c, const char* nome, const char* clsid, const char* iid,
                std::function<std::shared_ptr<void>()> fabrica);

template <class T>
std::function<std::shared_ptr<void>()> Fabrica() {
  return [] { return std::shared_ptr<void>(std::make_shared<T>()); };
}

}  // namespace classes
}  // namespace quorvel
