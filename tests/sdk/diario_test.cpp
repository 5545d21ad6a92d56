// The virtual clock's journal and snapshot: what was acknowledged comes back, what is damaged
// is never served silently, a refused write changes nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/diario_virtual.h"
#include "support/processo.h"

// What reaches the disk, in order, while a test watches: each fsync with the file it synced,
// each rename. The journal's calls come here before the C library's.
namespace {
bool g_observando = false;
std::vector<std::string> g_operacoes;
}  // namespace

extern "C" int fsync(int fd) {
  if (g_observando) {
    char alvo[PATH_MAX] = "";
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), alvo, sizeof alvo - 1);
    g_operacoes.push_back("fsync " + std::string(alvo, n > 0 ? static_cast<size_t>(n) : 0));
  }
  static auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
  return real(fd);
}

extern "C" int rename(const char* de, const char* para) noexcept {
  if (g_observando) g_operacoes.push_back(std::string("rename ") + de);
  static auto real =
      reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
  return real(de, para);
}

namespace quorvel::sdk {
namespace {

std::string Caminho(const std::string& nome) {
  const std::string c = ::testing::TempDir() + "diario_" + std::to_string(::getpid()) + "_" + nome;
  for (const char* sufixo : {"", ".instantaneo", ".danificado", ".tmp"})
    std::remove((c + sufixo).c_str());
  return c;
}

void Escreve(const std::string& caminho, const std::string& conteudo) {
  std::ofstream(caminho, std::ios::binary | std::ios::trunc) << conteudo;
}

// A device and its journal, as the daemon keeps them.
struct Relogio {
  std::shared_ptr<DispositivoVirtual> dispositivo;
  std::unique_ptr<DiarioVirtual> diario;
  std::vector<std::string> relatorio;
  std::shared_ptr<CZKEM> sdk;

  Relogio(const std::string& caminho, EModeloRelogio modelo, OpcoesDiario opcoes = {})
      : dispositivo(std::make_shared<DispositivoVirtual>(modelo)) {
    diario = std::make_unique<DiarioVirtual>(caminho, dispositivo, opcoes, relatorio);
    sdk = CriaSdkVirtualConectado(dispositivo);
  }
};

// Everything a clock holds, as one comparable text.
std::string Estado(const DispositivoVirtual& d) {
  std::ostringstream s;
  for (const auto& u : d.Usuarios())
    s << "u " << u.id << "|" << u.nome << "|" << u.senha << "|" << u.privilegio << "|"
      << u.habilitado << "|" << u.pis << "|" << u.cpf << "\n";
  for (const auto& u : d.Usuarios())
    for (int32_t dedo = 0; dedo <= 9; ++dedo)
      if (auto t = d.TemplateDe(u.id, dedo)) s << "t " << u.id << " " << dedo << " " << *t << "\n";
  for (const auto& m : d.Marcacoes())
    s << "m " << m.cartao << " " << m.modo << " " << m.nsr << " " << m.pis << " "
      << m.momento.Segundos() << "\n";
  for (const auto& f : d.RegistrosFiscais())
    s << "f " << f.nsr << " " << f.tipo << " " << f.momento.Segundos() << " "
      << f.ajustado.Segundos() << " " << (f.operacao ? f.operacao : '-') << " " << f.identificador
      << " " << f.nome << " " << f.empregador.nome << " " << f.empregador.documento << "\n";
  s << "o " << d.Opcao("x").value_or("-") << " e " << d.Empregador().nome << "\n";
  return s.str();
}

TEST(Diario, ATornLastRecordIsCutAndTheNextWriteStartsOnACleanLine) {
  const std::string c = Caminho("rasgado");
  {
    Relogio r(c, EModeloRelogio_Tarvenix);
    for (int i = 0; i < 5; ++i) r.dispositivo->AdicionaRegistro("12034567899");
    r.diario->Sincroniza();
  }
  std::string texto = teste::LeArquivo(c);
  const std::string ultimo = texto.substr(texto.rfind('\n', texto.size() - 2) + 1);
  const size_t metade = ultimo.size() / 2;
  Escreve(c, texto + ultimo.substr(0, metade));  // a record cut mid-write
  {
    Relogio r(c, EModeloRelogio_Tarvenix);
    ASSERT_EQ(r.relatorio.size(), 1u);
    EXPECT_NE(r.relatorio[0].find(std::to_string(metade) + " bytes descartados"), std::string::npos)
        << r.relatorio[0];
    EXPECT_EQ(r.dispositivo->Marcacoes().size(), 5u);
    EXPECT_TRUE(r.sdk->SdkSetUserInfoWithPis(1, "41", "Novo", "", 0, true, "", ""));
    EXPECT_TRUE(r.dispositivo->AdicionaRegistro("12034567899"));
    r.diario->Sincroniza();
  }
  Relogio r(c, EModeloRelogio_Tarvenix);
  EXPECT_TRUE(r.relatorio.empty());
  ASSERT_EQ(r.dispositivo->Usuarios().size(), 1u);
  EXPECT_EQ(r.dispositivo->Usuarios()[0].id, "41");
  const auto log = r.dispositivo->Marcacoes();
  ASSERT_EQ(log.size(), 6u);
  // The employee included took NSR 6 (a fiscal record of its own), the punch after it 7: the
  // numbers go on past the torn record, none used twice, none skipped.
  const auto fiscais = r.dispositivo->RegistrosFiscais();
  ASSERT_EQ(fiscais.size(), 1u);
  EXPECT_EQ(fiscais[0].nsr, 6);
  EXPECT_EQ(fiscais[0].tipo, 5);
  EXPECT_EQ(fiscais[0].operacao, 'I');
  EXPECT_EQ(log.back().nsr, "7");
}

TEST(Diario, DamageInsideTheJournalStopsTheStartUnlessRepaired) {
  const std::string c = Caminho("danificado");
  {
    Relogio r(c, EModeloRelogio_Quorvel);
    for (int i = 1; i <= 4; ++i) r.dispositivo->AdicionaMarcacao(i);
    r.diario->Sincroniza();
  }
  const std::string bom = teste::LeArquivo(c);
  struct Caso {
    std::string danificar, motivo;
  };
  // The journal opens with the clock's identity; the second punch is its third line.
  ASSERT_EQ(bom.find(R"({"t":"id","v":")"), 11u) << bom;
  const size_t segunda = bom.find('\n', bom.find('\n') + 1) + 1;
  for (const Caso& caso : std::vector<Caso>{
           // One character changed inside a line that still parses as JSON.
           {"\"c\":2", "a soma de verificação não confere"},
           {"não é JSON", "registro sem soma de verificação"},
       }) {
    std::string texto = bom;
    if (caso.danificar[0] == '"') {
      const size_t p = texto.find(caso.danificar, segunda);
      texto[p + 4] = '7';
    } else {
      texto.insert(segunda, caso.danificar + "\n");
    }
    Escreve(c, texto);
    try {
      Relogio r(c, EModeloRelogio_Quorvel);
      ADD_FAILURE() << "a damaged journal was served";
    } catch (const ErroDiario& e) {
      const std::string m = e.what();
      EXPECT_NE(m.find(c + ", linha 3 (byte " + std::to_string(segunda) + "): " + caso.motivo),
                std::string::npos)
          << m;
    }
    OpcoesDiario reparar;
    reparar.reparar = true;
    const size_t ficam = caso.danificar[0] == '"' ? 3u : 4u;
    {
      Relogio r(c, EModeloRelogio_Quorvel, reparar);
      EXPECT_EQ(r.relatorio.size(), 1u);
      EXPECT_EQ(r.dispositivo->Marcacoes().size(), ficam);
      EXPECT_NE(teste::LeArquivo(c + ".danificado")
                    .find(caso.danificar[0] == '"' ? "\"c\":7" : caso.danificar),
                std::string::npos);
    }
    // Repaired once: the gap the moved record left is compacted away, so the next start needs
    // no repair and finds the same state.
    {
      Relogio r(c, EModeloRelogio_Quorvel);
      EXPECT_EQ(r.dispositivo->Marcacoes().size(), ficam);
      EXPECT_TRUE(r.relatorio.empty());
    }
    std::remove((c + ".danificado").c_str());
    std::remove((c + ".instantaneo").c_str());
  }
}

// Two clocks' files are never taken as one: each journal opens with its clock's identity,
// kept in the snapshot too, and checked even where the snapshot already holds the records (a
// journal wholly older than another clock's snapshot was once silently skipped).
TEST(Diario, TheFilesOfTwoClocksAreNeverTakenAsOne) {
  const std::string a = Caminho("identidade-a"), b = Caminho("identidade-b");
  std::string identidadeA;
  {
    Relogio r(a, EModeloRelogio_Tarvenix);
    for (int i = 1; i <= 5; ++i)
      r.dispositivo->AdicionaRegistro("12034567899", DataHora::DePartes(2026, 12, 1, 8, i));
    r.diario->Compacta();
    r.dispositivo->AdicionaRegistro("12034567899", DataHora::DePartes(2026, 12, 1, 9, 0));
    r.diario->Sincroniza();
    identidadeA = r.dispositivo->Identidade();
  }
  std::string identidadeB;
  {
    Relogio r(b, EModeloRelogio_Tarvenix);
    for (int i = 1; i <= 2; ++i)
      r.dispositivo->AdicionaRegistro("12034567899", DataHora::DePartes(2026, 12, 2, 8, i));
    r.diario->Sincroniza();
    identidadeB = r.dispositivo->Identidade();
  }
  ASSERT_EQ(identidadeA.size(), 16u);
  ASSERT_NE(identidadeA, identidadeB);
  // Each clock's own pair loads whole and keeps its identity, through a compaction and a
  // restart alike.
  {
    Relogio r(a, EModeloRelogio_Tarvenix);
    EXPECT_EQ(r.dispositivo->Marcacoes().size(), 6u);
    EXPECT_EQ(r.dispositivo->Identidade(), identidadeA);
  }
  const std::string instantaneoA = teste::LeArquivo(a + ".instantaneo"),
                    diarioA = teste::LeArquivo(a), diarioB = teste::LeArquivo(b);
  // A's snapshot (records 1 to 7) beside B's journal (records 1 to 3).
  Escreve(b + ".instantaneo", instantaneoA);
  try {
    Relogio r(b, EModeloRelogio_Tarvenix);
    ADD_FAILURE() << "served another clock's journal with this snapshot";
  } catch (const ErroDiario& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find(b + ".instantaneo é do relógio " + identidadeA + " e " + b +
                     ", linha 1, do relógio " + identidadeB + ": são de relógios diferentes"),
              std::string::npos)
        << m;
  }
  std::remove((b + ".instantaneo").c_str());
  // A journal whose head names another clock than a later part of it.
  Escreve(b, diarioB + diarioA);
  try {
    Relogio r(b, EModeloRelogio_Tarvenix);
    ADD_FAILURE() << "served a journal of two clocks";
  } catch (const ErroDiario& e) {
    EXPECT_NE(std::string(e.what()).find("são de relógios diferentes"), std::string::npos)
        << e.what();
  }
}

TEST(Diario, ASnapshotAndAJournalThatDoNotJoinRefuseTheStartNamingBoth) {
  const std::string c = Caminho("nao-juntam");
  {
    Relogio r(c, EModeloRelogio_Tarvenix);
    for (int i = 1; i <= 3; ++i)
      r.dispositivo->AdicionaRegistro("12034567899", DataHora::DePartes(2026, 12, 1, 8, i));
    r.diario->Sincroniza();
  }
  {
    Relogio r(c, EModeloRelogio_Tarvenix);
    r.diario->Compacta();  // the snapshot now ends where the journal did
    r.dispositivo->AdicionaRegistro("12034567899", DataHora::DePartes(2026, 12, 1, 9, 0));
    r.dispositivo->AdicionaRegistro("12034567899", DataHora::DePartes(2026, 12, 1, 9, 1));
    r.diario->Sincroniza();
  }
  const std::string depois = teste::LeArquivo(c);  // two records past the snapshot
  const std::string instantaneo = teste::LeArquivo(c + ".instantaneo");
  auto recusa = [&](const std::string& trecho) {
    try {
      Relogio r(c, EModeloRelogio_Tarvenix);
      ADD_FAILURE() << "served a state that does not join";
    } catch (const ErroDiario& e) {
      EXPECT_NE(std::string(e.what()).find(trecho), std::string::npos) << e.what();
    }
  };
  // An older snapshot (none at all, here) beside a newer journal: the first records are gone.
  std::remove((c + ".instantaneo").c_str());
  Escreve(c, depois);
  recusa("não há " + c + ".instantaneo e " + c + " continua no registro ");
  // The journal with its first record past the snapshot lost: a gap.
  Escreve(c + ".instantaneo", instantaneo);
  Escreve(c, depois.substr(depois.find('\n') + 1));
  recusa(c + ".instantaneo termina no registro ");
  recusa("os dois não se encaixam");
  // The pair as written loads whole.
  Escreve(c, depois);
  {
    Relogio r(c, EModeloRelogio_Tarvenix);
    EXPECT_EQ(r.dispositivo->Marcacoes().size(), 5u);
  }
  // A snapshot whose checksum is right but whose values no clock can have is damage too.
  {
    DispositivoVirtual d(EModeloRelogio_Tarvenix);
    d.AdicionaRegistro("12034567899",
                       DataHora::DeSegundos(DataHora::DePartes(100, 1, 1).Segundos() - 86400));
    Escreve(c + ".instantaneo", d.Instantaneo(0));
    Escreve(c, "");
    recusa("instantâneo com a data da marcação 1 fora do intervalo");
    Escreve(c + ".instantaneo", instantaneo);
    Escreve(c, depois);
  }
  // A register clock's snapshot is no fingerprint clock's state.
  try {
    Relogio r(c, EModeloRelogio_Quorvel);
    ADD_FAILURE() << "a register clock's snapshot was loaded into a fingerprint clock";
  } catch (const ErroDiario& e) {
    EXPECT_NE(std::string(e.what()).find("instantâneo de um relógio de outro modelo"),
              std::string::npos)
        << e.what();
  }
}

// A repair takes damaged records out; one of them may have been a punch a collector already
// stored. Its NSR is never issued again (a gap instead of a repeat), whether the numbers come
// from the journal or from a snapshot; a clean restart keeps the numbering without a gap.
TEST(Diario, ACompactionThatFailsChangesNothingAndIsToldOnce) {
  const std::string c = Caminho("compactacao-falha");
  OpcoesDiario o;
  o.compactarApos = 1;
  o.falharEscritaApos = 3;  // the disk is full from the fourth write on
  {
    Relogio r(c, EModeloRelogio_Quorvel, o);
    for (int i = 1; i <= 3; ++i) r.dispositivo->AdicionaMarcacao(i);
    r.diario->Sincroniza();
    EXPECT_FALSE(r.diario->CompactaSeConvem());
    const auto avisos = r.diario->TomaAvisos();
    ASSERT_EQ(avisos.size(), 1u);
    EXPECT_NE(avisos[0].find("a compactação falhou e o diário segue"), std::string::npos)
        << avisos[0];
    // Told once: the next try waits, and says nothing meanwhile.
    EXPECT_FALSE(r.diario->CompactaSeConvem());
    EXPECT_TRUE(r.diario->TomaAvisos().empty());
    EXPECT_FALSE(std::ifstream(c + ".instantaneo").good());
    EXPECT_FALSE(std::ifstream(c + ".instantaneo.tmp").good());
    EXPECT_EQ(r.dispositivo->Marcacoes().size(), 3u);
  }
  // Everything is still in the journal at the next start.
  Relogio r(c, EModeloRelogio_Quorvel);
  EXPECT_EQ(r.dispositivo->Marcacoes().size(), 3u);
  EXPECT_TRUE(r.relatorio.empty());
}

TEST(Diario, ARepairNeverIssuesAnNsrAgain) {
  for (bool compactado : {false, true}) {
    SCOPED_TRACE(compactado ? "instantâneo" : "diário");
    const std::string c = Caminho(compactado ? "nsr_instantaneo" : "nsr_diario");
    {
      Relogio r(c, EModeloRelogio_Tarvenix);
      for (int i = 0; i < 3; ++i) r.dispositivo->AdicionaRegistro("12034567899");
      if (compactado) r.diario->Compacta();
      for (int i = 0; i < 2; ++i) r.dispositivo->AdicionaRegistro("12034567899");
      r.diario->Sincroniza();
    }
    {
      Relogio r(c, EModeloRelogio_Tarvenix);  // a clean restart: 6 follows 5
      ASSERT_EQ(r.dispositivo->Marcacoes().back().nsr, "5");
    }
    std::string texto = teste::LeArquivo(c);
    const size_t ultima = texto.rfind("\"n\":\"5\"");
    ASSERT_NE(ultima, std::string::npos);
    texto[ultima + 5] = '4';  // NSR 5's record no longer matches its checksum
    Escreve(c, texto);
    OpcoesDiario reparar;
    reparar.reparar = true;
    Relogio r(c, EModeloRelogio_Tarvenix, reparar);
    ASSERT_EQ(r.dispositivo->Marcacoes().back().nsr, "4");
    ASSERT_TRUE(r.dispositivo->AdicionaRegistro("12034567899"));
    const int64_t novo = std::stoll(r.dispositivo->Marcacoes().back().nsr);
    EXPECT_GT(novo, 5);
    EXPECT_LE(novo, 1 + DispositivoVirtual::kReservaNsr);
    EXPECT_NE(r.relatorio.back().find("a próxima marcação terá NSR " + std::to_string(novo)),
              std::string::npos)
        << r.relatorio.back();
  }
}

TEST(Diario, ValuesOutOfRangeAreDamageNotUndefinedBehaviour) {
  const std::string c = Caminho("fora");
  for (const std::string registro :
       {R"({"t":"m","c":1,"o":1,"e":0,"n":"","p":"","s":1e30,"x":false})",
        R"({"t":"m","c":1,"o":1,"e":0,"n":"","p":"","s":18446744073709551615,"x":false})",
        R"({"t":"m","c":1,"o":1,"e":0,"n":"","p":"","s":-9223372036854775807,"x":false})",
        R"({"t":"m","c":99999999999,"o":1,"e":0,"n":"","p":"","s":3900000000,"x":false})",
        R"({"t":"m","c":1,"o":1,"e":0,"n":"x1","p":"","s":3900000000,"x":false})",
        R"({"t":"tp","id":"1","d":12,"v":"V10:AAAA"})", R"({"t":"zz"})"}) {
    Escreve(c, registro + "\n");
    EXPECT_THROW(Relogio(c, EModeloRelogio_Quorvel), ErroDiario) << registro;
  }
}

TEST(Diario, ARefusedWriteOrTextThatIsNotUtf8ChangesNothing) {
  const std::string c = Caminho("recusa");
  OpcoesDiario falha;
  falha.falharEscritaApos = 1;
  Relogio r(c, EModeloRelogio_Quorvel, falha);
  EXPECT_TRUE(r.sdk->SdkSetUserInfo(1, 1, "Ana", "", 0, true));  // the one write allowed
  EXPECT_FALSE(r.sdk->SdkSetUserInfo(1, 2, "Bia", "", 0, true));
  int32_t erro = 0;
  r.sdk->SdkGetLastError(erro);
  EXPECT_EQ(erro, codigo::kFalhaGravacao);
  EXPECT_FALSE(r.sdk->SdkDeleteEnrollData(1, 1, 1, 0));
  EXPECT_FALSE(r.sdk->SdkClearLogs(1));
  EXPECT_FALSE(r.dispositivo->AdicionaMarcacao(1));
  EXPECT_EQ(r.dispositivo->Usuarios().size(), 1u);  // neither added nor deleted
  EXPECT_TRUE(r.dispositivo->Marcacoes().empty());

  const std::string c2 = Caminho("utf8");
  Relogio u(c2, EModeloRelogio_Quorvel);
  EXPECT_FALSE(u.sdk->SdkSetUserInfo(1, 7, "Jo\xe3o", "", 0, true));  // Latin-1
  u.sdk->SdkGetLastError(erro);
  EXPECT_EQ(erro, codigo::kArgumentoInvalido);
  EXPECT_TRUE(u.dispositivo->Usuarios().empty());
  EXPECT_TRUE(u.sdk->SdkSetUserInfo(1, 7, "João", "", 0, true));
}

TEST(Diario, SnapshotAndTailLoadTheSameStateAsTheWholeHistory) {
  const std::string c = Caminho("instantaneo");
  std::string antes;
  {
    OpcoesDiario o;
    o.compactarApos = 2000;  // compacts several times along the way
    Relogio r(c, EModeloRelogio_Tarvenix, o);
    for (int i = 0; i < 60; ++i) {
      r.dispositivo->AdicionaRegistro("12034567899");
      r.sdk->SdkSetCardNumber("77");
      r.sdk->SdkSetUserInfoWithPis(1, std::to_string(i % 7), "Nome " + std::to_string(i), "1",
                                   i % 3, true, "12034567899", "52998224725");
      if (i % 5 == 0)
        r.sdk->SdkSetUserTemplateByTextId(1, std::to_string(i % 7), i % 10, 1, "QUJD");
      if (i % 11 == 0) r.sdk->SdkDeleteEnrollDataByTextId(1, std::to_string(i % 7), 12);
      if (i == 30) r.sdk->SdkSetEmployer(1, "Acme", 0, "11222333000181", "", "");
      r.diario->Sincroniza();
      r.diario->CompactaSeConvem();
    }
    EXPECT_TRUE(std::ifstream(c + ".instantaneo").good());
    EXPECT_LT(r.diario->TamanhoDoDiario(), 2500u);
    antes = Estado(*r.dispositivo);
  }
  Relogio r(c, EModeloRelogio_Tarvenix);
  EXPECT_EQ(Estado(*r.dispositivo), antes);
  // Punches and fiscal records share one sequence, every number used once, and it goes on.
  std::set<int64_t> numeros;
  for (const auto& m : r.dispositivo->Marcacoes())
    EXPECT_TRUE(numeros.insert(std::stoll(m.nsr)).second);
  for (const auto& f : r.dispositivo->RegistrosFiscais()) EXPECT_TRUE(numeros.insert(f.nsr).second);
  ASSERT_FALSE(numeros.empty());
  EXPECT_EQ(*numeros.begin(), 1);
  EXPECT_EQ(*numeros.rbegin(), static_cast<int64_t>(numeros.size()));
  EXPECT_GT(r.dispositivo->RegistrosFiscais().size(),
            60u);  // inclusions, changes, removals, employer
  EXPECT_TRUE(r.dispositivo->AdicionaRegistro("12034567899"));
  EXPECT_EQ(r.dispositivo->Marcacoes().back().nsr, std::to_string(numeros.size() + 1));
}

// A file replaced by a rename is on the disk before the rename makes it the file: otherwise a
// power cut can leave the new name on an empty or partial file.
TEST(Diario, EveryReplacementIsSyncedBeforeItIsRenamedIn) {
  const std::string c = Caminho("sincronia");
  Relogio r(c, EModeloRelogio_Quorvel);
  for (int i = 0; i < 10; ++i) r.dispositivo->AdicionaMarcacao(i);
  r.diario->Sincroniza();
  g_operacoes.clear();
  g_observando = true;
  r.diario->Compacta();
  g_observando = false;
  int renomeados = 0;
  for (size_t i = 0; i < g_operacoes.size(); ++i) {
    if (!g_operacoes[i].starts_with("rename ")) continue;
    ++renomeados;
    const std::string arquivo = g_operacoes[i].substr(7);
    bool sincronizado = false;
    for (size_t j = 0; j < i; ++j)
      sincronizado = sincronizado || g_operacoes[j] == "fsync " + arquivo;
    EXPECT_TRUE(sincronizado) << arquivo << " renomeado sem fsync antes";
  }
  EXPECT_GE(renomeados, 1);
}

TEST(Diario, ACrashBetweenTheSnapshotAndTheNewJournalDoublesNothing) {
  const std::string c = Caminho("meio");
  std::string antes, diarioAntigo;
  {
    Relogio r(c, EModeloRelogio_Quorvel);
    for (int i = 0; i < 10; ++i) r.dispositivo->AdicionaMarcacao(i);
    r.diario->Sincroniza();
    diarioAntigo = teste::LeArquivo(c);
    r.diario->Compacta();
    antes = Estado(*r.dispositivo);
  }
  Escreve(c, diarioAntigo);  // the snapshot was renamed in, the journal not yet replaced
  Escreve(c + ".tmp", "meio");
  Relogio r(c, EModeloRelogio_Quorvel);
  EXPECT_EQ(Estado(*r.dispositivo), antes);
  EXPECT_FALSE(std::ifstream(c + ".tmp").good());

  // A cleared log compacts at once: the next start loads nothing of it.
  EXPECT_TRUE(r.sdk->SdkClearLogs(1));
  r.diario->Sincroniza();
  EXPECT_TRUE(r.diario->CompactaSeConvem());
  EXPECT_EQ(teste::LeArquivo(c), "");
}

}  // namespace
}  // namespace quorvel::sdk
