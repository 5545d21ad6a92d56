// The keyed collection, the clock list that outlives its control, and the global bit functions.
#include <gtest/gtest.h>

#include "quorvel/colecao.h"
#include "quorvel/erro.h"
#include "quorvel/global.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "support/controle_fixture.h"

namespace quorvel {
namespace {

using namespace teste;

TEST(Colecao, PositionsKeysAndRemoval) {
  Colecao<int> c;
  c.Add(10, "a");
  c.Add(20);
  c.Add(30, "c");
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(c.Item(1), 10);
  EXPECT_EQ(c.Item("c"), 30);
  c.Remove("a");
  EXPECT_EQ(c.Item(1), 20);
  EXPECT_EQ(c.Item("c"), 30);  // the key follows its item when positions move
  c.Remove(2);
  EXPECT_EQ(c.Count(), 1);
  EXPECT_FALSE(ExisteNaColecao(c, "c"));
  c.Add(40, "c");  // a removed key is free again
  EXPECT_TRUE(ExisteNaColecao(c, "c"));
}

// Copies and moves of keyed collections, under the sanitizers in the ASan build: a copy must
// not keep pointers into its source's index.
TEST(Colecao, CopiesAreIndependentAndMovedFromCollectionsAreEmptyAndUsable) {
  auto original = std::make_unique<Colecao<int>>();
  for (int i = 1; i <= 40; ++i) original->Add(i, std::to_string(i));
  Colecao<int> copia(*original);
  Colecao<int> atribuida;
  atribuida.Add(99, "99");
  atribuida = *original;
  original.reset();  // the copies outlive their source
  for (Colecao<int>* c : {&copia, &atribuida}) {
    c->Remove("7");
    EXPECT_EQ(c->Count(), 39);
    EXPECT_EQ(c->Item("8"), 8);
    EXPECT_EQ(c->Item(7), 8);
    c->Add(7, "7");
    EXPECT_EQ(c->Item("7"), 7);
  }
  copia.Remove("1");
  EXPECT_EQ(atribuida.Item(1), 1);  // independent of each other too

  Colecao<int> movida(std::move(copia));
  EXPECT_EQ(movida.Count(), 39);
  EXPECT_EQ(copia.Count(), 0);  // NOLINT(bugprone-use-after-move): moved-from is usable
  copia.Add(5, "5");
  EXPECT_EQ(copia.Item("5"), 5);
  movida = std::move(atribuida);
  EXPECT_EQ(movida.Item("40"), 40);
  EXPECT_EQ(atribuida.Count(), 0);  // NOLINT(bugprone-use-after-move)

  Colecao<int>& mesma = movida;
  movida = mesma;  // self-assignment keeps everything
  EXPECT_EQ(movida.Count(), 40);
  movida.Remove("3");
  EXPECT_EQ(movida.Item("4"), 4);
}

TEST(ListaRelogio, ACopyOutlivesTheControlItCameFrom) {
  VirtualHost host;
  auto controle = std::make_unique<ComunicacaoZK>(host, sdk::FabricaVirtual());
  auto r = std::make_shared<Relogio>();
  r->Codigo(1);
  r->IP("192.0.2.1");
  controle->AddRelogio(r);
  ListaRelogio copia = controle->Relogios();
  controle.reset();
  EXPECT_EQ(copia.Count(), 1);
  copia.Remove("1");
  EXPECT_EQ(copia.Count(), 0);
}

TEST(Colecao, FailuresUseThePlatformNumbers) {
  Colecao<int> c;
  c.Add(1, "k");
  EXPECT_EQ(Captura([&] { c.Add(2, "k"); }).Numero(), erro_plataforma::kChaveDuplicada);
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(Captura([&] { c.Item(0); }).Numero(), erro_plataforma::kIndiceForaDoIntervalo);
  EXPECT_EQ(Captura([&] { c.Item(2); }).Numero(), erro_plataforma::kIndiceForaDoIntervalo);
  EXPECT_EQ(Captura([&] { c.Item("x"); }).Numero(), erro_plataforma::kArgumentoInvalido);
  EXPECT_EQ(Captura([&] { c.Remove("x"); }).Numero(), erro_plataforma::kArgumentoInvalido);
  EXPECT_FALSE(ExisteNaColecao(c, "K"));  // keys are exact
}

TEST(BitsGlobal, Examples) {
  EXPECT_EQ(PotenciaDois(0), 1);
  EXPECT_EQ(PotenciaDois(30), 1073741824);
  EXPECT_EQ(PotenciaDois(31), INT32_MIN);
  EXPECT_EQ(PotenciaDois(32), 0);
  EXPECT_EQ(PotenciaDois(-1), 0);
  EXPECT_EQ(MascaraBitsAltos(1), INT32_MIN);
  EXPECT_EQ(MascaraBitsAltos(2), static_cast<int32_t>(0xC0000000u));
  EXPECT_EQ(MascaraBitsAltos(31), -2);
  EXPECT_EQ(MascaraBitsAltos(32), -1);
  EXPECT_EQ(MascaraBitsAltos(0), 0);
  EXPECT_EQ(MascaraBitsAltos(33), 0);
  EXPECT_EQ(DeslocaBitsEsquerda(1, 31), INT32_MIN);
  EXPECT_EQ(DeslocaBitsEsquerda(255, 8), 65280);
  EXPECT_EQ(DeslocaBitsEsquerda(-1, 4), -16);
  EXPECT_EQ(DeslocaBitsEsquerda(123, 0), 123);
  EXPECT_EQ(DeslocaBitsEsquerda(1, 32), 0);
  EXPECT_EQ(DeslocaBitsEsquerda(1, -1), 0);
  for (int n = 1; n <= 31; ++n)
    EXPECT_EQ(DeslocaBitsEsquerda(0x12345678, n),
              static_cast<int32_t>(static_cast<uint32_t>(0x12345678) << n))
        << n;
}

}  // namespace
}  // namespace quorvel
