// The public type library: names, slot order, numbers and identities, and late binding
// through the C ABI.
#include "quorvel/typelib.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "quorvel/erro.h"
#include "quorvel/quorvel.h"
#include "typelib/ganchos_teste.h"

namespace quorvel {
namespace {

std::vector<std::string> NomesMetodos(const ClasseDespacho& c) {
  std::vector<std::string> r;
  for (const Membro& m : c.membros) r.push_back(m.nome);
  return r;
}

TEST(Biblioteca, IdentityAndPinnedGuids) {
  const Biblioteca& b = BibliotecaQuorvel();
  EXPECT_EQ(b.nome, "QUORVEL");
  EXPECT_EQ(b.textoAjuda, "QUORVEL");
  EXPECT_EQ(b.versaoMaior, 11);
  EXPECT_EQ(b.versaoMenor, 1);
  EXPECT_TRUE(b.contemControles);
  // Hosts bind by these: they never change.
  EXPECT_EQ(b.libid.Texto(), "{0AB59F17-E8EF-4C7D-8C67-3F092B762EBB}");
  EXPECT_EQ(b.iidEventos.Texto(), "{6E65072B-FF76-45FC-A1D9-F8C5D4FAD107}");
  const std::vector<std::tuple<std::string, std::string, std::string>> classes = {
      {"ComunicacaoZK", "{B151713E-ED43-40F4-BA65-0569C3EFE301}",
       "{2E9398BC-7F16-49BF-BAA3-B64410F3726F}"},
      {"FuncionarioCartao", "{8103E7B6-5420-4D3A-97F4-85F1AB9093E5}",
       "{CB550B86-38B2-41AC-BD98-71806ECBA66C}"},
      {"FuncionarioNaoEnviado", "{0586215E-E99B-4D5C-BF10-CCFBEB4A807E}",
       "{549506C1-3B07-4EC2-B1A5-9590B2DA6971}"},
      {"ListaFuncionarioCartao", "{ADDB6AEB-29CE-4628-AC9A-EDD908F7E058}",
       "{5209EED8-8A5D-48D9-9238-0ACEA4B0B913}"},
      {"ListaFuncionarioNaoEnviado", "{B58E3EC6-F735-493B-B497-6F7D9CAD29A3}",
       "{E84E56DE-9018-484A-8FAF-EBA7784EA418}"},
      {"ListaMarcacao", "{16E63E04-8300-42E1-990D-EF61D0E00086}",
       "{21BA1092-428F-42EA-A554-B82D05B8B7BE}"},
      {"Relogio", "{BB9DDB53-9C49-4737-84F7-E16DFBF1F227}",
       "{819F9704-5846-41D4-BA42-EAFBCB637F61}"},
      {"RelogioCZKEM", "{128F7E97-3363-46AF-B918-99637AB33596}",
       "{FA2CD417-E2C4-42E1-B7D6-7D0471FF8A52}"},
      {"StatusRelogio", "{1981905C-9F6C-42C9-B067-0E645565F795}",
       "{3218F6A7-EBE1-4888-9849-852C7A07B31A}"},
      {"Template", "{FF16CA0C-FA07-4654-8CA7-14E5428DF9EC}",
       "{EAF4E1BA-0A2B-4822-B7C7-89FA1DF2686F}"},
      {"Marcacao", "{3601D576-7621-4C5C-9FC9-E67032AEFABA}",
       "{E85A21FB-9422-4DA9-B860-547C3099BE8F}"},
      {"ListaRelogio", "{6383B7C2-D6DD-4FBD-8E84-9D04DD3B9331}",
       "{B647DE4F-4E99-479A-9A93-860AA6230E33}"},
      {"Horario", "{088DC379-47C4-4DFE-87B2-D9E8462AE992}",
       "{B29A6F4A-FB48-4B3F-98B8-B28BE34BC811}"},
      {"ListaHorario", "{8ED24D46-95B1-4D47-8307-0E0FF496CEF6}",
       "{C9429F67-8F53-4334-A4A8-D4051A302C7E}"},
  };
  ASSERT_EQ(b.classes.size(), classes.size());
  for (size_t i = 0; i < classes.size(); ++i) {
    const auto& [nome, clsid, iid] = classes[i];
    EXPECT_EQ(b.classes[i]->nome, nome);
    EXPECT_EQ(b.classes[i]->clsid.Texto(), clsid) << nome;
    EXPECT_EQ(b.classes[i]->iid.Texto(), iid) << nome;
    EXPECT_EQ(b.classes[i]->NomeInterface(), "_" + nome);
    EXPECT_EQ(b.classes[i]->progid, "QUORVEL." + nome);
    EXPECT_TRUE(b.classes[i]->criavel);
  }
  const std::vector<std::pair<std::string, std::string>> enums = {
      {"EDiaDaSemana", "{AED3B0D8-D1DD-4FF2-B5A9-D7923443C413}"},
      {"ETipoDocumento", "{0A482562-5974-46FF-A7A6-57C6CD71F3A2}"},
      {"EFalhaEnvioFuncionario", "{AE503433-3346-4396-984A-94DC6A1786D2}"},
      {"ETipoConexao", "{9DFDC536-24D8-4DCC-8750-78BDF73E6155}"},
      {"EModeloRelogio", "{8E929CC0-B77F-4180-B9F0-922F1B1E42B4}"},
      {"EDedoDigital", "{76A68FF7-A740-46C1-9130-99677A48B196}"}};
  ASSERT_EQ(b.enumeracoes.size(), enums.size());
  for (size_t i = 0; i < enums.size(); ++i) {
    EXPECT_EQ(b.enumeracoes[i].nome, enums[i].first);
    EXPECT_EQ(b.enumeracoes[i].id.Texto(), enums[i].second);
  }
  EXPECT_EQ(b.enumeracoes[5].membros.back(),
            (std::pair<std::string, int32_t>{"PolegarDireito", 9}));
  EXPECT_EQ(b.iidColecaoPlataforma.Texto(), "{A4C46780-499F-101B-BB78-00AA00383CBB}");
  EXPECT_EQ(b.iidCZKEM.Texto(), "{102F4206-E43D-4FC9-BAB0-331CFFE4D25B}");
  EXPECT_EQ(b.libidSdk.Texto(), "{FE9DED34-E159-408E-8490-B720A5E632C7}");
  EXPECT_FALSE(Guid::DeTexto("{0AB59F17-E8EF-4C7D-8C67-3F092B762EB}"));
  EXPECT_FALSE(Guid::DeTexto("{0AB59F17-E8EF-4C7D-8C67-3F092B762EBG}"));
}

TEST(Biblioteca, ControlMethodsInSlotOrderWithTheirNumbers) {
  const ClasseDespacho& c = *ProcuraClasse("QUORVEL.ComunicacaoZK");
  const std::vector<std::string> esperados = {"AddRelogio",
                                              "AddRelogioIP",
                                              "AddRelogioSerial",
                                              "RemoverRelogio",
                                              "RemoverTodosRelogios",
                                              "RemoverFuncionarioCartao",
                                              "RemoverTodosFuncionariosCartao",
                                              "DelConfigHorarioVeraoRelogio",
                                              "DelConfigHorarioVeraoTodosRelogios",
                                              "DelConfigSireneDiaSemanaRelogio",
                                              "DelConfigSireneDiaSemanaTodosRelogios",
                                              "DelConfigSireneDiariaRelogio",
                                              "DelConfigSireneDiariaTodosRelogios",
                                              "AddFuncionarioCartao",
                                              "EnviaEmpregadorRelogio",
                                              "EnviaDataHoraRelogio",
                                              "EnviaDataHoraTodosRelogios",
                                              "ConectarRelogio",
                                              "DesconectarRelogio",
                                              "DesconectarTodosRelogios",
                                              "ObterDataHoraRelogio",
                                              "ObterMarcacaoRelogio",
                                              "ObterMarcacaoTodosRelogios",
                                              "ObterStatusRelogio",
                                              "ObterFuncionarioCartaoByCodCartao",
                                              "ObterListaFuncionarioCartaoRelogio",
                                              "ObterListaTemplatesCartaoRelogio",
                                              "EnviarListaFuncionarioCartaoRelogio",
                                              "EnviaListaFuncionarioCartaoTodosRelogios",
                                              "ExcluiFuncionarioCartaoRelogio",
                                              "ExcluirFuncionarioCartaoTodosRelogios",
                                              "ApagarTodosRegistrosRelogio",
                                              "Teste",
                                              "Set1Para1Relogio",
                                              "Set1Para1TodosRelogios",
                                              "Set1ParaNRelogio",
                                              "Set1ParaNTodosRelogios",
                                              "SetSireneDiaSemanaRelogio",
                                              "SetSireneDiaSemanaTodosRelogios",
                                              "SetSireneDiariaRelogio",
                                              "SetSireneDiariaTodosRelogios",
                                              "SetTempoDuracaoToqueSireneRelogio",
                                              "SetTempoDuracaoToqueSireneTodosRelogios",
                                              "SetHorarioVeraoRelogio",
                                              "SetHorarioVeraoTodosRelogios",
                                              "IniciaMonitoracaoRelogio",
                                              "IniciaMonitoracaoTodosRelogios",
                                              "PararMonitoracaoRelogio",
                                              "PararMonitoracaoTodosRelogios",
                                              "HabilitaDesabilitaRelogio",
                                              "ApagarMarcacoesRelogio",
                                              "ApagarMarcacoesTodosRelogios",
                                              "ReposicionaPonteiroRelogio",
                                              "RefreshRelogio",
                                              "CancelaColeta"};
  ASSERT_EQ(NomesMetodos(c), esperados);
  for (size_t p = 0; p < c.membros.size(); ++p) {
    const int32_t esperado = p <= 26   ? 0x60030164 + static_cast<int32_t>(p)
                             : p <= 53 ? 0x60030165 + static_cast<int32_t>(p)
                                       : 0x6003019E;
    EXPECT_EQ(c.membros[p].dispid, esperado) << c.membros[p].nome;
    EXPECT_EQ(c.membros[p].tipo, TipoMembro::Metodo);
  }
  EXPECT_EQ(ProcuraDispId(c, "obterlistatemplatescartaorelogio"), 0x6003017E);
  EXPECT_EQ(ProcuraDispId(c, "EnviarListaFuncionarioCartaoRelogio"), 0x60030180);
  EXPECT_EQ(ProcuraDispId(c, "RefreshRelogio"), 0x6003019A);
  EXPECT_EQ(ProcuraDispId(c, "CANCELACOLETA"), 0x6003019E);
  const Membro& obter = c.membros[21];
  ASSERT_EQ(obter.parametros.size(), 3u);
  EXPECT_TRUE(obter.parametros[1].opcional);
  EXPECT_EQ(obter.parametros[2].padrao, Variant(int32_t{0}));
  EXPECT_EQ(c.membros[27].parametros[0].tipo, TipoDado::Inteiro32);  // a 32-bit clock code here
  EXPECT_EQ(c.membros[50].parametros[0].tipo, TipoDado::Inteiro32);
  EXPECT_EQ(c.membros[3].parametros[0].tipo, TipoDado::Inteiro16);
  EXPECT_TRUE(c.membros[0].parametros[0].porReferencia);

  const auto& eventos = BibliotecaQuorvel().eventos;
  ASSERT_EQ(eventos.size(), 4u);
  EXPECT_EQ(eventos[0].nome, "ErroMonitoracao");
  EXPECT_EQ(eventos[1].nome, "MarcacaoRecolhida");
  EXPECT_EQ(eventos[2].nome, "RelogioConectado");
  EXPECT_EQ(eventos[3].nome, "ErroConexaoRelogio");
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(eventos[static_cast<size_t>(i)].dispid, i + 1);
}

// Properties: put (or put-by-reference) then get, same number.
TEST(Biblioteca, RecordAndCollectionMembersInSlotOrder) {
  struct Esperado {
    std::string nome;
    int32_t dispid;
    std::vector<TipoMembro> tipos;
  };
  const auto P = std::vector<TipoMembro>{TipoMembro::PropPut, TipoMembro::PropGet};
  const auto R = std::vector<TipoMembro>{TipoMembro::PropPutRef, TipoMembro::PropGet};
  const auto G = std::vector<TipoMembro>{TipoMembro::PropGet};
  const auto M = std::vector<TipoMembro>{TipoMembro::Metodo};
  const std::map<std::string, std::vector<Esperado>> tabela = {
      {"Relogio",
       {{"Codigo", 0x68030006, P},
        {"Consulta1N", 0x68030005, P},
        {"IP", 0x68030004, P},
        {"PenDrive", 0x68030003, P},
        {"Monitorado", 0x68030002, P},
        {"TipoConexao", 0x68030001, P},
        {"PortaSerial", 0x68030000, P},
        {"ModeloRelogio", 0x68030007, P}}},
      {"RelogioCZKEM",
       {{"Relogio", 0x68030002, R}, {"CZKEM", 0x68030001, R}, {"Conectado", 0x68030000, P}}},
      {"ListaRelogio",
       {{"Add", 0x60030000, M},
        {"Count", 0x60030001, M},
        {"Item", 0x60030002, M},
        {"ItemByCodRelogio", 0x60030003, M},
        {"Remove", 0x60030004, M}}},
      {"FuncionarioCartao",
       {{"Codigo", 0x68030006, P},
        {"Nome", 0x68030005, P},
        {"Supervisor", 0x68030004, P},
        {"Template", 0x68030003, G},
        {"Senha", 0x68030002, P},
        {"PIS", 0x68030001, P},
        {"CPF", 0x68030000, P},
        {"AddTemplate", 0x60030008, M},
        {"RemoveTemplate", 0x60030009, M},
        {"Cartao", 0x6803000A, P}}},
      {"FuncionarioNaoEnviado",
       {{"CodigoRelogio", 0x68030002, P},
        {"FuncionarioCartao", 0x68030001, R},
        {"MotivoFalha", 0x68030000, P}}},
      {"ListaFuncionarioCartao",
       {{"Add", 0x60030000, M},
        {"Count", 0x60030001, M},
        {"Item", 0x60030002, M},
        {"ItemByCodCartaoFuncionario", 0x60030003, M},
        {"Remove", 0x60030004, M},
        {"RemoveAll", 0x60030005, M}}},
      {"ListaFuncionarioNaoEnviado",
       {{"Add", 0x60030000, M}, {"Count", 0x60030001, M}, {"Item", 0x60030002, M}}},
      {"ListaMarcacao",
       {{"Add", 0x60030000, M}, {"Count", 0x60030001, M}, {"Item", 0x60030002, M}}},
      {"Marcacao",
       {{"CodigoCartao", 0x68030005, P},
        {"CodigoRelogio", 0x68030004, P},
        {"DataHoraMarcacao", 0x68030003, P},
        {"MarcacaoPorDigital", 0x68030002, P},
        {"PIS", 0x68030001, P},
        {"NSR", 0x68030000, P}}},
      {"StatusRelogio",
       {{"QuantidadeAdministradores", 0x6803000B, P},
        {"QuantidadeUsuarios", 0x6803000A, P},
        {"QuantidadeTemplates", 0x68030009, P},
        {"QuantidadeSenhas", 0x68030008, P},
        {"VezesAdministradorPoderaGerenciar", 0x68030007, P},
        {"NumeroMarcacoes", 0x68030006, P},
        {"CapacidadeTemplates", 0x68030005, P},
        {"CapacidadeUsuarios", 0x68030004, P},
        {"CapacidadeRegistros", 0x68030003, P},
        {"DataHora", 0x68030002, P},
        {"PercentualOcupacacaoBufferMarcacoes", 0x68030001, P},
        {"VersaoFirmware", 0x68030000, P}}},
      {"Template", {{"Template", 0x68030001, P}, {"Dedo", 0x68030000, P}}},
      {"Horario", {{"Hora", 0x68030001, P}, {"Minuto", 0x68030000, P}}},
      {"ListaHorario",
       {{"Add", 0x60030000, M},
        {"Count", 0x60030001, M},
        {"Item", 0x60030002, M},
        {"Remove", 0x60030003, M}}},
  };
  for (const auto& [classe, membros] : tabela) {
    const ClasseDespacho* c = ProcuraClasse(classe);
    ASSERT_NE(c, nullptr) << classe;
    size_t slot = 0;
    for (const Esperado& e : membros)
      for (TipoMembro t : e.tipos) {
        ASSERT_LT(slot, c->membros.size()) << classe;
        EXPECT_EQ(c->membros[slot].nome, e.nome) << classe << " slot " << slot;
        EXPECT_EQ(c->membros[slot].dispid, e.dispid) << classe << "." << e.nome;
        EXPECT_EQ(c->membros[slot].tipo, t) << classe << "." << e.nome;
        ++slot;
      }
    EXPECT_EQ(slot, c->membros.size()) << classe;
  }

  // Parameter names and passing that a host binding by name sees.
  const ClasseDespacho& funcionario = *ProcuraClasse("FuncionarioCartao");
  const Membro& supervisor = funcionario.membros[4];
  ASSERT_EQ(supervisor.nome, "Supervisor");
  ASSERT_EQ(supervisor.tipo, TipoMembro::PropPut);
  EXPECT_EQ(supervisor.parametros.at(0).nome, "parFuncionarioSupervisor");
  const Membro& addTemplate = funcionario.membros[13];
  ASSERT_EQ(addTemplate.nome, "AddTemplate");
  EXPECT_EQ(addTemplate.parametros.at(0).nome, "parTemplate");
  EXPECT_FALSE(addTemplate.parametros.at(0).porReferencia);  // only the lists' Adds are
  EXPECT_TRUE(ProcuraClasse("ListaFuncionarioCartao")->membros[0].parametros.at(0).porReferencia);
}

// The platform's coercions that hosts rely on.
TEST(Variant, CoercionsFollowThePlatform) {
  EXPECT_EQ(Variant(true).ParaInteiro16(), -1);  // True is -1, not 1
  EXPECT_EQ(Variant(true).ParaInteiro32(), -1);
  EXPECT_EQ(Variant(false).ParaInteiro32(), 0);
  EXPECT_EQ(Variant(int32_t{-32768}).ParaInteiro16(), -32768);
  EXPECT_EQ(Variant(int32_t{32767}).ParaInteiro16(), 32767);
  auto numero = [](const Variant& v) {
    try {
      v.ParaInteiro16();
    } catch (const Erro& e) {
      return e.Numero();
    }
    return 0;
  };
  EXPECT_EQ(numero(Variant(int32_t{-32769})), erro_plataforma::kEstouro);
  EXPECT_EQ(numero(Variant(int32_t{32768})), erro_plataforma::kEstouro);
  // A .5 fraction goes to the even neighbour, as text and as a number.
  EXPECT_EQ(Variant(std::string("2.5")).ParaInteiro32(), 2);
  EXPECT_EQ(Variant(std::string("3.5")).ParaInteiro32(), 4);
  EXPECT_EQ(Variant(std::string("-2.5")).ParaInteiro32(), -2);
  EXPECT_EQ(Variant(2.5).ParaInteiro16(), 2);
  EXPECT_EQ(Variant(3.5).ParaInteiro16(), 4);
  EXPECT_EQ(numero(Variant(std::string("abc"))), erro_plataforma::kTiposIncompativeis);
}

TEST(LateBinding, InvokesWithConversionAndThePlatformsErrors) {
  const ClasseDespacho& classe = *ProcuraClasse("Relogio");
  RefObjeto r = CriaObjeto(classe);
  const int32_t codigo = ProcuraDispId(classe, "codigo");
  Invoca(r, codigo, TipoMembro::PropPut, {Variant(int32_t{12})});
  EXPECT_EQ(Invoca(r, codigo, TipoMembro::PropGet, {}), Variant(int16_t{12}));
  Invoca(r, codigo, TipoMembro::PropPut, {Variant("7")});
  EXPECT_EQ(Invoca(r, codigo, TipoMembro::PropGet, {}), Variant(int16_t{7}));
  auto numero = [&](std::function<void()> f) {
    try {
      f();
    } catch (const Erro& e) {
      return e.Numero();
    }
    return 0;
  };
  EXPECT_EQ(numero([&] { Invoca(r, codigo, TipoMembro::PropPut, {Variant(int32_t{40000})}); }), 6);
  EXPECT_EQ(numero([&] { Invoca(r, codigo, TipoMembro::PropPut, {Variant("abc")}); }), 13);
  EXPECT_EQ(numero([&] { Invoca(r, codigo, TipoMembro::PropPut, {}); }), 450);
  EXPECT_EQ(numero([&] { Invoca(r, codigo, TipoMembro::PropGet, {Variant(1)}); }), 450);
  EXPECT_EQ(numero([&] { Invoca(r, 0x12345, TipoMembro::PropGet, {}); }), 438);
  EXPECT_EQ(numero([&] { ProcuraDispId(classe, "NaoExiste"); }), 438);

  // Objects go where objects are expected, of the right class.
  const ClasseDespacho& lista = *ProcuraClasse("ListaRelogio");
  RefObjeto l = CriaObjeto(lista);
  EXPECT_EQ(numero([&] {
              Invoca(l, 0x60030000, TipoMembro::Metodo, {Variant(1), Variant()});
            }),
            13);
  EXPECT_EQ(numero([&] {
              Invoca(l, 0x60030000, TipoMembro::Metodo, {Variant(l), Variant()});
            }),
            13);
  Invoca(r, ProcuraDispId(classe, "IP"), TipoMembro::PropPut, {Variant("10.0.0.1")});
  Invoca(l, 0x60030000, TipoMembro::Metodo, {Variant(r), Variant()});
  EXPECT_EQ(Invoca(l, 0x60030001, TipoMembro::Metodo, {}), Variant(int32_t{1}));
  // The component's own errors come through unchanged.
  try {
    Invoca(l, 0x60030000, TipoMembro::Metodo, {Variant(r), Variant()});
    ADD_FAILURE();
  } catch (const Erro& e) {
    EXPECT_EQ(e.Numero(), erro::kRelogioRepetido);
    EXPECT_EQ(e.Descricao(),
              "Este relógio já foi adicionado a coleção.\r\nClasse: ListaRelogio\r\nMétodo: Add");
  }
  // The collection handed out for templates is the platform's keyed collection.
  RefObjeto f = CriaObjeto(*ProcuraClasse("FuncionarioCartao"));
  RefObjeto t = CriaObjeto(*ProcuraClasse("Template"));
  Invoca(f, 0x60030008, TipoMembro::Metodo, {Variant(t)});
  const Variant colecao = Invoca(f, 0x68030003, TipoMembro::PropGet, {});
  EXPECT_EQ(colecao.Como<RefObjeto>().classe->nome, "Collection");
  EXPECT_EQ(Invoca(colecao.Como<RefObjeto>(), 2, TipoMembro::Metodo, {}), Variant(int32_t{1}));
  EXPECT_EQ(Invoca(colecao.Como<RefObjeto>(), 0, TipoMembro::Metodo, {Variant("8")})
                .Como<RefObjeto>()
                .objeto,
            t.objeto);
}

// ---- The C ABI --------------------------------------------------------------------------

quorvel_variant Inteiro(int32_t v) {
  quorvel_variant x{};
  x.tipo = QUORVEL_INTEIRO32;
  x.inteiro = v;
  return x;
}

int32_t Despacho(quorvel_objeto* o, const char* nome) {
  int32_t d = 0;
  quorvel_erro e;
  EXPECT_EQ(quorvel_dispid(o, nome, &d, &e), QUORVEL_OK) << nome;
  return d;
}

TEST(AbiC, ControlEndToEndWithEventsAndOptionalArguments) {
  quorvel_erro erro;
  EXPECT_EQ(quorvel_define_sdk("desconhecido", &erro), QUORVEL_FALHA);
  ASSERT_EQ(quorvel_define_sdk("virtual", &erro), QUORVEL_OK);
  ASSERT_EQ(quorvel_virtual_publica("192.0.2.50", 4370, 0, 1), QUORVEL_OK);
  quorvel_objeto* controle = nullptr;
  ASSERT_EQ(quorvel_cria("QUORVEL.ComunicacaoZK", &controle, &erro), QUORVEL_OK) << erro.descricao;
  EXPECT_EQ(DllCanUnloadNow(), 1);
  std::vector<std::pair<int32_t, int32_t>> eventos;
  auto sink = [](void* ctx, int32_t dispid, const quorvel_variant* a, int32_t n) {
    static_cast<std::vector<std::pair<int32_t, int32_t>>*>(ctx)->push_back(
        {dispid, n > 0 ? a[0].inteiro : -1});
  };
  ASSERT_EQ(quorvel_define_sink(controle, sink, &eventos, &erro), QUORVEL_OK);

  quorvel_variant args[3] = {Inteiro(50), {}, Inteiro(0)};
  args[1].tipo = QUORVEL_TEXTO;
  args[1].texto = "192.0.2.50";
  ASSERT_EQ(quorvel_invoca(controle, Despacho(controle, "AddRelogioIP"), QUORVEL_METODO, args, 3,
                           nullptr, &erro),
            QUORVEL_OK)
      << erro.descricao;
  ASSERT_EQ(quorvel_invoca(controle, 0x60030164 + 17, QUORVEL_METODO, args, 1, nullptr, &erro),
            QUORVEL_OK);
  for (int i = 0; i < 100 && eventos.empty(); ++i) quorvel_processa_eventos(10);
  ASSERT_EQ(eventos.size(), 1u);
  EXPECT_EQ(eventos[0], (std::pair<int32_t, int32_t>{3, 50}));

  // Only the clock code: both pointers default to 0.
  quorvel_variant lista{};
  ASSERT_EQ(quorvel_invoca(controle, Despacho(controle, "ObterMarcacaoRelogio"), QUORVEL_METODO,
                           args, 1, &lista, &erro),
            QUORVEL_OK)
      << erro.descricao;
  ASSERT_EQ(lista.tipo, QUORVEL_OBJETO);
  EXPECT_STREQ(quorvel_classe(lista.objeto), "ListaMarcacao");
  quorvel_variant total{};
  ASSERT_EQ(quorvel_invoca(lista.objeto, 0x60030001, QUORVEL_METODO, nullptr, 0, &total, &erro),
            QUORVEL_OK);
  EXPECT_GT(total.inteiro, 0);
  quorvel_variant um = Inteiro(1), marcacao{}, quando{};
  ASSERT_EQ(quorvel_invoca(lista.objeto, 0x60030002, QUORVEL_METODO, &um, 1, &marcacao, &erro),
            QUORVEL_OK);
  ASSERT_EQ(
      quorvel_invoca(marcacao.objeto, 0x68030003, QUORVEL_PROPGET, nullptr, 0, &quando, &erro),
      QUORVEL_OK);
  EXPECT_EQ(quando.tipo, QUORVEL_DATA);
  EXPECT_GT(quando.numero, 45000.0);  // a date in this century
  // Item gives the same punch every time: a change through one handle shows through another.
  quorvel_variant outra{}, cartao = Inteiro(4242), lido{};
  ASSERT_EQ(quorvel_invoca(lista.objeto, 0x60030002, QUORVEL_METODO, &um, 1, &outra, &erro),
            QUORVEL_OK);
  ASSERT_EQ(
      quorvel_invoca(marcacao.objeto, 0x68030005, QUORVEL_PROPPUT, &cartao, 1, nullptr, &erro),
      QUORVEL_OK);
  ASSERT_EQ(quorvel_invoca(outra.objeto, 0x68030005, QUORVEL_PROPGET, nullptr, 0, &lido, &erro),
            QUORVEL_OK);
  EXPECT_EQ(lido.inteiro, 4242);
  quorvel_variant_limpa(&outra);

  // Numbers that answer nothing.
  for (int32_t d : {0x6003017F, 0x6003019B, 0x6003019C, 0x6003019D}) {
    EXPECT_EQ(quorvel_invoca(controle, d, QUORVEL_METODO, nullptr, 0, nullptr, &erro),
              QUORVEL_FALHA);
    EXPECT_EQ(erro.numero, erro_plataforma::kMembroNaoEncontrado);
  }
  // A component error arrives with its number and full description.
  quorvel_variant noventaENove = Inteiro(99);
  EXPECT_EQ(quorvel_invoca(controle, Despacho(controle, "RefreshRelogio"), QUORVEL_METODO,
                           &noventaENove, 1, nullptr, &erro),
            QUORVEL_FALHA);
  EXPECT_EQ(erro.numero, erro::kRelogioNaoRegistrado);
  EXPECT_STREQ(
      erro.descricao,
      "O relógio informado não está incluso na coleção de relógios.\r\nClasse: ComunicacaoZK\r\n"
      "Método: ObterRelogioCZKEM");
  quorvel_variant enorme = Inteiro(70000);
  EXPECT_EQ(quorvel_invoca(controle, Despacho(controle, "RefreshRelogio"), QUORVEL_METODO, &enorme,
                           1, nullptr, &erro),
            QUORVEL_FALHA);
  EXPECT_EQ(erro.numero, erro_plataforma::kEstouro);
  EXPECT_EQ(quorvel_invoca(nullptr, 1, QUORVEL_METODO, nullptr, 0, nullptr, &erro),
            QUORVEL_PARAMETRO_INVALIDO);
  EXPECT_EQ(quorvel_invoca(controle, 1, 99, nullptr, 0, nullptr, &erro),
            QUORVEL_PARAMETRO_INVALIDO);

  quorvel_variant_limpa(&quando);
  quorvel_variant_limpa(&marcacao);
  quorvel_variant_limpa(&lista);
  EXPECT_EQ(DllCanUnloadNow(), 1);
  quorvel_libera(controle);
  EXPECT_EQ(DllCanUnloadNow(), 0);
  quorvel_virtual_limpa();
}

TEST(AbiC, BadHandlesAndOtherThreadsGetCodesNeverACrash) {
  EXPECT_STREQ(quorvel_versao(), "11.1.0");
  quorvel_erro erro;
  quorvel_objeto* relogio = nullptr;
  ASSERT_EQ(quorvel_cria("QUORVEL.Relogio", &relogio, &erro), QUORVEL_OK);
  const int32_t codigo = Despacho(relogio, "Codigo");
  // A 16-bit property refuses what does not fit, whatever the C type it arrives as.
  quorvel_variant grande = Inteiro(40000);
  EXPECT_EQ(quorvel_invoca(relogio, codigo, QUORVEL_PROPPUT, &grande, 1, nullptr, &erro),
            QUORVEL_FALHA);
  EXPECT_EQ(erro.numero, erro_plataforma::kEstouro);
  // A variant that says 16 bits but holds more, on either side.
  for (int32_t fora : {-40000, 40000}) {
    quorvel_variant curto = Inteiro(fora);
    curto.tipo = QUORVEL_INTEIRO16;
    EXPECT_EQ(quorvel_invoca(relogio, codigo, QUORVEL_PROPPUT, &curto, 1, nullptr, &erro),
              QUORVEL_FALHA);
    EXPECT_EQ(erro.numero, erro_plataforma::kEstouro) << fora;
  }
  quorvel_variant real{};
  real.tipo = QUORVEL_DUPLO;
  real.numero = 40000.0;
  EXPECT_EQ(quorvel_invoca(relogio, codigo, QUORVEL_PROPPUT, &real, 1, nullptr, &erro),
            QUORVEL_FALHA);
  EXPECT_EQ(erro.numero, erro_plataforma::kEstouro);
  quorvel_variant texto{};
  texto.tipo = QUORVEL_TEXTO;
  texto.texto = "40000";
  EXPECT_EQ(quorvel_invoca(relogio, codigo, QUORVEL_PROPPUT, &texto, 1, nullptr, &erro),
            QUORVEL_FALHA);
  EXPECT_EQ(erro.numero, erro_plataforma::kEstouro);
  quorvel_variant lido{};
  ASSERT_EQ(quorvel_invoca(relogio, codigo, QUORVEL_PROPGET, nullptr, 0, &lido, &erro), QUORVEL_OK);
  EXPECT_EQ(lido.inteiro, 0);  // nothing stored by the refused puts

  // Another thread is refused before it touches anything.
  int32_t deOutra = -1;
  std::thread([&] {
    deOutra = quorvel_invoca(relogio, codigo, QUORVEL_PROPGET, nullptr, 0, nullptr, nullptr);
  }).join();
  EXPECT_EQ(deOutra, QUORVEL_OUTRA_THREAD);

  quorvel_objeto* copia = quorvel_duplica(relogio);
  ASSERT_NE(copia, nullptr);
  quorvel_libera(relogio);
  // Used after release, released twice, made up: codes, not crashes.
  EXPECT_EQ(quorvel_invoca(relogio, codigo, QUORVEL_PROPGET, nullptr, 0, &lido, &erro),
            QUORVEL_HANDLE_INVALIDO);
  quorvel_libera(relogio);
  EXPECT_STREQ(quorvel_classe(relogio), "");
  EXPECT_EQ(quorvel_duplica(relogio), nullptr);
  auto* inventado = reinterpret_cast<quorvel_objeto*>(uintptr_t{0x12345678});
  EXPECT_EQ(quorvel_invoca(inventado, codigo, QUORVEL_PROPGET, nullptr, 0, &lido, &erro),
            QUORVEL_HANDLE_INVALIDO);
  int32_t dispid = 0;
  EXPECT_EQ(quorvel_dispid(inventado, "Codigo", &dispid, &erro), QUORVEL_HANDLE_INVALIDO);
  quorvel_libera(inventado);
  // The other handle still works; a released one passed as an argument is refused.
  EXPECT_STREQ(quorvel_classe(copia), "Relogio");
  quorvel_objeto* lista = nullptr;
  ASSERT_EQ(quorvel_cria("QUORVEL.ListaRelogio", &lista, &erro), QUORVEL_OK);
  quorvel_variant arg{};
  arg.tipo = QUORVEL_OBJETO;
  arg.objeto = relogio;
  EXPECT_EQ(quorvel_invoca(lista, Despacho(lista, "Add"), QUORVEL_METODO, &arg, 1, nullptr, &erro),
            QUORVEL_FALHA);
  EXPECT_EQ(erro.numero, erro_plataforma::kObjetoNaoDefinido);
  quorvel_libera(lista);
  quorvel_libera(copia);
  EXPECT_EQ(DllCanUnloadNow(), 0);
}

// Registers virtual clock `codigo` at `ip` (model 0 or 1) with the control and asks for its
// connection; the RelogioConectado event follows while the loop runs.
void RegistraEConecta(quorvel_objeto* controle, int32_t codigo, const char* ip, int32_t modelo) {
  quorvel_erro erro;
  quorvel_variant args[3] = {Inteiro(codigo), {}, Inteiro(modelo)};
  args[1].tipo = QUORVEL_TEXTO;
  args[1].texto = ip;
  ASSERT_EQ(quorvel_invoca(controle, Despacho(controle, "AddRelogioIP"), QUORVEL_METODO, args, 3,
                           nullptr, &erro),
            QUORVEL_OK)
      << erro.descricao;
  ASSERT_EQ(quorvel_invoca(controle, Despacho(controle, "ConectarRelogio"), QUORVEL_METODO, args, 1,
                           nullptr, &erro),
            QUORVEL_OK)
      << erro.descricao;
}

// The host releases the control from inside the control's own monitoring event: it goes after
// the tick, not under it (run under the sanitizers in the ASan build).
TEST(AbiC, AControlReleasedInsideItsOwnCallbackGoesAfterTheCallback) {
  quorvel_erro erro;
  ASSERT_EQ(quorvel_define_sdk("virtual", &erro), QUORVEL_OK);
  ASSERT_EQ(quorvel_virtual_publica("192.0.2.51", 4370, 0, 0), QUORVEL_OK);
  struct Estado {
    quorvel_objeto* controle = nullptr;
    int eventos = 0;
    bool conectou = false;
  } estado;
  ASSERT_EQ(quorvel_cria("QUORVEL.ComunicacaoZK", &estado.controle, &erro), QUORVEL_OK);
  auto sink = [](void* ctx, int32_t dispid, const quorvel_variant*, int32_t) {
    auto* e = static_cast<Estado*>(ctx);
    ++e->eventos;
    if (dispid == 3) e->conectou = true;
    if (dispid == 2 && e->controle) {
      quorvel_libera(e->controle);
      e->controle = nullptr;
    }
  };
  ASSERT_EQ(quorvel_define_sink(estado.controle, sink, &estado, &erro), QUORVEL_OK);
  RegistraEConecta(estado.controle, 51, "192.0.2.51", 0);
  quorvel_variant args[1] = {Inteiro(51)};
  for (int i = 0; i < 100 && !estado.conectou; ++i) quorvel_processa_eventos(10);
  ASSERT_TRUE(estado.conectou);
  ASSERT_EQ(quorvel_invoca(estado.controle, Despacho(estado.controle, "IniciaMonitoracaoRelogio"),
                           QUORVEL_METODO, args, 1, nullptr, &erro),
            QUORVEL_OK);
  quorvel_processa_eventos(300);  // the first visit
  for (int i = 0; i < 3; ++i) quorvel_virtual_marcacao("192.0.2.51", 4370, 1);
  for (int i = 0; i < 50 && estado.controle; ++i) quorvel_processa_eventos(20);
  EXPECT_EQ(estado.controle, nullptr);
  quorvel_processa_eventos(50);  // the control goes here, outside its own tick
  EXPECT_EQ(DllCanUnloadNow(), 0);
  quorvel_virtual_limpa();
}

// An event's object argument is lent for the callback: a host that releases it anyway changes
// nothing, neither the argument during the callback nor the count of objects the host holds.
TEST(AbiC, AnEventsBorrowedArgumentCannotBeReleasedByTheHost) {
  quorvel_erro erro;
  ASSERT_EQ(quorvel_define_sdk("virtual", &erro), QUORVEL_OK);
  ASSERT_EQ(quorvel_virtual_publica("192.0.2.52", 4370, 0, 0), QUORVEL_OK);
  struct Estado {
    int marcacoes = 0;
    bool conectou = false;
    bool argumentoValido = true;
  } estado;
  quorvel_objeto* controle = nullptr;
  ASSERT_EQ(quorvel_cria("QUORVEL.ComunicacaoZK", &controle, &erro), QUORVEL_OK);
  auto sink = [](void* ctx, int32_t dispid, const quorvel_variant* a, int32_t n) {
    auto* e = static_cast<Estado*>(ctx);
    if (dispid == 3) e->conectou = true;
    if (dispid == 2 && n > 0 && a[0].tipo == QUORVEL_OBJETO) {
      ++e->marcacoes;
      quorvel_libera(a[0].objeto);
      e->argumentoValido =
          e->argumentoValido && std::string(quorvel_classe(a[0].objeto)) == "Marcacao";
    }
  };
  ASSERT_EQ(quorvel_define_sink(controle, sink, &estado, &erro), QUORVEL_OK);
  RegistraEConecta(controle, 52, "192.0.2.52", 0);
  quorvel_variant args[1] = {Inteiro(52)};
  for (int i = 0; i < 100 && !estado.conectou; ++i) quorvel_processa_eventos(10);
  ASSERT_TRUE(estado.conectou);
  ASSERT_EQ(quorvel_invoca(controle, Despacho(controle, "IniciaMonitoracaoRelogio"), QUORVEL_METODO,
                           args, 1, nullptr, &erro),
            QUORVEL_OK);
  quorvel_processa_eventos(300);  // the first visit
  for (int i = 0; i < 3; ++i) quorvel_virtual_marcacao("192.0.2.52", 4370, 1);
  for (int i = 0; i < 100 && estado.marcacoes < 3; ++i) quorvel_processa_eventos(20);
  EXPECT_EQ(estado.marcacoes, 3);
  EXPECT_TRUE(estado.argumentoValido);
  EXPECT_EQ(DllCanUnloadNow(), 1) << "the control is still held";
  quorvel_libera(controle);
  quorvel_processa_eventos(50);
  EXPECT_EQ(DllCanUnloadNow(), 0);
  quorvel_virtual_limpa();
}

// A collection read in blocks of fixed records gives what Item gives, position by position;
// a pump of zero milliseconds runs what is due without waiting.
TEST(AbiC, PunchesReadInBlocksAsItemGivesThemAndAZeroPumpRunsWhatIsDue) {
  quorvel_erro erro;
  ASSERT_EQ(quorvel_define_sdk("virtual", &erro), QUORVEL_OK);
  ASSERT_EQ(quorvel_virtual_publica("192.0.2.53", 4370, 1, 1), QUORVEL_OK);
  quorvel_objeto* controle = nullptr;
  ASSERT_EQ(quorvel_cria("QUORVEL.ComunicacaoZK", &controle, &erro), QUORVEL_OK);
  bool conectou = false;
  auto sink = [](void* ctx, int32_t dispid, const quorvel_variant*, int32_t) {
    if (dispid == 3) *static_cast<bool*>(ctx) = true;
  };
  ASSERT_EQ(quorvel_define_sink(controle, sink, &conectou, &erro), QUORVEL_OK);
  RegistraEConecta(controle, 53, "192.0.2.53", 1);
  quorvel_variant args[1] = {Inteiro(53)};
  for (int i = 0; i < 500 && !conectou; ++i) {
    quorvel_processa_eventos(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(conectou);
  quorvel_variant lista{};
  ASSERT_EQ(quorvel_invoca(controle, Despacho(controle, "ObterMarcacaoRelogio"), QUORVEL_METODO,
                           args, 1, &lista, &erro),
            QUORVEL_OK);
  quorvel_variant total{};
  ASSERT_EQ(quorvel_invoca(lista.objeto, Despacho(lista.objeto, "Count"), QUORVEL_METODO, nullptr,
                           0, &total, &erro),
            QUORVEL_OK);
  ASSERT_GT(total.inteiro, 3);
  std::vector<quorvel_marcacao> registros(static_cast<size_t>(total.inteiro) + 5);
  int32_t lidas = -1;
  // In blocks of 3, past the end: each position once, the last block short, then nothing.
  for (int32_t inicio = 1; inicio <= total.inteiro + 3; inicio += 3) {
    ASSERT_EQ(quorvel_marcacoes_le(lista.objeto, inicio, 3,
                                   &registros[static_cast<size_t>(inicio - 1)], &lidas, &erro),
              QUORVEL_OK);
    EXPECT_EQ(lidas, std::max(0, std::min(3, total.inteiro - inicio + 1)));
  }
  const int64_t unix = DataHora::DePartes(1970, 1, 1).Segundos();
  for (int32_t p = 1; p <= total.inteiro; ++p) {
    quorvel_variant pos = Inteiro(p), item{}, quando{}, nsr{};
    ASSERT_EQ(quorvel_invoca(lista.objeto, 0x60030002, QUORVEL_METODO, &pos, 1, &item, &erro),
              QUORVEL_OK);
    ASSERT_EQ(quorvel_invoca(item.objeto, Despacho(item.objeto, "DataHoraMarcacao"),
                             QUORVEL_PROPGET, nullptr, 0, &quando, &erro),
              QUORVEL_OK);
    ASSERT_EQ(quorvel_invoca(item.objeto, Despacho(item.objeto, "NSR"), QUORVEL_PROPGET, nullptr, 0,
                             &nsr, &erro),
              QUORVEL_OK);
    const quorvel_marcacao& r = registros[static_cast<size_t>(p - 1)];
    EXPECT_EQ(r.segundos + unix, DataHora::DeDias(quando.numero).Segundos()) << p;
    EXPECT_STREQ(r.nsr, nsr.texto) << p;
    EXPECT_EQ(std::string(r.pis).size(), 11u) << p;
    EXPECT_EQ(r.relogio, 53);
    for (auto* v : {&item, &quando, &nsr}) quorvel_variant_limpa(v);
  }
  // Another class is a type mismatch; bad arguments are codes.
  EXPECT_EQ(quorvel_marcacoes_le(controle, 1, 1, registros.data(), &lidas, &erro), QUORVEL_FALHA);
  EXPECT_EQ(erro.numero, erro_plataforma::kTiposIncompativeis);
  EXPECT_EQ(quorvel_marcacoes_le(lista.objeto, 1, 1, nullptr, &lidas, &erro),
            QUORVEL_PARAMETRO_INVALIDO);
  EXPECT_EQ(quorvel_marcacoes_le(lista.objeto, 1, -1, registros.data(), &lidas, &erro),
            QUORVEL_PARAMETRO_INVALIDO);
  int32_t deOutra = -1;
  std::thread([&] {
    deOutra = quorvel_marcacoes_le(lista.objeto, 1, 1, registros.data(), &lidas, nullptr);
  }).join();
  EXPECT_EQ(deOutra, QUORVEL_OUTRA_THREAD);
  quorvel_variant_limpa(&lista);
  quorvel_libera(controle);
  quorvel_processa_eventos(0);
  quorvel_virtual_limpa();
}

TEST(AbiC, ClassFactoriesAndCreationByClsid) {
  quorvel_guid relogio{
      0xBB9DDB53, 0x9C49, 0x4737, {0x84, 0xF7, 0xE1, 0x6D, 0xFB, 0xF1, 0xF2, 0x27}};
  quorvel_guid iclassfactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  quorvel_guid outra{0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  void* fabrica = nullptr;
  EXPECT_EQ(DllGetClassObject(&outra, &iclassfactory, &fabrica), static_cast<int32_t>(0x80040111u));
  EXPECT_EQ(DllGetClassObject(&relogio, &outra, &fabrica), static_cast<int32_t>(0x80004002u));
  EXPECT_EQ(DllGetClassObject(&relogio, &iclassfactory, nullptr),
            static_cast<int32_t>(0x80004003u));
  ASSERT_EQ(DllGetClassObject(&relogio, &iclassfactory, &fabrica), 0);
  EXPECT_EQ(DllCanUnloadNow(), 1);
  quorvel_objeto* r = nullptr;
  quorvel_erro erro;
  ASSERT_EQ(quorvel_fabrica_cria(fabrica, &r, &erro), QUORVEL_OK);
  EXPECT_STREQ(quorvel_classe(r), "Relogio");
  quorvel_fabrica_libera(fabrica);
  quorvel_objeto* outro = nullptr;
  ASSERT_EQ(quorvel_cria("{BB9DDB53-9C49-4737-84F7-E16DFBF1F227}", &outro, &erro), QUORVEL_OK);
  quorvel_objeto* nenhum = nullptr;
  EXPECT_EQ(quorvel_cria("QUORVEL.Inexistente", &nenhum, &erro), QUORVEL_FALHA);
  EXPECT_EQ(nenhum, nullptr);
  EXPECT_EQ(erro.numero, erro_plataforma::kNaoCriavel);
  quorvel_libera(r);
  EXPECT_EQ(DllCanUnloadNow(), 1);  // `outro` still lives
  EXPECT_EQ(quorvel_duplica(nullptr), nullptr);
  quorvel_objeto* segundo = quorvel_duplica(outro);
  quorvel_libera(outro);
  EXPECT_EQ(DllCanUnloadNow(), 1);  // its second handle still lives
  quorvel_libera(segundo);
  EXPECT_EQ(DllCanUnloadNow(), 0);
}

TEST(AbiC, RegistrationRoundTrip) {
  const auto dir =
      std::filesystem::path(::testing::TempDir()) / ("registro_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  const auto caminho = dir / "sub/registro.json";
  ::setenv("QUORVEL_REGISTRO", caminho.c_str(), 1);
  {
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "outro.json") << "{}";
  }
  ASSERT_EQ(DllRegisterServer(), 0);
  auto j = nlohmann::json::parse(std::ifstream(caminho));
  EXPECT_EQ(j["bibliotecas"]["{0AB59F17-E8EF-4C7D-8C67-3F092B762EBB}"]["versao"], "11.1");
  EXPECT_EQ(j["progids"]["QUORVEL.ComunicacaoZK"], "{B151713E-ED43-40F4-BA65-0569C3EFE301}");
  EXPECT_EQ(j["classes"]["{B151713E-ED43-40F4-BA65-0569C3EFE301}"]["controle"], true);
  EXPECT_EQ(j["classes"].size(), 14u);
  const std::string arquivo = j["classes"]["{B151713E-ED43-40F4-BA65-0569C3EFE301}"]["arquivo"];
  EXPECT_TRUE(std::filesystem::exists(arquivo)) << arquivo;
  // Another library's entry survives both operations.
  j["progids"]["OUTRA.Coisa"] = "{00000000-0000-0000-0000-000000000001}";
  std::ofstream(caminho) << j.dump();
  ASSERT_EQ(DllRegisterServer(), 0);
  ASSERT_EQ(DllUnregisterServer(), 0);
  j = nlohmann::json::parse(std::ifstream(caminho));
  EXPECT_TRUE(j["classes"].empty());
  EXPECT_EQ(j["progids"].size(), 1u);
  EXPECT_TRUE(j["bibliotecas"].empty());
  ::unsetenv("QUORVEL_REGISTRO");
  std::filesystem::remove_all(dir);
}

#ifdef QUORVEL_EXEMPLOS
int Roda(const std::string& comando) {
  const int status = std::system(comando.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Exemplos, PythonHostEndToEnd) {
  const std::string saida = ::testing::TempDir() + "exemplo_python.txt";
  ASSERT_EQ(Roda("python3 " QUORVEL_EXEMPLO_PYTHON " " QUORVEL_BIBLIOTECA " > " + saida + " 2>&1"),
            0);
  std::ifstream f(saida);
  const std::string texto((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(texto.find("evento: RelogioConectado(7)"), std::string::npos) << texto;
  EXPECT_NE(texto.find("erro esperado -41"), std::string::npos) << texto;
  EXPECT_NE(texto.find("marcações coletadas por despacho tardio"), std::string::npos);
  EXPECT_NE(texto.find("DllCanUnloadNow: sim"), std::string::npos);
}

TEST(Exemplos, CHostEndToEnd) {
  const std::string saida = ::testing::TempDir() + "exemplo_c.txt";
  ASSERT_EQ(Roda(std::string(QUORVEL_EXEMPLO_C) + " > " + saida + " 2>&1"), 0);
  std::ifstream f(saida);
  const std::string texto((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(texto.find("evento RelogioConectado(8)"), std::string::npos) << texto;
  EXPECT_NE(texto.find("NSR 71"), std::string::npos) << texto;
  EXPECT_EQ(texto.find("NSR 70\n"), std::string::npos) << texto;
}
#endif

}  // namespace
}  // namespace quorvel
