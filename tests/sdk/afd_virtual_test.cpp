// The virtual register clock's own fiscal file, read part by part through its SDK object as any
// host reads it: every record the clock keeps, in one NSR sequence, as a checker reads it.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "afd/afd.h"
#include "quorvel/sdk/fonte_afd.h"
#include "quorvel/sdk/relogio_virtual.h"

namespace quorvel {
namespace {

using sdk::DispositivoVirtual;
using sdk::RedeVirtual;

const std::string kPisAna = "12034567899", kCpfAna = "52998224725",
                  kCpfAnaCorrigido = "11144477735";

class AfdDoRelogio : public ::testing::Test {
 protected:
  AfdDoRelogio() {
    d_->DefineFonteDeTempo([this] { return agora_; });
    d_->DefineIdentificacaoRep({"00004000010000123", "T1", "11222333000181", "39053344705", -180});
    RedeVirtual::Instancia().Publica("10.9.0.1", 4370, d_);
    EXPECT_TRUE(sdk_->SdkConnectNetwork("10.9.0.1", 4370));
  }
  ~AfdDoRelogio() override { RedeVirtual::Instancia().Limpa(); }

  // Punches on the clock's time, a second apart (tens of thousands fit in a day).
  void Marca(const std::string& pis, int n = 1) {
    for (int i = 0; i < n; ++i) {
      agora_ = DataHora::DeSegundos(agora_.Segundos() + 1);
      ASSERT_TRUE(d_->AdicionaRegistro(pis));
    }
  }
  void Dia(int32_t dia) { agora_ = DataHora::DePartes(2026, 3, dia, 8, 0, 0); }

  // The whole file as lines (without CR LF); `entreAsPartes` runs after each part.
  std::vector<std::string> Le(int32_t de = 0, int32_t ate = 0,
                              const std::function<void()>& entreAsPartes = {}) {
    auto& fonte = dynamic_cast<sdk::FonteDoAfd&>(*sdk_);
    std::string texto;
    partes_ = 0;
    EXPECT_TRUE(sdk::LeAfd(fonte, de, ate, [&](std::string_view parte) {
      texto += parte;
      ++partes_;
      if (entreAsPartes) entreAsPartes();
    }));
    std::vector<std::string> linhas;
    size_t inicio = 0;
    for (size_t p; (p = texto.find("\r\n", inicio)) != std::string::npos; inicio = p + 2)
      linhas.push_back(texto.substr(inicio, p - inicio));
    EXPECT_EQ(inicio, texto.size()) << "texto depois da última linha";
    return linhas;
  }

  DataHora agora_ = DataHora::DePartes(2026, 3, 2, 8, 0, 0);
  std::shared_ptr<DispositivoVirtual> d_ =
      std::make_shared<DispositivoVirtual>(EModeloRelogio_Tarvenix);
  std::shared_ptr<CZKEM> sdk_ = sdk::FabricaVirtual()();
  int partes_ = 0;
};

// What an inspector's checker looks at in each line: its length for its type, its CRC-16/MODBUS,
// NSRs rising by one across every type, and a trailer counting each type.
void ConfereComoUmFiscal(const std::vector<std::string>& linhas, std::map<char, size_t>& tipos) {
  static const std::map<char, size_t> kTamanho = {{'2', 331}, {'3', 50}, {'4', 73}, {'5', 118}};
  ASSERT_GE(linhas.size(), 2u);
  ASSERT_EQ(linhas.front().size(), 302u);
  EXPECT_EQ(linhas.front().substr(0, 10), "0000000001");
  int64_t anterior = 0;
  for (size_t i = 0; i + 1 < linhas.size(); ++i) {
    const std::string& l = linhas[i];
    const char tipo = l[9];
    if (i > 0) {
      ASSERT_TRUE(kTamanho.count(tipo)) << l;
      ASSERT_EQ(l.size(), kTamanho.at(tipo)) << l;
      const int64_t nsr = std::stoll(l.substr(0, 9));
      EXPECT_GT(nsr, anterior) << l;
      anterior = nsr;
      ++tipos[tipo];
    }
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", afd::Crc16Modbus(l.substr(0, l.size() - 4)));
    EXPECT_EQ(l.substr(l.size() - 4), crc) << "linha " << i << ": " << l;
  }
  const std::string& t = linhas.back();
  ASSERT_EQ(t.size(), 64u);
  EXPECT_EQ(t.substr(0, 9), "999999999");
  EXPECT_EQ(t.back(), '9');
  const char ordem[] = {'2', '3', '4', '5'};
  for (size_t k = 0; k < 4; ++k) {
    const auto n = tipos.find(ordem[k]);
    EXPECT_EQ(std::stoull(t.substr(9 + 9 * k, 9)), n == tipos.end() ? 0 : n->second)
        << "tipo " << ordem[k];
  }
  EXPECT_EQ(t.substr(45, 18), std::string(18, '0'));  // no events, no REP-P punches
}

TEST_F(AfdDoRelogio, HoldsEveryRecordTypeInOneNsrSequenceWithItsCrcAndTheCpfOfItsTime) {
  ASSERT_TRUE(sdk_->SdkSetUserInfoWithPis(1, "1", "Ana Souza", "", 0, true, kPisAna, kCpfAna));
  Marca(kPisAna, 2);
  ASSERT_TRUE(sdk_->SdkSetEmployer(1, "Padaria São João", 0, "11222333000181", "", "Rua A, 1"));
  ASSERT_TRUE(sdk_->SdkSetDeviceTime(1, 2026, 3, 2, 9, 30, 0));
  agora_ = DataHora::DePartes(2026, 3, 2, 9, 30, 0);
  ASSERT_TRUE(
      sdk_->SdkSetEmployer(1, "Padaria São João Ltda", 0, "11222333000181", "", "Rua A, 1"));
  // The CPF corrected on the clock: punches before keep the old one, punches after the new.
  ASSERT_TRUE(
      sdk_->SdkSetUserInfoWithPis(1, "1", "Ana Souza", "", 0, true, kPisAna, kCpfAnaCorrigido));
  Marca(kPisAna, 2);
  // An employee with a CPF and no PIS: the clock records the CPF itself.
  ASSERT_TRUE(sdk_->SdkSetUserInfoWithPis(1, "2", "Bruno Lima", "", 0, true, "", "27100251834"));
  Marca("27100251834");
  ASSERT_TRUE(sdk_->SdkDeleteEnrollDataByTextId(1, "2", 12));
  Marca(kPisAna);

  const auto linhas = Le();
  std::map<char, size_t> tipos;
  ConfereComoUmFiscal(linhas, tipos);
  EXPECT_EQ(tipos, (std::map<char, size_t>{{'2', 2}, {'3', 6}, {'4', 1}, {'5', 4}}));
  // Every NSR the clock issued is here, one after the other: no record type is left out.
  for (size_t i = 1; i + 1 < linhas.size(); ++i)
    EXPECT_EQ(std::stoll(linhas[i].substr(0, 9)), static_cast<long long>(i)) << linhas[i];

  // The header: employer from the clock's last employer record, the clock's own data.
  const std::string& h = linhas.front();
  EXPECT_EQ(h.substr(10, 15), "111222333000181");
  EXPECT_EQ(h.substr(39, 21), "Padaria S\xE3o Jo\xE3o Ltda");
  EXPECT_EQ(h.substr(189, 17), "00004000010000123");
  EXPECT_EQ(h.substr(206, 20), "2026-03-022026-03-02");
  EXPECT_EQ(h.substr(250, 18), "003111222333000181");
  EXPECT_EQ(h.substr(268, 2), "T1");

  std::vector<std::string> cpfs;
  for (const auto& l : linhas)
    if (l[9] == '3') cpfs.push_back(l.substr(34, 12));
  EXPECT_EQ(cpfs, (std::vector<std::string>{kCpfAna + " ", kCpfAna + " ", kCpfAnaCorrigido + " ",
                                            kCpfAnaCorrigido + " ", "27100251834 ",
                                            kCpfAnaCorrigido + " "}));
  // Type 4: the time before and after the set, and who set it; type 5: the operation.
  const std::string& ajuste = linhas[5];
  ASSERT_EQ(ajuste[9], '4');
  EXPECT_EQ(ajuste.substr(10, 24), "2026-03-02T08:00:00-0300");
  EXPECT_EQ(ajuste.substr(34, 24), "2026-03-02T09:30:00-0300");
  EXPECT_EQ(ajuste.substr(58, 11), "39053344705");
  std::string operacoes;
  for (const auto& l : linhas)
    if (l[9] == '5') operacoes += l[34];
  EXPECT_EQ(operacoes, "IAIE");
}

// Sample employees are set up with no record of their own: their punches carry their CPF while
// they are on the clock, and once they are removed the CPF their removal record names.
TEST_F(AfdDoRelogio, AnEmployeeWithoutARecordOfTheirOwnIsNamedByCpfEvenOnceRemoved) {
  sdk::UsuarioVirtual u;
  u.id = "5";
  u.nome = "Elisa Rocha";
  u.pis = kPisAna;
  u.cpf = kCpfAna;
  d_->AdicionaUsuario(u);
  Marca(kPisAna);
  const auto antes = Le();
  ASSERT_EQ(antes.size(), 3u);
  EXPECT_EQ(antes[1].substr(34, 12), kCpfAna + " ");
  ASSERT_TRUE(sdk_->SdkDeleteEnrollDataByTextId(1, "5", 12));
  const auto depois = Le();
  ASSERT_EQ(depois.size(), 4u);
  EXPECT_EQ(depois[1].substr(34, 12), kCpfAna + " ");
  EXPECT_EQ(depois[2].substr(34, 13), "E" + kCpfAna + " ");
}

TEST_F(AfdDoRelogio, ALargeFileComesInPartsFixedAtItsStartAndAPeriodTakesItsOwnDays) {
  Dia(2);
  Marca(kPisAna, 30000);
  Dia(3);
  ASSERT_TRUE(sdk_->SdkSetEmployer(1, "Acme", 0, "11222333000181", "", ""));
  Marca(kPisAna, 30000);
  Dia(4);
  Marca(kPisAna, 10);

  // Punches arriving while the file is read stay out of it: its end was fixed by the first part.
  int chegadas = 0;
  const auto linhas = Le(0, 0, [&] {
    ++chegadas;
    Marca(kPisAna);
  });
  EXPECT_GE(partes_, 3);
  std::map<char, size_t> tipos;
  ConfereComoUmFiscal(linhas, tipos);
  EXPECT_EQ(tipos['3'], 60010u);
  EXPECT_EQ(tipos['2'], 1u);
  EXPECT_EQ(linhas.size(), 60011u + 2u);

  // A day: its own records only, the header's dates and the trailer's counts its own.
  const auto dia3 = Le(20260303, 20260303);
  std::map<char, size_t> doDia;
  ConfereComoUmFiscal(dia3, doDia);
  EXPECT_EQ(doDia, (std::map<char, size_t>{{'2', 1}, {'3', 30000}}));
  EXPECT_EQ(dia3.front().substr(206, 20), "2026-03-032026-03-03");
  EXPECT_EQ(dia3[1].substr(0, 9), "000030001");
  EXPECT_EQ(dia3[1][9], '2');
  EXPECT_EQ(Le(20260310, 0).size(), 2u);  // nothing after: the header and the trailer
}

// Summer time: the clock moves its own time at the period's start and end and records each move
// (type 4) before anything made after it, each side in the offset in force on it; its punches in
// summer say -0200. A journal replayed and a snapshot loaded know where the clock stands.
TEST_F(AfdDoRelogio, SummerTimeMovesTheClockAndIsRecordedAtItsStartAndEnd) {
  std::vector<std::string> diario;
  d_->DefineDiario([&](const std::string& registros) {
    for (size_t inicio = 0, fim; inicio < registros.size(); inicio = fim + 1) {
      fim = registros.find('\n', inicio);
      if (fim == std::string::npos) fim = registros.size();
      diario.push_back(registros.substr(inicio, fim - inicio));
    }
  });
  const auto hora = [&] {
    int32_t a, me, di, h, mi, s;
    EXPECT_TRUE(sdk_->SdkGetDeviceTime(1, a, me, di, h, mi, s));
    return DataHora::DePartes(a, me, di, h, mi, s);
  };
  agora_ = DataHora::DePartes(2026, 10, 17, 23, 59, 0);
  ASSERT_TRUE(sdk_->SdkSetSysOption(1, "DaylightSavingTimeOn", "1"));
  ASSERT_TRUE(sdk_->SdkSetDaylight(1, 1, "10180000", "02210000"));
  EXPECT_EQ(hora(), agora_);  // not yet: nothing recorded
  Marca(kPisAna);
  agora_ = DataHora::DePartes(2026, 10, 18, 0, 30, 0);
  EXPECT_EQ(hora(), DataHora::DePartes(2026, 10, 18, 1, 30, 0));
  Marca(kPisAna);
  // The time set within the period is the time the clock shows; the clock runs that far ahead
  // of its time source from then on.
  ASSERT_TRUE(sdk_->SdkSetDeviceTime(1, 2026, 11, 10, 10, 0, 0));
  EXPECT_EQ(hora(), DataHora::DePartes(2026, 11, 10, 10, 0, 0));
  const int64_t adiante = DataHora::DePartes(2026, 11, 10, 9, 0, 0).Segundos() - agora_.Segundos();
  const auto naFonte = [&](DataHora padrao) {
    return DataHora::DeSegundos(padrao.Segundos() - adiante);
  };
  // Past the end (00:00 of 21 February on summer time, 23:00 of the 20th on standard time).
  agora_ = naFonte(DataHora::DePartes(2027, 2, 20, 23, 30, 0));
  EXPECT_EQ(hora(), DataHora::DePartes(2027, 2, 20, 23, 30, 0));
  Marca(kPisAna);

  const auto linhas = Le();
  std::map<char, size_t> tipos;
  ConfereComoUmFiscal(linhas, tipos);
  EXPECT_EQ(tipos, (std::map<char, size_t>{{'3', 3}, {'4', 3}}));
  std::vector<std::string> registros;
  for (size_t i = 1; i + 1 < linhas.size(); ++i) {
    EXPECT_EQ(std::stoll(linhas[i].substr(0, 9)), static_cast<long long>(i)) << linhas[i];
    registros.push_back(linhas[i].substr(9, linhas[i][9] == '4' ? 49 : 25));
  }
  EXPECT_EQ(registros, (std::vector<std::string>{
                           "32026-10-17T23:59:00-0300",
                           "42026-10-18T00:00:00-03002026-10-18T01:00:00-0200",
                           "32026-10-18T01:30:00-0200",
                           "42026-10-18T01:30:00-02002026-11-10T10:00:00-0200",
                           "42027-02-21T00:00:00-02002027-02-20T23:00:00-0300",
                           "32027-02-20T23:30:00-0300",
                       }));

  // The same clock from its journal, and from its snapshot: the same file, and the next move
  // (summer time starting again in October) recorded once.
  const auto mesmoRelogio = [&](const std::function<void(DispositivoVirtual&)>& carrega) {
    auto outro = std::make_shared<DispositivoVirtual>(EModeloRelogio_Tarvenix);
    outro->DefineFonteDeTempo([this] { return agora_; });
    outro->DefineIdentificacaoRep(
        {"00004000010000123", "T1", "11222333000181", "39053344705", -180});
    carrega(*outro);
    RedeVirtual::Instancia().Publica("10.9.0.3", 4370, outro);
    auto sdk = sdk::FabricaVirtual()();
    EXPECT_TRUE(sdk->SdkConnectNetwork("10.9.0.3", 4370));
    std::swap(sdk_, sdk);
    const auto deNovo = Le();
    std::swap(sdk_, sdk);
    EXPECT_EQ(deNovo, linhas);
    return outro;
  };
  mesmoRelogio([&](DispositivoVirtual& o) {
    for (const auto& r : diario) EXPECT_TRUE(o.Reaplica(r)) << r;
  });
  const auto doInstantaneo =
      mesmoRelogio([&](DispositivoVirtual& o) { o.CarregaInstantaneo(d_->Instantaneo(0)); });
  agora_ = naFonte(DataHora::DePartes(2027, 10, 18, 8, 0, 0));
  ASSERT_TRUE(doInstantaneo->AdicionaRegistro(kPisAna));
  ASSERT_TRUE(doInstantaneo->AdicionaRegistro(kPisAna));
  const auto fiscais = doInstantaneo->RegistrosFiscais();
  ASSERT_EQ(fiscais.size(), 4u);
  EXPECT_EQ(fiscais.back().momento, DataHora::DePartes(2027, 10, 18, 0, 0, 0));
  EXPECT_EQ(doInstantaneo->Marcacoes().back().momento, DataHora::DePartes(2027, 10, 18, 9, 0, 0));
}

// A period set while it is already in force moves the time at once; cleared, back at once. A
// fingerprint clock moves its time the same way and records nothing.
TEST_F(AfdDoRelogio, APeriodSetOrClearedWithinItMovesTheTimeAtOnce) {
  agora_ = DataHora::DePartes(2026, 12, 9, 10, 0, 0);
  ASSERT_TRUE(sdk_->SdkSetDaylight(1, 1, "10180000", "02210000"));
  EXPECT_TRUE(d_->RegistrosFiscais().empty());  // the register clock's option is still off
  ASSERT_TRUE(sdk_->SdkSetSysOption(1, "DaylightSavingTimeOn", "1"));
  EXPECT_EQ(d_->Agora(), DataHora::DePartes(2026, 12, 9, 11, 0, 0));
  agora_ = DataHora::DePartes(2026, 12, 9, 10, 20, 0);
  ASSERT_TRUE(sdk_->SdkSetSysOption(1, "DaylightSavingTimeOn", "0"));
  EXPECT_EQ(d_->Agora(), agora_);
  const auto fiscais = d_->RegistrosFiscais();
  ASSERT_EQ(fiscais.size(), 2u);
  EXPECT_EQ(fiscais[0].momento, DataHora::DePartes(2026, 12, 9, 10, 0, 0));
  EXPECT_EQ(fiscais[0].ajustado, DataHora::DePartes(2026, 12, 9, 11, 0, 0));
  EXPECT_EQ(fiscais[1].momento, DataHora::DePartes(2026, 12, 9, 11, 20, 0));
  EXPECT_EQ(fiscais[1].ajustado, DataHora::DePartes(2026, 12, 9, 10, 20, 0));

  auto digital = std::make_shared<DispositivoVirtual>(EModeloRelogio_Quorvel);
  digital->DefineFonteDeTempo([this] { return agora_; });
  RedeVirtual::Instancia().Publica("10.9.0.2", 4370, digital);
  auto outro = sdk::FabricaVirtual()();
  ASSERT_TRUE(outro->SdkConnectNetwork("10.9.0.2", 4370));
  ASSERT_TRUE(outro->SdkSetDaylight(1, 1, "10180000", "02210000"));
  EXPECT_EQ(digital->Agora(), DataHora::DePartes(2026, 12, 9, 11, 20, 0));
  ASSERT_TRUE(outro->SdkSetDaylight(1, 0, "00000000", "00000000"));
  EXPECT_EQ(digital->Agora(), agora_);
  // A period from a 29 February starts, in a year without one, on the 28th.
  ASSERT_TRUE(outro->SdkSetDaylight(1, 1, "02290000", "10010000"));
  agora_ = DataHora::DePartes(2027, 2, 27, 23, 0, 0);
  EXPECT_EQ(digital->Agora(), agora_);
  agora_ = DataHora::DePartes(2027, 2, 28, 0, 30, 0);
  EXPECT_EQ(digital->Agora(), DataHora::DePartes(2027, 2, 28, 1, 30, 0));
  agora_ = DataHora::DePartes(2028, 2, 28, 0, 30, 0);
  EXPECT_EQ(digital->Agora(), agora_);
}

TEST_F(AfdDoRelogio, AFingerprintClockAndABadPeriodAreRefusedWithTheirReason) {
  sdk::ParteAfd parte;
  auto& fonte = dynamic_cast<sdk::FonteDoAfd&>(*sdk_);
  int32_t erro = 0;
  EXPECT_FALSE(fonte.LeParteDoAfd({.de = 20260231}, parte));
  sdk_->SdkGetLastError(erro);
  EXPECT_EQ(erro, sdk::codigo::kArgumentoInvalido);
  EXPECT_FALSE(fonte.LeParteDoAfd({.de = 20260305, .ate = 20260304}, parte));

  auto digital = std::make_shared<DispositivoVirtual>(EModeloRelogio_Quorvel);
  RedeVirtual::Instancia().Publica("10.9.0.2", 4370, digital);
  auto outro = sdk::FabricaVirtual()();
  ASSERT_TRUE(outro->SdkConnectNetwork("10.9.0.2", 4370));
  EXPECT_FALSE(dynamic_cast<sdk::FonteDoAfd&>(*outro).LeParteDoAfd({}, parte));
  outro->SdkGetLastError(erro);
  EXPECT_EQ(erro, sdk::codigo::kNaoSuportado);
}

}  // namespace
}  // namespace quorvel
