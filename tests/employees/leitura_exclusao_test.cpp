// Reading back employees and templates, and deleting employees.
#include "support/controle_fixture.h"
#include "support/funcionarios.h"

namespace quorvel {
namespace {

using namespace teste;

struct Usuario {
  std::string id;
  std::string nome;
  int32_t privilegio;
  std::map<int32_t, std::string> templates;
};

class Leitura : public ControleTeste {
 protected:
  void Usuarios(MockCZKEM& m, std::vector<Usuario> usuarios) {
    auto estado = std::make_shared<std::pair<std::vector<Usuario>, size_t>>(std::move(usuarios), 0);
    ON_CALL(m, SdkReadAllUserIds).WillByDefault([estado](int32_t) {
      estado->second = 0;
      return true;
    });
    ON_CALL(m, SdkGetNextUserInfo)
        .WillByDefault(
            [estado](int32_t, int32_t& u, std::string& n, std::string& s, int32_t& p, bool& h) {
              if (estado->second >= estado->first.size()) return false;
              const Usuario& x = estado->first[estado->second++];
              u = std::stoi(x.id);
              n = x.nome;
              s = "pw";
              p = x.privilegio;
              h = true;
              return true;
            });
    ON_CALL(m, SdkGetNextUserInfoWithPis)
        .WillByDefault([estado](int32_t, std::string& u, std::string& n, std::string& s, int32_t& p,
                                bool& h, std::string& pis, std::string& cpf) {
          if (estado->second >= estado->first.size()) return false;
          const Usuario& x = estado->first[estado->second++];
          u = x.id;
          n = x.nome;
          s = "pw";
          p = x.privilegio;
          h = true;
          pis = "pis" + x.id;
          cpf = "cpf" + x.id;
          return true;
        });
    auto templates = [estado](const std::string& id, int32_t dedo, std::string& texto) {
      for (const auto& x : estado->first)
        if (std::to_string(std::stoi(x.id)) == id) {
          auto it = x.templates.find(dedo);
          if (it == x.templates.end()) return false;
          texto = it->second;
          return true;
        }
      return false;
    };
    ON_CALL(m, SdkGetUserTemplate)
        .WillByDefault([templates](int32_t, int32_t u, int32_t d, std::string& t, int32_t&) {
          return templates(std::to_string(u), d, t);
        });
    ON_CALL(m, SdkGetUserTemplateByTextId)
        .WillByDefault([templates](int32_t, const std::string& u, int32_t d, int32_t&,
                                   std::string& t, int32_t&) { return templates(u, d, t); });
  }
};

TEST_F(Leitura, QuorvelUsersWithTemplatesInFingerOrder) {
  MockCZKEM& m = Conectado(1);
  Usuarios(m, {{"5", "Ana", 2, {{8, "t8"}, {3, "t3"}}}, {"6", "Bia", 3, {}}});
  EXPECT_CALL(m, SdkGetUserTemplate(1, 5, _, _, _)).Times(10);
  EXPECT_CALL(m, SdkGetUserTemplate(1, 6, _, _, _)).Times(10);
  const auto lista = controle->ObterListaFuncionarioCartaoRelogio(1);
  ASSERT_EQ(lista->Count(), 2);
  const auto& ana = *lista->Item(1);
  EXPECT_EQ(ana.Codigo(), 5);
  EXPECT_EQ(ana.Nome(), "Ana");
  EXPECT_EQ(ana.Senha(), "pw");
  EXPECT_TRUE(ana.Supervisor());
  EXPECT_EQ(ana.Cartao(), "");
  ASSERT_EQ(ana.Template()->Count(), 2);
  EXPECT_EQ(ana.Template()->Item(1)->Dedo(), 3);
  EXPECT_EQ(ana.Template()->Item("8")->Texto(), "t8");
  EXPECT_FALSE(lista->Item(2)->Supervisor());  // privilege 3 is not a supervisor
}

TEST_F(Leitura, TarvenixUserTextsAreConvertedAndTemplatesAskedByOurText) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  Usuarios(m, {{"0012", "Caio", 0, {{1, "x"}}}});
  EXPECT_CALL(m, SdkGetUserTemplateByTextId(2, "12", _, _, _, _)).Times(10);
  const auto lista = controle->ObterListaFuncionarioCartaoRelogio(2);
  ASSERT_EQ(lista->Count(), 1);
  EXPECT_EQ(lista->Item(1)->Codigo(), 12);
  EXPECT_EQ(lista->Item(1)->PIS(), "pis0012");
  EXPECT_EQ(lista->Item(1)->Template()->Item("1")->Texto(), "x");
}

TEST_F(Leitura, RefusedListAndBadUsers) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkReadAllUserIds).WillOnce(Return(false));
  EXPECT_EQ(controle->ObterListaFuncionarioCartaoRelogio(1)->Count(), 0);
  ::testing::Mock::VerifyAndClearExpectations(&m);
  Usuarios(m, {{"0", "Zero", 0, {}}});
  Erro e = Captura([&] { controle->ObterListaFuncionarioCartaoRelogio(1); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_NE(e.Descricao().find("Informe um código cujo valor seja maior que zero."),
            std::string::npos);
  EXPECT_TRUE(e.Descricao().ends_with("Método: ObterListaFuncionarioCartaoRelogio"));

  MockCZKEM& t = Conectado(2, EModeloRelogio_Tarvenix);
  Usuarios(t, {{"abc", "?", 0, {}}});
  EXPECT_EQ(Captura([&] { controle->ObterListaFuncionarioCartaoRelogio(2); }).Numero(),
            erro::kDesconhecido);
  EXPECT_EQ(Captura([&] { controle->ObterListaFuncionarioCartaoRelogio(9); }).Numero(),
            erro::kRelogioNaoRegistrado);
}

TEST_F(Leitura, TemplatesOfOneUser) {
  MockCZKEM& m = Conectado(1);
  Usuarios(m, {{"5", "Ana", 0, {{9, "t9"}, {0, "t0"}}}, {"6", "Bia", 0, {}}});
  const auto t = controle->ObterListaTemplatesCartaoRelogio(1, 5);
  ASSERT_EQ(t->Count(), 2);
  EXPECT_EQ(t->Item(1)->Dedo(), 0);
  EXPECT_EQ(t->Item(2)->Texto(), "t9");
  EXPECT_FALSE(ExisteNaColecao(*t, "9"));  // no keys
  EXPECT_EQ(controle->ObterListaTemplatesCartaoRelogio(1, 6)->Count(), 0);

  Registra(3);
  Erro e = Captura([&] { controle->ObterListaTemplatesCartaoRelogio(3, 5); });
  EXPECT_EQ(e.Numero(), erro::kDesconhecido);
  EXPECT_EQ(e.Descricao(), DescricaoDesconectadoEmbrulhada(3, "ObterListaTemplatesCartaoRelogio"));
}

TEST_F(Leitura, TarvenixTemplatesRetryPerFinger) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));
  EXPECT_CALL(m, SdkGetUserTemplateByTextId(2, "5", _, _, _, _))
      .Times(30)
      .WillRepeatedly(Return(false));
  EXPECT_EQ(controle->ObterListaTemplatesCartaoRelogio(2, 5)->Count(), 0);
  EXPECT_EQ(host.Esperas().size(), 60u);  // two reconnections of three waits for every finger
}

class Exclusao : public ControleTeste {
 protected:
  std::shared_ptr<FuncionarioCartao> Funcionario(int32_t codigo, std::string senha, bool supervisor,
                                                 std::vector<int32_t> dedos) {
    return NovoFuncionario(codigo, {.nome = "N",
                                    .senha = std::move(senha),
                                    .supervisor = supervisor,
                                    .dedos = std::move(dedos)});
  }
};

TEST_F(Exclusao, QuorvelSequence) {
  MockCZKEM& m = Conectado(1);
  auto f = Funcionario(25, "123", false, {2, 7});
  {
    InSequence s;
    EXPECT_CALL(m, SdkSetUserInfo(1, 25, "N", "", 0, true)).WillOnce(Return(true));
    EXPECT_CALL(m, SdkDeleteUserTemplate(1, 25, 2));
    EXPECT_CALL(m, SdkDeleteUserTemplate(1, 25, 7));
    EXPECT_CALL(m, SdkDeleteEnrollData(1, 25, 1, 0)).WillOnce(Return(true));
    EXPECT_CALL(m, SdkQueryUserInfo(1, _, _, _, _))
        .WillOnce([](int32_t, std::string& nome, std::string& t, int32_t& n, bool& flag) {
          EXPECT_EQ(nome, "N");
          EXPECT_EQ(t, "");
          EXPECT_EQ(n, 0);
          EXPECT_TRUE(flag);
          return false;
        });
  }
  EXPECT_TRUE(controle->ExcluiFuncionarioCartaoRelogio(1, f));
}

TEST_F(Exclusao, QuorvelRefusedRewriteDeletesNothing) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkSetUserInfo).WillOnce(Return(false));
  EXPECT_CALL(m, SdkDeleteUserTemplate).Times(0);
  EXPECT_CALL(m, SdkDeleteEnrollData).Times(0);
  EXPECT_FALSE(controle->ExcluiFuncionarioCartaoRelogio(1, Funcionario(3, "", true, {1})));
}

TEST_F(Exclusao, QuorvelWithoutPasswordSkipsTheRewriteAndRetriesTheDeletion) {
  MockCZKEM& m = Conectado(1);
  EXPECT_CALL(m, SdkSetUserInfo).Times(0);
  EXPECT_CALL(m, SdkDeleteUserTemplate).Times(0);
  ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-2));
  EXPECT_CALL(m, SdkDeleteEnrollData).Times(3).WillRepeatedly(Return(false));
  EXPECT_CALL(m, SdkQueryUserInfo).WillOnce(Return(true));  // the user is still there
  EXPECT_FALSE(controle->ExcluiFuncionarioCartaoRelogio(1, Funcionario(3, "", false, {})));
}

TEST_F(Exclusao, TarvenixIsOneDeletionAndOneCheck) {
  MockCZKEM& m = Conectado(2, EModeloRelogio_Tarvenix);
  EXPECT_CALL(m, SdkSetUserInfo).Times(0);
  EXPECT_CALL(m, SdkDeleteUserTemplate).Times(0);
  EXPECT_CALL(m, SdkDeleteEnrollDataByTextId(2, "25", 12)).WillOnce(Return(true));
  EXPECT_CALL(m, SdkReadAllUserIds).Times(0);
  EXPECT_CALL(m, SdkGetNextUserInfoWithPis).WillOnce(Return(false));
  EXPECT_TRUE(controle->ExcluiFuncionarioCartaoRelogio(2, Funcionario(25, "x", true, {4})));
}

// Only a deletion the clock accepted is a success, whatever the final check answers.
TEST_F(Exclusao, ARefusedDeletionIsNeverASuccess) {
  struct Caso {
    EModeloRelogio modelo;
    bool aceita, aindaLa, resultado;
  };
  int16_t codigo = 1;
  for (const Caso& c : {Caso{EModeloRelogio_Tarvenix, false, false, false},
                        Caso{EModeloRelogio_Tarvenix, true, false, true},
                        Caso{EModeloRelogio_Tarvenix, true, true, false},
                        Caso{EModeloRelogio_Quorvel, false, false, false},
                        Caso{EModeloRelogio_Quorvel, true, false, true},
                        Caso{EModeloRelogio_Quorvel, true, true, false}}) {
    MockCZKEM& m = Conectado(codigo, c.modelo);
    ON_CALL(m, SdkGetLastError).WillByDefault(SetArgReferee<0>(-1));
    ON_CALL(m, SdkDeleteEnrollDataByTextId).WillByDefault(Return(c.aceita));
    ON_CALL(m, SdkDeleteEnrollData).WillByDefault(Return(c.aceita));
    ON_CALL(m, SdkGetNextUserInfoWithPis).WillByDefault(Return(c.aindaLa));
    ON_CALL(m, SdkQueryUserInfo).WillByDefault(Return(c.aindaLa));
    EXPECT_EQ(controle->ExcluiFuncionarioCartaoRelogio(codigo, Funcionario(25, "", false, {})),
              c.resultado)
        << c.modelo << c.aceita << c.aindaLa;
    ++codigo;
  }
}

TEST_F(Exclusao, AllClocksStopsAtTheFirstFalse) {
  EXPECT_TRUE(controle->ExcluirFuncionarioCartaoTodosRelogios(Funcionario(1, "", false, {})));
  MockCZKEM& a = Conectado(1);
  MockCZKEM& b = Conectado(2);
  MockCZKEM& c = Conectado(3);
  ON_CALL(a, SdkDeleteEnrollData).WillByDefault(Return(true));
  ON_CALL(b, SdkDeleteEnrollData).WillByDefault(Return(true));
  EXPECT_CALL(a, SdkQueryUserInfo).WillOnce(Return(false));
  EXPECT_CALL(b, SdkQueryUserInfo).WillOnce(Return(true));
  teste::ProibeChamadas(c);
  EXPECT_FALSE(controle->ExcluirFuncionarioCartaoTodosRelogios(Funcionario(1, "", false, {})));
}

}  // namespace
}  // namespace quorvel
