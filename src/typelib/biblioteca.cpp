// The type library QUORVEL: every class built once, group by group, then the library's own
// data: its classes in order, the control's events and the enumerations.
#include "typelib/classes.h"

namespace quorvel {
namespace classes {

Tabelas::Tabelas() {
  DefineRelogios();
  DefineMarcacoes();
  DefineFuncionarios();
  DefineStatusEHorarios();
  DefineColecaoESdk();
  DefineControle();
  DefineBiblioteca();
}

const Tabelas& TabelasDaBiblioteca() {
  static const Tabelas tabelas;
  return tabelas;
}

void Identidade(ClasseDespacho& c, const char* nome, const char* clsid, const char* iid,
                std::function<std::shared_ptr<void>()> fabrica) {
  c.nome = nome;
  c.clsid = GuidDe(clsid);
  c.iid = GuidDe(iid);
  c.progid = std::string("QUORVEL.") + nome;
  c.criavel = static_cast<bool>(fabrica);
  c.fabrica = std::move(fabrica);
}

void Tabelas::DefineBiblioteca() {
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

}  // namespace classes

const Biblioteca& BibliotecaQuorvel() { return classes::TabelasDaBiblioteca().biblioteca; }

const ClasseDespacho& ClasseColecao() { return classes::TabelasDaBiblioteca().colecao; }

}  // namespace quorvel
