// Employee records and lists, and the control's staging list.
#include "support/controle_fixture.h"
#include "support/funcionarios.h"

namespace quorvel {
namespace {

using namespace teste;

TEST(FuncionarioCartao, DefaultsAndTemplatesByFinger) {
  FuncionarioCartao f;
  EXPECT_EQ(f.Codigo(), 0);
  EXPECT_FALSE(f.Supervisor());
  EXPECT_EQ(f.Template()->Count(), 0);
  EXPECT_EQ(f.Template(), f.Template());  // the record's own collection, not a copy

  auto t = std::make_shared<Template>();
  EXPECT_EQ(t->Dedo(), IndicadorDireito);
  f.AddTemplate(t);
  EXPECT_EQ(f.Template()->Item("8"), t);
  Erro e = Captura([&] { f.AddTemplate(std::make_shared<Template>()); });
  EXPECT_EQ(e.Numero(), erro::kTemplateRepetido);
  EXPECT_EQ(e.Descricao(), Descricao("Já foi incluído um template para este dedo.",
                                     "FuncionarioCartao", "AddTemplate"));
  f.RemoveTemplate(8);
  f.AddTemplate(std::make_shared<Template>());  // allowed again
  EXPECT_EQ(Captura([&] { f.RemoveTemplate(3); }).Numero(), erro_plataforma::kArgumentoInvalido);
  EXPECT_EQ(Captura([&] { f.AddTemplate(NovaDigital(70000, "T")); }).Numero(),
            erro_plataforma::kEstouro);
  f.AddTemplate(NovaDigital(3, ""));  // an empty template text is accepted
  EXPECT_EQ(f.Template()->Count(), 2);
}

TEST(ListaFuncionarioCartao, KeyRulesAndFailures) {
  ListaFuncionarioCartao lista;
  for (int32_t c : {0, -5}) {
    Erro e = Captura([&] { lista.Add(NovoFuncionario(c)); });
    EXPECT_EQ(e.Numero(), erro::kCodigoFuncionarioInvalido);
    EXPECT_EQ(e.Descricao(), Descricao("Informe um código cujo valor seja maior que zero.",
                                       "ListaFuncionarioCartao", "Add"));
  }
  auto sete = NovoFuncionario(7);
  lista.Add(sete);
  for (auto outro : {sete, NovoFuncionario(7)}) {
    Erro e = Captura([&] { lista.Add(outro); });
    EXPECT_EQ(e.Numero(), erro::kFuncionarioRepetido);
    EXPECT_EQ(e.Descricao(),
              Descricao("Já existe um item adicionado a coleção cujo código do funcionário "
                        "equivale ao código de funcionário que deseja incluir.",
                        "ListaFuncionarioCartao", "Add"));
  }
  EXPECT_EQ(lista.Count(), 1);
  EXPECT_EQ(lista.ItemByCodCartaoFuncionario(7), sete);
  EXPECT_EQ(lista.ItemByCodCartaoFuncionario(8), nullptr);
  Erro e = Captura([&] { lista.Remove("07"); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_TRUE(e.Descricao().ends_with("Classe: ListaFuncionarioCartao\r\nMétodo: Remove"));
  EXPECT_EQ(lista.Count(), 1);
  for (int32_t p : {0, 2}) EXPECT_EQ(Captura([&] { lista.Item(p); }).Numero(), erro::kDesconhecido);
  EXPECT_EQ(Captura([&] { lista.Add(nullptr); }).Numero(), erro_plataforma::kObjetoNaoDefinido);
  lista.Remove("7");
  EXPECT_EQ(lista.Count(), 0);
  lista.RemoveAll();
  EXPECT_EQ(lista.Count(), 0);
}

// A host's own list keeps one record per key: clock text followed by the employee code.
TEST(ListaFuncionarioNaoEnviado, AHostsAddKeepsOneRecordPerKey) {
  ListaFuncionarioNaoEnviado lista;
  auto registro = [](std::string relogio, int32_t codigo, EFalhaEnvioFuncionario motivo) {
    auto r = std::make_shared<FuncionarioNaoEnviado>();
    r->CodigoRelogio(std::move(relogio));
    r->FuncionarioCartao(NovoFuncionario(codigo));
    r->MotivoFalha(motivo);
    return r;
  };
  const auto primeiro = registro("1", 23, RelogioRecusouTemplate);
  lista.Add(primeiro);
  lista.Add(registro("12", 3, RelogioRecusou));  // "123" too: silently not added
  lista.Add(registro("1", 23, RelogioRecusou));  // the same key again
  ASSERT_EQ(lista.Count(), 1);
  EXPECT_EQ(lista.Item(1), primeiro);
  EXPECT_EQ(lista.Item(1)->MotivoFalha(), RelogioRecusouTemplate);
  EXPECT_EQ(Captura([&] { lista.Item(2); }).Numero(), erro::kDesconhecido);
  lista.Add(registro("2", 3, RelogioRecusou));
  EXPECT_EQ(lista.Count(), 2);
  Erro e = Captura([&] { lista.Add(std::make_shared<FuncionarioNaoEnviado>()); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_TRUE(e.Descricao().ends_with("Classe: ListaFuncionarioNaoEnviado\r\nMétodo: Add"));
  FuncionarioNaoEnviado novo;
  EXPECT_EQ(novo.MotivoFalha(), RelogioRecusou);
  EXPECT_EQ(novo.CodigoRelogio(), "");
}

using Preparacao = ControleTeste;

TEST_F(Preparacao, StagingListThroughTheControl) {
  for (int32_t c : {1, 2, 3, 4, 5}) controle->AddFuncionarioCartao(NovoFuncionario(c));
  EXPECT_EQ(controle->ObterFuncionarioCartaoByCodCartao("3")->Codigo(), 3);
  EXPECT_EQ(controle->ObterFuncionarioCartaoByCodCartao(" 4 ")->Codigo(), 4);
  EXPECT_EQ(controle->ObterFuncionarioCartaoByCodCartao("99"), nullptr);
  EXPECT_EQ(Captura([&] { controle->ObterFuncionarioCartaoByCodCartao("abc"); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
  EXPECT_EQ(Captura([&] { controle->ObterFuncionarioCartaoByCodCartao(""); }).Numero(),
            erro_plataforma::kTiposIncompativeis);
  EXPECT_EQ(Captura([&] { controle->ObterFuncionarioCartaoByCodCartao("4294967296"); }).Numero(),
            6);
  controle->RemoverFuncionarioCartao("2");
  EXPECT_EQ(Captura([&] { controle->RemoverFuncionarioCartao("02"); }).Numero(),
            erro::kDesconhecido);
  EXPECT_EQ(controle->FuncionariosCartao().Count(), 4);
  controle->RemoverTodosFuncionariosCartao();
  EXPECT_EQ(controle->FuncionariosCartao().Count(), 0);
  EXPECT_EQ(Captura([&] { controle->AddFuncionarioCartao(NovoFuncionario(0)); }).Numero(),
            erro::kCodigoFuncionarioInvalido);
}

}  // namespace
}  // namespace quorvel
