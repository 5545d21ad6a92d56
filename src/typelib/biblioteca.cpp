// The type library as data, and the late-bound invoker of every class.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

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

namespace {

Guid GuidDe(const char* texto) { return *Guid::DeTexto(texto); }

Parametro Param(const char* nome, TipoDado tipo, const char* tipoNome = "",
                bool porReferencia = false) {
  return Parametro{nome, tipo, tipoNome, porReferencia, false, {}};
}
Parametro Opcional(const char* nome, TipoDado tipo, Variant padrao) {
  return Parametro{nome, tipo, "", false, true, std::move(padrao)};
}

const auto I2 = TipoDado::Inteiro16;
const auto I4 = TipoDado::Inteiro32;
const auto BOOL = TipoDado::Booleano;
const auto TXT = TipoDado::Texto;
const auto DATA = TipoDado::Data;
const auto OBJ = TipoDado::Objeto;
const auto NADA = TipoDado::Vazio;

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

// What a late-bound control is: the control and the sink its events go to.
struct ControleLateBound {
  std::unique_ptr<ComunicacaoZK> controle;
  SinkEventos sink;
};

struct Ambiente {
  std::mutex mutex;
  Host* host = nullptr;
  FabricaCZKEM fabrica;
};

Ambiente& AmbienteControles() {
  static Ambiente a;
  return a;
}

// All classes of the library, built once.
struct Tabelas {
  ClasseDespacho comunicacao, funcionarioCartao, funcionarioNaoEnviado, listaFuncionarioCartao,
      listaFuncionarioNaoEnviado, listaMarcacao, relogio, relogioCZKEM, statusRelogio, modelo,
      marcacao, listaRelogio, horario, listaHorario, colecao, czkem;
  Biblioteca biblioteca;
  Tabelas();
};

const Tabelas& TabelasDaBiblioteca();

template <class X>
Variant Ref(const ClasseDespacho& c, std::shared_ptr<X> p) {
  return Variant(RefObjeto{&c, std::move(p)});
}

Variant Dia(DataHora d) { return Variant(d); }

Tabelas::Tabelas() {
  auto classe = [](ClasseDespacho& c, const char* nome, const char* clsid, const char* iid,
                   bool criavel) {
    c.nome = nome;
    c.clsid = GuidDe(clsid);
    c.iid = GuidDe(iid);
    c.progid = std::string("QUORVEL.") + nome;
    c.criavel = criavel;
  };
  classe(comunicacao, "ComunicacaoZK", "{B151713E-ED43-40F4-BA65-0569C3EFE301}",
         "{2E9398BC-7F16-49BF-BAA3-B64410F3726F}", true);
  comunicacao.controle = true;
  classe(funcionarioCartao, "FuncionarioCartao", "{8103E7B6-5420-4D3A-97F4-85F1AB9093E5}",
         "{CB550B86-38B2-41AC-BD98-71806ECBA66C}", true);
  classe(funcionarioNaoEnviado, "FuncionarioNaoEnviado", "{0586215E-E99B-4D5C-BF10-CCFBEB4A807E}",
         "{549506C1-3B07-4EC2-B1A5-9590B2DA6971}", true);
  classe(listaFuncionarioCartao, "ListaFuncionarioCartao", "{ADDB6AEB-29CE-4628-AC9A-EDD908F7E058}",
         "{5209EED8-8A5D-48D9-9238-0ACEA4B0B913}", true);
  classe(listaFuncionarioNaoEnviado, "ListaFuncionarioNaoEnviado",
         "{B58E3EC6-F735-493B-B497-6F7D9CAD29A3}", "{E84E56DE-9018-484A-8FAF-EBA7784EA418}", true);
  classe(listaMarcacao, "ListaMarcacao", "{16E63E04-8300-42E1-990D-EF61D0E00086}",
         "{21BA1092-428F-42EA-A554-B82D05B8B7BE}", true);
  classe(relogio, "Relogio", "{BB9DDB53-9C49-4737-84F7-E16DFBF1F227}",
         "{819F9704-5846-41D4-BA42-EAFBCB637F61}", true);
  classe(relogioCZKEM, "RelogioCZKEM", "{128F7E97-3363-46AF-B918-99637AB33596}",
         "{FA2CD417-E2C4-42E1-B7D6-7D0471FF8A52}", true);
  classe(statusRelogio, "StatusRelogio", "{1981905C-9F6C-42C9-B067-0E645565F795}",
         "{3218F6A7-EBE1-4888-9849-852C7A07B31A}", true);
  classe(modelo, "Template", "{FF16CA0C-FA07-4654-8CA7-14E5428DF9EC}",
         "{EAF4E1BA-0A2B-4822-B7C7-89FA1DF2686F}", true);
  classe(marcacao, "Marcacao", "{3601D576-7621-4C5C-9FC9-E67032AEFABA}",
         "{E85A21FB-9422-4DA9-B860-547C3099BE8F}", true);
  classe(listaRelogio, "ListaRelogio", "{6383B7C2-D6DD-4FBD-8E84-9D04DD3B9331}",
         "{B647DE4F-4E99-479A-9A93-860AA6230E33}", true);
  classe(horario, "Horario", "{088DC379-47C4-4DFE-87B2-D9E8462AE992}",
         "{B29A6F4A-FB48-4B3F-98B8-B28BE34BC811}", true);
  classe(listaHorario, "ListaHorario", "{8ED24D46-95B1-4D47-8307-0E0FF496CEF6}",
         "{C9429F67-8F53-4334-A4A8-D4051A302C7E}", true);
  // Outside definitions: the platform's keyed collection and the device SDK object.
  colecao.nome = "Collection";
  colecao.iid = GuidDe("{A4C46780-499F-101B-BB78-00AA00383CBB}");
  czkem.nome = "CZKEM";
  czkem.iid = GuidDe("{102F4206-E43D-4FC9-BAB0-331CFFE4D25B}");

  // ---- Relogio, RelogioCZKEM, ListaRelogio ----------------------------------------------
  Construtor<Relogio>(relogio)
      .Prop(
          "Codigo", 0x68030006, I2, "", [](Relogio& r) { return Variant(r.Codigo()); },
          [](Relogio& r, const Variant& v) { r.Codigo(v.Como<int16_t>()); })
      .Prop(
          "Consulta1N", 0x68030005, BOOL, "", [](Relogio& r) { return Variant(r.Consulta1N()); },
          [](Relogio& r, const Variant& v) { r.Consulta1N(v.Como<bool>()); })
      .Prop(
          "IP", 0x68030004, TXT, "", [](Relogio& r) { return Variant(r.IP()); },
          [](Relogio& r, const Variant& v) { r.IP(v.Como<std::string>()); })
      .Prop(
          "PenDrive", 0x68030003, BOOL, "", [](Relogio& r) { return Variant(r.PenDrive()); },
          [](Relogio& r, const Variant& v) { r.PenDrive(v.Como<bool>()); })
      .Prop(
          "Monitorado", 0x68030002, BOOL, "", [](Relogio& r) { return Variant(r.Monitorado()); },
          [](Relogio& r, const Variant& v) { r.Monitorado(v.Como<bool>()); })
      .Prop(
          "TipoConexao", 0x68030001, I4, "ETipoConexao",
          [](Relogio& r) { return Variant(static_cast<int32_t>(r.TipoConexao())); },
          [](Relogio& r, const Variant& v) {
            r.TipoConexao(static_cast<ETipoConexao>(v.Como<int32_t>()));
          })
      .Prop(
          "PortaSerial", 0x68030000, I2, "", [](Relogio& r) { return Variant(r.PortaSerial()); },
          [](Relogio& r, const Variant& v) { r.PortaSerial(v.Como<int16_t>()); })
      .Prop(
          "ModeloRelogio", 0x68030007, I4, "EModeloRelogio",
          [](Relogio& r) { return Variant(static_cast<int32_t>(r.ModeloRelogio())); },
          [](Relogio& r, const Variant& v) {
            r.ModeloRelogio(static_cast<EModeloRelogio>(v.Como<int32_t>()));
          });

  Construtor<RelogioCZKEM>(relogioCZKEM)
      .Prop(
          "Relogio", 0x68030002, OBJ, "Relogio",
          [](RelogioCZKEM& e) { return Ref(TabelasDaBiblioteca().relogio, e.Relogio()); },
          [](RelogioCZKEM& e, const Variant& v) { e.Relogio(Obj<Relogio>(v)); })
      .Prop(
          "CZKEM", 0x68030001, OBJ, "CZKEM",
          [](RelogioCZKEM& e) { return Ref(TabelasDaBiblioteca().czkem, e.CZKEM()); },
          [](RelogioCZKEM& e, const Variant& v) { e.CZKEM(Obj<CZKEM>(v)); })
      .Prop(
          "Conectado", 0x68030000, BOOL, "", [](RelogioCZKEM& e) { return Variant(e.Conectado()); },
          [](RelogioCZKEM& e, const Variant& v) { e.Conectado(v.Como<bool>()); });

  Construtor<ListaRelogio>(listaRelogio)
      .Metodo("Add", 0x60030000,
              {Param("parRelogio", OBJ, "Relogio", true), Param("parCZKEM", OBJ, "CZKEM", true)},
              NADA, "",
              [](ListaRelogio& l, Argumentos& a) {
                l.Add(Obj<Relogio>(a[0]), Obj<CZKEM>(a[1]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaRelogio& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "RelogioCZKEM",
              [](ListaRelogio& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().relogioCZKEM, l.Item(a[0].Como<int32_t>()));
              })
      .Metodo("ItemByCodRelogio", 0x60030003, {Param("parCodigoRelogio", TXT)}, OBJ, "RelogioCZKEM",
              [](ListaRelogio& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().relogioCZKEM,
                           l.ItemByCodRelogio(a[0].Como<std::string>()));
              })
      .Metodo("Remove", 0x60030004, {Param("parCodigoRelogio", TXT)}, NADA, "",
              [](ListaRelogio& l, Argumentos& a) {
                l.Remove(a[0].Como<std::string>());
                return Variant();
              });

  // ---- Marcacao, ListaMarcacao ----------------------------------------------------------
  Construtor<Marcacao>(marcacao)
      .Prop(
          "CodigoCartao", 0x68030005, I4, "", [](Marcacao& m) { return Variant(m.CodigoCartao()); },
          [](Marcacao& m, const Variant& v) { m.CodigoCartao(v.Como<int32_t>()); })
      .Prop(
          "CodigoRelogio", 0x68030004, I2, "",
          [](Marcacao& m) { return Variant(m.CodigoRelogio()); },
          [](Marcacao& m, const Variant& v) { m.CodigoRelogio(v.Como<int16_t>()); })
      .Prop(
          "DataHoraMarcacao", 0x68030003, DATA, "",
          [](Marcacao& m) { return Dia(m.DataHoraMarcacao()); },
          [](Marcacao& m, const Variant& v) { m.DataHoraMarcacao(v.Como<DataHora>()); })
      .Prop(
          "MarcacaoPorDigital", 0x68030002, BOOL, "",
          [](Marcacao& m) { return Variant(m.MarcacaoPorDigital()); },
          [](Marcacao& m, const Variant& v) { m.MarcacaoPorDigital(v.Como<bool>()); })
      .Prop(
          "PIS", 0x68030001, TXT, "", [](Marcacao& m) { return Variant(m.PIS()); },
          [](Marcacao& m, const Variant& v) { m.PIS(v.Como<std::string>()); })
      .Prop(
          "NSR", 0x68030000, TXT, "", [](Marcacao& m) { return Variant(m.NSR()); },
          [](Marcacao& m, const Variant& v) { m.NSR(v.Como<std::string>()); });

  Construtor<ListaMarcacao>(listaMarcacao)
      .Metodo("Add", 0x60030000, {Param("parMarcacao", OBJ, "Marcacao", true)}, NADA, "",
              [](ListaMarcacao& l, Argumentos& a) {
                l.Add(Obj<Marcacao>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaMarcacao& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "Marcacao",
              [](ListaMarcacao& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().marcacao, l.Item(a[0].Como<int32_t>()));
              });

  // ---- Template, FuncionarioCartao, FuncionarioNaoEnviado and their lists ---------------
  Construtor<Template>(modelo)
      .Prop(
          "Template", 0x68030001, TXT, "", [](Template& t) { return Variant(t.Texto()); },
          [](Template& t, const Variant& v) { t.Texto(v.Como<std::string>()); })
      .Prop(
          "Dedo", 0x68030000, I4, "EDedoDigital", [](Template& t) { return Variant(t.Dedo()); },
          [](Template& t, const Variant& v) { t.Dedo(v.Como<int32_t>()); });

  Construtor<FuncionarioCartao>(funcionarioCartao)
      .Prop(
          "Codigo", 0x68030006, I4, "", [](FuncionarioCartao& f) { return Variant(f.Codigo()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Codigo(v.Como<int32_t>()); })
      .Prop(
          "Nome", 0x68030005, TXT, "", [](FuncionarioCartao& f) { return Variant(f.Nome()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Nome(v.Como<std::string>()); })
      .Prop(
          "Supervisor", 0x68030004, BOOL, "",
          [](FuncionarioCartao& f) { return Variant(f.Supervisor()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Supervisor(v.Como<bool>()); },
          "parFuncionarioSupervisor")
      .SoLeitura(
          "Template", 0x68030003, OBJ, "Collection",
          [](FuncionarioCartao& f) { return Ref(TabelasDaBiblioteca().colecao, f.Template()); })
      .Prop(
          "Senha", 0x68030002, TXT, "", [](FuncionarioCartao& f) { return Variant(f.Senha()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Senha(v.Como<std::string>()); })
      .Prop(
          "PIS", 0x68030001, TXT, "", [](FuncionarioCartao& f) { return Variant(f.PIS()); },
          [](FuncionarioCartao& f, const Variant& v) { f.PIS(v.Como<std::string>()); })
      .Prop(
          "CPF", 0x68030000, TXT, "", [](FuncionarioCartao& f) { return Variant(f.CPF()); },
          [](FuncionarioCartao& f, const Variant& v) { f.CPF(v.Como<std::string>()); })
      .Metodo("AddTemplate", 0x60030008, {Param("parTemplate", OBJ, "Template")}, NADA, "",
              [](FuncionarioCartao& f, Argumentos& a) {
                f.AddTemplate(Obj<Template>(a[0]));
                return Variant();
              })
      .Metodo("RemoveTemplate", 0x60030009, {Param("parDedo", I4, "EDedoDigital")}, NADA, "",
              [](FuncionarioCartao& f, Argumentos& a) {
                f.RemoveTemplate(a[0].Como<int32_t>());
                return Variant();
              })
      .Prop(
          "Cartao", 0x6803000A, TXT, "", [](FuncionarioCartao& f) { return Variant(f.Cartao()); },
          [](FuncionarioCartao& f, const Variant& v) { f.Cartao(v.Como<std::string>()); });

  Construtor<FuncionarioNaoEnviado>(funcionarioNaoEnviado)
      .Prop(
          "CodigoRelogio", 0x68030002, TXT, "",
          [](FuncionarioNaoEnviado& f) { return Variant(f.CodigoRelogio()); },
          [](FuncionarioNaoEnviado& f, const Variant& v) {
            f.CodigoRelogio(v.Como<std::string>());
          })
      .Prop(
          "FuncionarioCartao", 0x68030001, OBJ, "FuncionarioCartao",
          [](FuncionarioNaoEnviado& f) {
            return Ref(TabelasDaBiblioteca().funcionarioCartao, f.FuncionarioCartao());
          },
          [](FuncionarioNaoEnviado& f, const Variant& v) {
            f.FuncionarioCartao(Obj<FuncionarioCartao>(v));
          })
      .Prop(
          "MotivoFalha", 0x68030000, I4, "EFalhaEnvioFuncionario",
          [](FuncionarioNaoEnviado& f) { return Variant(f.MotivoFalha()); },
          [](FuncionarioNaoEnviado& f, const Variant& v) { f.MotivoFalha(v.Como<int32_t>()); });

  Construtor<ListaFuncionarioCartao>(listaFuncionarioCartao)
      .Metodo("Add", 0x60030000, {Param("parFuncionarioCartao", OBJ, "FuncionarioCartao", true)},
              NADA, "",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                l.Add(Obj<FuncionarioCartao>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaFuncionarioCartao& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "FuncionarioCartao",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().funcionarioCartao, l.Item(a[0].Como<int32_t>()));
              })
      .Metodo("ItemByCodCartaoFuncionario", 0x60030003, {Param("parCodigoCartaoFuncionario", I4)},
              OBJ, "FuncionarioCartao",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().funcionarioCartao,
                           l.ItemByCodCartaoFuncionario(a[0].Como<int32_t>()));
              })
      .Metodo("Remove", 0x60030004, {Param("parCodigoFuncionarioCartao", TXT)}, NADA, "",
              [](ListaFuncionarioCartao& l, Argumentos& a) {
                l.Remove(a[0].Como<std::string>());
                return Variant();
              })
      .Metodo("RemoveAll", 0x60030005, {}, NADA, "", [](ListaFuncionarioCartao& l, Argumentos&) {
        l.RemoveAll();
        return Variant();
      });

  Construtor<ListaFuncionarioNaoEnviado>(listaFuncionarioNaoEnviado)
      .Metodo("Add", 0x60030000,
              {Param("parFuncionarioNaoEnviado", OBJ, "FuncionarioNaoEnviado", true)}, NADA, "",
              [](ListaFuncionarioNaoEnviado& l, Argumentos& a) {
                l.Add(Obj<FuncionarioNaoEnviado>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaFuncionarioNaoEnviado& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "FuncionarioNaoEnviado",
              [](ListaFuncionarioNaoEnviado& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().funcionarioNaoEnviado,
                           l.Item(a[0].Como<int32_t>()));
              });

  // ---- StatusRelogio, Horario, ListaHorario ----------------------------------------------
  {
    Construtor<StatusRelogio> s(statusRelogio);
    struct Inteiro {
      const char* nome;
      int32_t dispid;
      int32_t (StatusRelogio::*get)() const;
      void (StatusRelogio::*put)(int32_t);
    };
    const Inteiro inteiros[] = {
        {"QuantidadeAdministradores", 0x6803000B, &StatusRelogio::QuantidadeAdministradores,
         &StatusRelogio::QuantidadeAdministradores},
        {"QuantidadeUsuarios", 0x6803000A, &StatusRelogio::QuantidadeUsuarios,
         &StatusRelogio::QuantidadeUsuarios},
        {"QuantidadeTemplates", 0x68030009, &StatusRelogio::QuantidadeTemplates,
         &StatusRelogio::QuantidadeTemplates},
        {"QuantidadeSenhas", 0x68030008, &StatusRelogio::QuantidadeSenhas,
         &StatusRelogio::QuantidadeSenhas},
        {"VezesAdministradorPoderaGerenciar", 0x68030007,
         &StatusRelogio::VezesAdministradorPoderaGerenciar,
         &StatusRelogio::VezesAdministradorPoderaGerenciar},
        {"NumeroMarcacoes", 0x68030006, &StatusRelogio::NumeroMarcacoes,
         &StatusRelogio::NumeroMarcacoes},
        {"CapacidadeTemplates", 0x68030005, &StatusRelogio::CapacidadeTemplates,
         &StatusRelogio::CapacidadeTemplates},
        {"CapacidadeUsuarios", 0x68030004, &StatusRelogio::CapacidadeUsuarios,
         &StatusRelogio::CapacidadeUsuarios},
        {"CapacidadeRegistros", 0x68030003, &StatusRelogio::CapacidadeRegistros,
         &StatusRelogio::CapacidadeRegistros},
    };
    for (const Inteiro& i : inteiros)
      s.Prop(
          i.nome, i.dispid, I4, "", [g = i.get](StatusRelogio& r) { return Variant((r.*g)()); },
          [p = i.put](StatusRelogio& r, const Variant& v) { (r.*p)(v.Como<int32_t>()); });
    s.Prop(
         "DataHora", 0x68030002, DATA, "", [](StatusRelogio& r) { return Dia(r.DataHora()); },
         [](StatusRelogio& r, const Variant& v) { r.DataHora(v.Como<DataHora>()); })
        .Prop(
            "PercentualOcupacacaoBufferMarcacoes", 0x68030001, TipoDado::Duplo, "",
            [](StatusRelogio& r) { return Variant(r.PercentualOcupacacaoBufferMarcacoes()); },
            [](StatusRelogio& r, const Variant& v) {
              r.PercentualOcupacacaoBufferMarcacoes(v.Como<double>());
            })
        .Prop(
            "VersaoFirmware", 0x68030000, TXT, "",
            [](StatusRelogio& r) { return Variant(r.VersaoFirmware()); },
            [](StatusRelogio& r, const Variant& v) { r.VersaoFirmware(v.Como<std::string>()); });
  }

  Construtor<Horario>(horario)
      .Prop(
          "Hora", 0x68030001, I2, "", [](Horario& h) { return Variant(h.Hora()); },
          [](Horario& h, const Variant& v) { h.Hora(v.Como<int16_t>()); })
      .Prop(
          "Minuto", 0x68030000, I2, "", [](Horario& h) { return Variant(h.Minuto()); },
          [](Horario& h, const Variant& v) { h.Minuto(v.Como<int16_t>()); });

  Construtor<ListaHorario>(listaHorario)
      .Metodo("Add", 0x60030000, {Param("parHorario", OBJ, "Horario", true)}, NADA, "",
              [](ListaHorario& l, Argumentos& a) {
                l.Add(Obj<Horario>(a[0]));
                return Variant();
              })
      .Metodo("Count", 0x60030001, {}, I4, "",
              [](ListaHorario& l, Argumentos&) { return Variant(l.Count()); })
      .Metodo("Item", 0x60030002, {Param("parIndex", I4)}, OBJ, "Horario",
              [](ListaHorario& l, Argumentos& a) {
                return Ref(TabelasDaBiblioteca().horario, l.Item(a[0].Como<int32_t>()));
              })
      .Metodo("Remove", 0x60030003, {Param("parIndex", I4)}, NADA, "",
              [](ListaHorario& l, Argumentos& a) {
                l.Remove(a[0].Como<int32_t>());
                return Variant();
              });

  // ---- The platform's keyed collection, as the library hands out templates -------------
  Construtor<ColecaoTemplates>(colecao)
      .Metodo("Item", 0, {Param("Index", TipoDado::Qualquer)}, OBJ, "Template",
              [](ColecaoTemplates& c, Argumentos& a) {
                if (a[0].Eh<std::string>())
                  return Ref(TabelasDaBiblioteca().modelo,
                             c.Item(std::string_view(a[0].Como<std::string>())));
                return Ref(TabelasDaBiblioteca().modelo, c.Item(a[0].ParaInteiro32()));
              })
      .Metodo(
          "Add", 1,
          {Param("Item", OBJ, "Template"), Opcional("Key", TipoDado::Qualquer, Variant::Omitido())},
          NADA, "",
          [](ColecaoTemplates& c, Argumentos& a) {
            std::optional<std::string> chave;
            if (!a[1].EhAusente() && !a[1].EhVazio()) chave = a[1].ParaTexto();
            c.Add(Obj<Template>(a[0]), chave);
            return Variant();
          })
      .Metodo("Count", 2, {}, I4, "",
              [](ColecaoTemplates& c, Argumentos&) { return Variant(c.Count()); })
      .Metodo("Remove", 3, {Param("Index", TipoDado::Qualquer)}, NADA, "",
              [](ColecaoTemplates& c, Argumentos& a) {
                if (a[0].Eh<std::string>())
                  c.Remove(std::string_view(a[0].Como<std::string>()));
                else
                  c.Remove(a[0].ParaInteiro32());
                return Variant();
              });
  Construtor<CZKEM>{czkem};  // the device SDK object: passed around, never called from here

  // ---- The control -----------------------------------------------------------------------
  {
    Construtor<ControleLateBound> b(comunicacao);
    // Each slot's dispatch number, in slot order from 0x60030164. 0x6003017F is not used:
    // ObterListaTemplatesCartaoRelogio answers to 0x6003017E, the next slot to 0x60030180.
    auto nada = [](auto&& f) {
      return [f](ControleLateBound& c, Argumentos& a) {
        f(*c.controle, a);
        return Variant();
      };
    };
    auto valor = [](auto&& f) {
      return [f](ControleLateBound& c, Argumentos& a) { return Variant(f(*c.controle, a)); };
    };
    const Parametro cod = Param("parCodigoRelogio", I2);
    const Parametro dia = Param("parDiaDaSemana", I4, "EDiaDaSemana");
    const Parametro sirene = Param("parCodigoSirene", I2);
    const Parametro func = Param("parFuncionarioCartao", OBJ, "FuncionarioCartao");
    const Parametro horarios = Param("parColecaoHorarioSirene", OBJ, "ListaHorario");

    b.Metodo("AddRelogio", 0x60030164, {Param("parRelogio", OBJ, "Relogio", true)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) { c.AddRelogio(Obj<Relogio>(a[0])); }));
    b.Metodo("AddRelogioIP", 0x60030165,
             {Param("parCodigo", I2), Param("parIP", TXT),
              Param("parModeloRelogio", I4, "EModeloRelogio")},
             NADA, "", nada([](ComunicacaoZK& c, Argumentos& a) {
               c.AddRelogioIP(a[0].Como<int16_t>(), a[1].Como<std::string>(),
                              static_cast<EModeloRelogio>(a[2].Como<int32_t>()));
             }));
    b.Metodo("AddRelogioSerial", 0x60030166, {Param("parCodigo", I2), Param("parPortaSerial", I2)},
             NADA, "", nada([](ComunicacaoZK& c, Argumentos& a) {
               c.AddRelogioSerial(a[0].Como<int16_t>(), a[1].Como<int16_t>());
             }));
    b.Metodo("RemoverRelogio", 0x60030167, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) { c.RemoverRelogio(a[0].Como<int16_t>()); }));
    b.Metodo("RemoverTodosRelogios", 0x60030168, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.RemoverTodosRelogios(); }));
    b.Metodo("RemoverFuncionarioCartao", 0x60030169, {Param("parCodigo", TXT)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.RemoverFuncionarioCartao(a[0].Como<std::string>());
             }));
    b.Metodo("RemoverTodosFuncionariosCartao", 0x6003016A, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.RemoverTodosFuncionariosCartao(); }));
    b.Metodo("DelConfigHorarioVeraoRelogio", 0x6003016B, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigHorarioVeraoRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("DelConfigHorarioVeraoTodosRelogios", 0x6003016C, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) {
               return c.DelConfigHorarioVeraoTodosRelogios();
             }));
    b.Metodo("DelConfigSireneDiaSemanaRelogio", 0x6003016D, {cod, dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiaSemanaRelogio(
                   a[0].Como<int16_t>(), static_cast<EDiaDaSemana>(a[1].Como<int32_t>()));
             }));
    b.Metodo("DelConfigSireneDiaSemanaTodosRelogios", 0x6003016E, {dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiaSemanaTodosRelogios(
                   static_cast<EDiaDaSemana>(a[0].Como<int32_t>()));
             }));
    b.Metodo("DelConfigSireneDiariaRelogio", 0x6003016F, {cod, sirene}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiariaRelogio(a[0].Como<int16_t>(), a[1].Como<int16_t>());
             }));
    b.Metodo("DelConfigSireneDiariaTodosRelogios", 0x60030170, {sirene}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.DelConfigSireneDiariaTodosRelogios(a[0].Como<int16_t>());
             }));
    b.Metodo("AddFuncionarioCartao", 0x60030171,
             {Param("parFuncionarioCartao", OBJ, "FuncionarioCartao", true)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.AddFuncionarioCartao(Obj<FuncionarioCartao>(a[0]));
             }));
    b.Metodo("EnviaEmpregadorRelogio", 0x60030172,
             {cod, Param("parNome", TXT), Param("parTipoDocumento", I4, "ETipoDocumento"),
              Param("parDocumento", TXT), Param("parCEI", TXT), Param("parEndereco", TXT)},
             BOOL, "", valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.EnviaEmpregadorRelogio(a[0].Como<int16_t>(), a[1].Como<std::string>(),
                                               static_cast<ETipoDocumento>(a[2].Como<int32_t>()),
                                               a[3].Como<std::string>(), a[4].Como<std::string>(),
                                               a[5].Como<std::string>());
             }));
    b.Metodo("EnviaDataHoraRelogio", 0x60030173, {cod, Param("parDataHora", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.EnviaDataHoraRelogio(a[0].Como<int16_t>(), a[1].Como<DataHora>());
             }));
    b.Metodo("EnviaDataHoraTodosRelogios", 0x60030174, {Param("parDataHora", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.EnviaDataHoraTodosRelogios(a[0].Como<DataHora>());
             }));
    b.Metodo(
        "ConectarRelogio", 0x60030175, {cod}, NADA, "",
        nada([](ComunicacaoZK& c, Argumentos& a) { c.ConectarRelogio(a[0].Como<int16_t>()); }));
    b.Metodo(
        "DesconectarRelogio", 0x60030176, {cod}, NADA, "",
        nada([](ComunicacaoZK& c, Argumentos& a) { c.DesconectarRelogio(a[0].Como<int16_t>()); }));
    b.Metodo("DesconectarTodosRelogios", 0x60030177, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.DesconectarTodosRelogios(); }));
    b.Metodo("ObterDataHoraRelogio", 0x60030178, {cod}, DATA, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ObterDataHoraRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("ObterMarcacaoRelogio", 0x60030179,
             {cod, Opcional("parIndexPonteiro", I4, Variant(int32_t{0})),
              Opcional("parNSRPonteiro", I4, Variant(int32_t{0}))},
             OBJ, "ListaMarcacao", [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaMarcacao,
                          c.controle->ObterMarcacaoRelogio(
                              a[0].Como<int16_t>(), a[1].Como<int32_t>(), a[2].Como<int32_t>()));
             });
    b.Metodo("ObterMarcacaoTodosRelogios", 0x6003017A,
             {Opcional("parIndexPonteiro", I4, Variant(int32_t{0}))}, OBJ, "ListaMarcacao",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaMarcacao,
                          c.controle->ObterMarcacaoTodosRelogios(a[0].Como<int32_t>()));
             });
    b.Metodo("ObterStatusRelogio", 0x6003017B, {cod}, OBJ, "StatusRelogio",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().statusRelogio,
                          c.controle->ObterStatusRelogio(a[0].Como<int16_t>()));
             });
    b.Metodo("ObterFuncionarioCartaoByCodCartao", 0x6003017C, {Param("parCodigoCartao", TXT)}, OBJ,
             "FuncionarioCartao", [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().funcionarioCartao,
                          c.controle->ObterFuncionarioCartaoByCodCartao(a[0].Como<std::string>()));
             });
    b.Metodo("ObterListaFuncionarioCartaoRelogio", 0x6003017D, {cod}, OBJ, "ListaFuncionarioCartao",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaFuncionarioCartao,
                          c.controle->ObterListaFuncionarioCartaoRelogio(a[0].Como<int16_t>()));
             });
    b.Metodo("ObterListaTemplatesCartaoRelogio", 0x6003017E,
             {cod, Param("parCodigoFuncionarioCartao", I4)}, OBJ, "Collection",
             [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().colecao,
                          c.controle->ObterListaTemplatesCartaoRelogio(a[0].Como<int16_t>(),
                                                                       a[1].Como<int32_t>()));
             });
    b.Metodo("EnviarListaFuncionarioCartaoRelogio", 0x60030180, {Param("parCodigoRelogio", I4)},
             OBJ, "ListaFuncionarioNaoEnviado", [](ControleLateBound& c, Argumentos& a) {
               return Ref(TabelasDaBiblioteca().listaFuncionarioNaoEnviado,
                          c.controle->EnviarListaFuncionarioCartaoRelogio(a[0].Como<int32_t>()));
             });
    b.Metodo("EnviaListaFuncionarioCartaoTodosRelogios", 0x60030181, {}, OBJ,
             "ListaFuncionarioNaoEnviado", [](ControleLateBound& c, Argumentos&) {
               return Ref(TabelasDaBiblioteca().listaFuncionarioNaoEnviado,
                          c.controle->EnviaListaFuncionarioCartaoTodosRelogios());
             });
    b.Metodo("ExcluiFuncionarioCartaoRelogio", 0x60030182, {cod, func}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ExcluiFuncionarioCartaoRelogio(a[0].Como<int16_t>(),
                                                       Obj<FuncionarioCartao>(a[1]));
             }));
    b.Metodo("ExcluirFuncionarioCartaoTodosRelogios", 0x60030183, {func}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ExcluirFuncionarioCartaoTodosRelogios(Obj<FuncionarioCartao>(a[0]));
             }));
    b.Metodo("ApagarTodosRegistrosRelogio", 0x60030184, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ApagarTodosRegistrosRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("Teste", 0x60030185, {}, TipoDado::Qualquer, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.Teste(); }));
    b.Metodo("Set1Para1Relogio", 0x60030186, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.Set1Para1Relogio(a[0].Como<int16_t>());
             }));
    b.Metodo("Set1Para1TodosRelogios", 0x60030187, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) { return c.Set1Para1TodosRelogios(); }));
    b.Metodo("Set1ParaNRelogio", 0x60030188, {cod}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.Set1ParaNRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("Set1ParaNTodosRelogios", 0x60030189, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) { return c.Set1ParaNTodosRelogios(); }));
    b.Metodo("SetSireneDiaSemanaRelogio", 0x6003018A, {cod, horarios, dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiaSemanaRelogio(a[0].Como<int16_t>(), Obj<ListaHorario>(a[1]),
                                                  static_cast<EDiaDaSemana>(a[2].Como<int32_t>()));
             }));
    b.Metodo("SetSireneDiaSemanaTodosRelogios", 0x6003018B, {horarios, dia}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiaSemanaTodosRelogios(
                   Obj<ListaHorario>(a[0]), static_cast<EDiaDaSemana>(a[1].Como<int32_t>()));
             }));
    b.Metodo("SetSireneDiariaRelogio", 0x6003018C,
             {cod, sirene, Param("parHora", I2), Param("parMinuto", I2)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiariaRelogio(a[0].Como<int16_t>(), a[1].Como<int16_t>(),
                                               a[2].Como<int16_t>(), a[3].Como<int16_t>());
             }));
    b.Metodo("SetSireneDiariaTodosRelogios", 0x6003018D,
             {sirene, Param("parHora", I2), Param("parMinuto", I2)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetSireneDiariaTodosRelogios(a[0].Como<int16_t>(), a[1].Como<int16_t>(),
                                                     a[2].Como<int16_t>());
             }));
    b.Metodo("SetTempoDuracaoToqueSireneRelogio", 0x6003018E, {cod, Param("parDuracao", I2)}, BOOL,
             "", valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetTempoDuracaoToqueSireneRelogio(a[0].Como<int16_t>(),
                                                          a[1].Como<int16_t>());
             }));
    b.Metodo("SetTempoDuracaoToqueSireneTodosRelogios", 0x6003018F, {Param("parDuracao", I2)}, BOOL,
             "", valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetTempoDuracaoToqueSireneTodosRelogios(a[0].Como<int16_t>());
             }));
    b.Metodo("SetHorarioVeraoRelogio", 0x60030190,
             {cod, Param("parDataHoraInicio", DATA), Param("parDataHoraFim", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetHorarioVeraoRelogio(a[0].Como<int16_t>(), a[1].Como<DataHora>(),
                                               a[2].Como<DataHora>());
             }));
    b.Metodo("SetHorarioVeraoTodosRelogios", 0x60030191,
             {Param("parDataHoraInicio", DATA), Param("parDataHoraFim", DATA)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.SetHorarioVeraoTodosRelogios(a[0].Como<DataHora>(), a[1].Como<DataHora>());
             }));
    b.Metodo("IniciaMonitoracaoRelogio", 0x60030192, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.IniciaMonitoracaoRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("IniciaMonitoracaoTodosRelogios", 0x60030193, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.IniciaMonitoracaoTodosRelogios(); }));
    b.Metodo("PararMonitoracaoRelogio", 0x60030194, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.PararMonitoracaoRelogio(a[0].Como<int16_t>());
             }));
    b.Metodo("PararMonitoracaoTodosRelogios", 0x60030195, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.PararMonitoracaoTodosRelogios(); }));
    b.Metodo("HabilitaDesabilitaRelogio", 0x60030196, {cod, Param("parHabilita", BOOL)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.HabilitaDesabilitaRelogio(a[0].Como<int16_t>(), a[1].Como<bool>());
             }));
    b.Metodo("ApagarMarcacoesRelogio", 0x60030197, {Param("parCodigoRelogio", I4)}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos& a) {
               return c.ApagarMarcacoesRelogio(a[0].Como<int32_t>());
             }));
    b.Metodo("ApagarMarcacoesTodosRelogios", 0x60030198, {}, BOOL, "",
             valor([](ComunicacaoZK& c, Argumentos&) { return c.ApagarMarcacoesTodosRelogios(); }));
    b.Metodo("ReposicionaPonteiroRelogio", 0x60030199, {cod, Param("parIndex", I4)}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) {
               c.ReposicionaPonteiroRelogio(a[0].Como<int16_t>(), a[1].Como<int32_t>());
             }));
    b.Metodo("RefreshRelogio", 0x6003019A, {cod}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos& a) { c.RefreshRelogio(a[0].Como<int16_t>()); }));
    b.Metodo("CancelaColeta", 0x6003019E, {}, NADA, "",
             nada([](ComunicacaoZK& c, Argumentos&) { c.CancelaColeta(); }));
  }

  // ---- Library, events, enumerations ------------------------------------------------------
  Biblioteca& l = biblioteca;
  l.nome = l.textoAjuda = "QUORVEL";
  l.libid = GuidDe("{0AB59F17-E8EF-4C7D-8C67-3F092B762EBB}");
  l.classes = {&comunicacao,
               &funcionarioCartao,
               &funcionarioNaoEnviado,
               &listaFuncionarioCartao,
               &listaFuncionarioNaoEnviado,
               &listaMarcacao,
               &relogio,
               &relogioCZKEM,
               &statusRelogio,
               &modelo,
               &marcacao,
               &listaRelogio,
               &horario,
               &listaHorario};
  l.nomeInterfaceEventos = "__ComunicacaoZK";
  l.iidEventos = GuidDe("{6E65072B-FF76-45FC-A1D9-F8C5D4FAD107}");
  l.eventos = {
      Membro{"ErroMonitoracao",
             1,
             TipoMembro::Metodo,
             {Param("parNumeroErro", I2), Param("parDescricaoErro", TXT)},
             NADA,
             ""},
      Membro{"MarcacaoRecolhida",
             2,
             TipoMembro::Metodo,
             {Param("parMarcacao", OBJ, "Marcacao")},
             NADA,
             ""},
      Membro{"RelogioConectado", 3, TipoMembro::Metodo, {Param("parCodigoRelogio", I2)}, NADA, ""},
      Membro{
          "ErroConexaoRelogio", 4, TipoMembro::Metodo, {Param("parCodigoRelogio", I2)}, NADA, ""},
  };
  l.enumeracoes = {
      {"EDiaDaSemana",
       GuidDe("{AED3B0D8-D1DD-4FF2-B5A9-D7923443C413}"),
       {{"Domingo", 0},
        {"Segunda", 1},
        {"Terca", 2},
        {"Quarta", 3},
        {"Quinta", 4},
        {"Sexta", 5},
        {"Sabado", 6}}},
      {"ETipoDocumento",
       GuidDe("{0A482562-5974-46FF-A7A6-57C6CD71F3A2}"),
       {{"CNPJ", 0}, {"CPF", 1}}},
      {"EFalhaEnvioFuncionario",
       GuidDe("{AE503433-3346-4396-984A-94DC6A1786D2}"),
       {{"RelogioRecusou", 0}, {"RelogioRecusouTemplate", 1}, {"NaoPossuiSenhaOuTemplate", 2}}},
      {"ETipoConexao",
       GuidDe("{9DFDC536-24D8-4DCC-8750-78BDF73E6155}"),
       {{"ConexaoIP", 0}, {"ConexaoSerial", 1}}},
      {"EModeloRelogio",
       GuidDe("{8E929CC0-B77F-4180-B9F0-922F1B1E42B4}"),
       {{"EModeloRelogio_Quorvel", 0}, {"EModeloRelogio_Tarvenix", 1}}},
      {"EDedoDigital",
       GuidDe("{76A68FF7-A740-46C1-9130-99677A48B196}"),
       {{"MinimoEsquerdo", 0},
        {"AnularEsquerdo", 1},
        {"MedioEsquerdo", 2},
        {"IndicadorEsquerdo", 3},
        {"PolegarEsquerdo", 4},
        {"MinimoDireito", 5},
        {"AnularDireito", 6},
        {"MedioDireito", 7},
        {"IndicadorDireito", 8},
        {"PolegarDireito", 9}}},
  };
  l.iidColecaoPlataforma = colecao.iid;
  l.iidCZKEM = czkem.iid;
  l.libidSdk = GuidDe("{FE9DED34-E159-408E-8490-B720A5E632C7}");
}

const Tabelas& TabelasDaBiblioteca() {
  static const Tabelas tabelas;
  return tabelas;
}

std::string Minusculas(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// Coerces an argument to the parameter's type, the way the platform does.
Variant Converte(const Variant& v, const Parametro& p) {
  switch (p.tipo) {
    case TipoDado::Booleano:
      return Variant(v.ParaBooleano());
    case TipoDado::Inteiro16:
      return Variant(v.ParaInteiro16());
    case TipoDado::Inteiro32:
      return Variant(v.ParaInteiro32());
    case TipoDado::Duplo:
      return Variant(v.ParaDuplo());
    case TipoDado::Texto:
      return Variant(v.ParaTexto());
    case TipoDado::Data:
      return Variant(v.ParaData());
    case TipoDado::Objeto: {
      if (v.EhVazio()) return Variant(RefObjeto{});
      if (!v.Eh<RefObjeto>()) LancaTiposIncompativeis("esperava um objeto " + p.tipoNome);
      const RefObjeto& r = v.Como<RefObjeto>();
      if (r.objeto && r.classe && !p.tipoNome.empty() && r.classe->nome != p.tipoNome)
        LancaTiposIncompativeis("esperava um objeto " + p.tipoNome + ", recebeu " + r.classe->nome);
      return v;
    }
    case TipoDado::Qualquer:
    case TipoDado::Vazio:
      return v;
  }
  return v;
}

}  // namespace

std::string Guid::Texto() const {
  char t[40];
  std::snprintf(t, sizeof t, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", d1, d2, d3,
                d4[0], d4[1], d4[2], d4[3], d4[4], d4[5], d4[6], d4[7]);
  return t;
}

std::optional<Guid> Guid::DeTexto(std::string_view t) {
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
    return std::nullopt;
  auto hex = [&](size_t i, size_t n, uint64_t& saida) {
    saida = 0;
    for (size_t k = i; k < i + n; ++k) {
      const char c = t[k];
      int v = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (v < 0) return false;
      saida = saida * 16 + static_cast<uint64_t>(v);
    }
    return true;
  };
  Guid g;
  uint64_t v = 0;
  if (!hex(0, 8, v)) return std::nullopt;
  g.d1 = static_cast<uint32_t>(v);
  if (!hex(9, 4, v)) return std::nullopt;
  g.d2 = static_cast<uint16_t>(v);
  if (!hex(14, 4, v)) return std::nullopt;
  g.d3 = static_cast<uint16_t>(v);
  const size_t posicoes[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; ++i) {
    if (!hex(posicoes[i], 2, v)) return std::nullopt;
    g.d4[i] = static_cast<uint8_t>(v);
  }
  return g;
}

const Biblioteca& BibliotecaQuorvel() { return TabelasDaBiblioteca().biblioteca; }

const ClasseDespacho& ClasseColecao() { return TabelasDaBiblioteca().colecao; }

const ClasseDespacho* ProcuraClasse(std::string_view nome) {
  const std::string alvo = Minusculas(nome);
  for (const ClasseDespacho* c : TabelasDaBiblioteca().biblioteca.classes)
    if (Minusculas(c->progid) == alvo || Minusculas(c->nome) == alvo) return c;
  return nullptr;
}

const ClasseDespacho* ProcuraClasse(const Guid& clsid) {
  for (const ClasseDespacho* c : TabelasDaBiblioteca().biblioteca.classes)
    if (c->clsid == clsid) return c;
  return nullptr;
}

void DefineAmbienteControles(Host* host, FabricaCZKEM fabrica) {
  Ambiente& a = AmbienteControles();
  std::lock_guard l(a.mutex);
  a.host = host;
  a.fabrica = std::move(fabrica);
}

RefObjeto CriaObjeto(const ClasseDespacho& c) {
  const Tabelas& t = TabelasDaBiblioteca();
  auto objeto = [&]() -> std::shared_ptr<void> {
    if (&c == &t.comunicacao) {
      Ambiente& a = AmbienteControles();
      std::lock_guard l(a.mutex);
      if (!a.host || !a.fabrica)
        throw Erro(erro_plataforma::kNaoCriavel,
                   "O controle não tem ambiente: defina o host e o SDK.");
      auto controle = std::make_shared<ControleLateBound>();
      controle->controle = std::make_unique<ComunicacaoZK>(*a.host, a.fabrica);
      // Events go to the sink by dispatch number; without a sink they are dropped.
      ControleLateBound* bruto = controle.get();
      EventosComunicacaoZK& e = controle->controle->Eventos();
      e.ErroMonitoracao = [bruto](int16_t n, const std::string& d) {
        if (bruto->sink) bruto->sink(1, {Variant(n), Variant(d)});
      };
      e.MarcacaoRecolhida = [bruto](const std::shared_ptr<Marcacao>& m) {
        if (bruto->sink) bruto->sink(2, {Ref(TabelasDaBiblioteca().marcacao, m)});
      };
      e.RelogioConectado = [bruto](int16_t c) {
        if (bruto->sink) bruto->sink(3, {Variant(c)});
      };
      e.ErroConexaoRelogio = [bruto](int16_t c) {
        if (bruto->sink) bruto->sink(4, {Variant(c)});
      };
      return controle;
    }
    if (&c == &t.funcionarioCartao) return std::make_shared<FuncionarioCartao>();
    if (&c == &t.funcionarioNaoEnviado) return std::make_shared<FuncionarioNaoEnviado>();
    if (&c == &t.listaFuncionarioCartao) return std::make_shared<ListaFuncionarioCartao>();
    if (&c == &t.listaFuncionarioNaoEnviado) return std::make_shared<ListaFuncionarioNaoEnviado>();
    if (&c == &t.listaMarcacao) return std::make_shared<ListaMarcacao>();
    if (&c == &t.relogio) return std::make_shared<Relogio>();
    if (&c == &t.relogioCZKEM) return std::make_shared<RelogioCZKEM>();
    if (&c == &t.statusRelogio) return std::make_shared<StatusRelogio>();
    if (&c == &t.modelo) return std::make_shared<Template>();
    if (&c == &t.marcacao) return std::make_shared<Marcacao>();
    if (&c == &t.listaRelogio) return std::make_shared<ListaRelogio>();
    if (&c == &t.horario) return std::make_shared<Horario>();
    if (&c == &t.listaHorario) return std::make_shared<ListaHorario>();
    throw Erro(erro_plataforma::kNaoCriavel, "A classe " + c.nome + " não pode ser criada.");
  }();
  return RefObjeto{&c, std::move(objeto)};
}

int32_t ProcuraDispId(const ClasseDespacho& c, std::string_view nome) {
  const std::string alvo = Minusculas(nome);
  for (const Membro& m : c.membros)
    if (Minusculas(m.nome) == alvo) return m.dispid;
  throw Erro(
      erro_plataforma::kMembroNaoEncontrado,
      "O objeto não dá suporte para esta propriedade ou método (" + std::string(nome) + ").");
}

Variant Invoca(const RefObjeto& objeto, int32_t dispid, TipoMembro tipo,
               std::vector<Variant> args) {
  if (!objeto.classe || !objeto.objeto) LancaObjetoNaoDefinido();
  const ClasseDespacho& c = *objeto.classe;
  if (!c.invocador)
    throw Erro(erro_plataforma::kMembroNaoEncontrado,
               "O objeto não dá suporte para esta propriedade ou método.");
  auto it = c.invocador->acoes.find({dispid, tipo});
  // A property put that the class declares as put-by-reference answers a plain put too.
  if (it == c.invocador->acoes.end() && tipo == TipoMembro::PropPut)
    it = c.invocador->acoes.find({dispid, TipoMembro::PropPutRef});
  if (it == c.invocador->acoes.end())
    throw Erro(erro_plataforma::kMembroNaoEncontrado,
               "O objeto não dá suporte para esta propriedade ou método.");
  const Membro& m = c.membros[it->second.first];
  size_t obrigatorios = 0;
  for (const Parametro& p : m.parametros)
    if (!p.opcional) ++obrigatorios;
  if (args.size() < obrigatorios || args.size() > m.parametros.size())
    throw Erro(erro_plataforma::kNumeroDeArgumentos,
               "Número de argumentos incorreto ou atribuição de propriedade inválida.");
  for (size_t i = 0; i < m.parametros.size(); ++i) {
    const Parametro& p = m.parametros[i];
    if (i >= args.size()) args.push_back(Variant::Omitido());
    if (args[i].EhAusente()) {
      if (!p.opcional)
        throw Erro(erro_plataforma::kNumeroDeArgumentos,
                   "Número de argumentos incorreto ou atribuição de propriedade inválida.");
      if (!p.padrao.EhAusente()) args[i] = p.padrao;
      continue;
    }
    args[i] = Converte(args[i], p);
  }
  return it->second.second(objeto.objeto.get(), args);
}

void DefineSink(const RefObjeto& controle, SinkEventos sink) {
  if (!controle.classe || !controle.classe->controle || !controle.objeto)
    LancaTiposIncompativeis("só o controle ComunicacaoZK tem eventos");
  static_cast<ControleLateBound*>(controle.objeto.get())->sink = std::move(sink);
}

}  // namespace quorvel
