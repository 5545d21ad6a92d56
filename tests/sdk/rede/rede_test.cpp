// The clock protocol and the network backend: codec, decoder, handshake, every operation
// across processes, lost links, a wrong key, durability across a crash, a serial line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "quorvel/comunicacao_zk.h"
#include "quorvel/erro.h"
#include "quorvel/event_loop.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "quorvel/sdk/sdk_rede.h"
#include "sdk/protocol/protocol.h"
#include "sdk/protocol/prova.h"
#include "sdk/servidor.h"
#include "support/controle_rede.h"
#include "support/daemon.h"
#include "support/funcionarios.h"

namespace quorvel {
namespace {

using namespace protocol;
using teste::Daemon;

TEST(Protocolo, FramesRoundTripInAnyChunking) {
  const std::string a = Codifica({0x21, 7, std::string("abc\0def", 7)});
  const std::string b = Codifica({kOla, 8, std::string()});
  const std::string fluxo = a + b;
  for (size_t passo : {size_t{1}, size_t{3}, fluxo.size()}) {
    Decodificador d;
    std::vector<Quadro> quadros;
    for (size_t i = 0; i < fluxo.size(); i += passo) {
      d.Alimenta(fluxo.data() + i, std::min(passo, fluxo.size() - i));
      while (auto f = d.Proximo()) quadros.push_back(*f);
    }
    ASSERT_EQ(quadros.size(), 2u);
    EXPECT_EQ(quadros[0].op, 0x21);
    EXPECT_EQ(quadros[0].id, 7u);
    EXPECT_EQ(quadros[0].carga, std::string("abc\0def", 7));
    EXPECT_EQ(quadros[1].carga, "");
    EXPECT_EQ(d.Acumulados(), 0u);
  }
  EXPECT_EQ(Crc32c("123456789", 9), 0xE3069283u);  // the standard check value
}

TEST(Protocolo, ReadAheadAndSubscriptionFramesAnswerOrRefuseCleanly) {
  auto d = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Quorvel);
  ASSERT_TRUE(d->AdicionaMarcacao(1, 1));
  SessaoServidor s(d, "");
  auto resposta = [](const std::string& bytes) {
    Decodificador dec;
    dec.Alimenta(bytes.data(), bytes.size());
    return *dec.Proximo();
  };
  Escritor hello;
  hello.U8(kVersaoDoProtocolo);
  hello.Bytes(std::string(16, 'n'));
  ASSERT_EQ(resposta(s.Responde({kOla, 1, hello.Dados()})).op, kOla | kBitDeResposta);
  EXPECT_TRUE(s.Aviso(true).empty()) << "no push before a subscription";

  Quadro r = resposta(s.Responde({kAssinatura, 2, {}}));
  ASSERT_EQ(r.op, kAssinatura | kBitDeResposta);
  EXPECT_EQ(r.id, 2u);
  Leitor sr(r.carga);
  sr.I32();
  sr.I32();
  EXPECT_EQ(sr.I32(), 1);  // one punch in the log
  EXPECT_TRUE(s.Aviso(false).empty()) << "nothing changed";
  ASSERT_TRUE(d->AdicionaMarcacao(2, 1));
  Quadro p = resposta(s.Aviso(false));
  EXPECT_EQ(p.id, 0u);
  Leitor pr(p.carga);
  pr.I32();
  pr.I32();
  EXPECT_EQ(pr.I32(), 2);
  EXPECT_FALSE(s.Aviso(true).empty()) << "the heartbeat";
  EXPECT_EQ(Leitor(resposta(s.Responde({kAssinatura, 3, "x"})).carga).I32(),
            protocol::codigo::kPedidoMalformado);

  // Read-ahead: only template reads, a sane count, arguments of the operation's types.
  Escritor certa;
  certa.U8(CodigoDe("SdkGetUserTemplate"));
  certa.I32(2);
  for (int32_t dedo : {0, 1}) {
    certa.U8(5);
    for (const Valor& v : std::vector<Valor>{1, 1, dedo, std::string(), 0}) certa.ValorTipado(v);
  }
  r = resposta(s.Responde({kLeituraAntecipada, 4, certa.Dados()}));
  ASSERT_EQ(r.op, kLeituraAntecipada | kBitDeResposta);
  Leitor rr(r.carga);
  EXPECT_EQ(rr.I32(), 2);
  EXPECT_EQ(rr.U8(), 0);  // no such user: false, with the clock's last error
  EXPECT_NE(rr.I32(), 0);
  Escritor escrita;
  escrita.U8(CodigoDe("SdkSetUserTemplate"));
  escrita.I32(1);
  EXPECT_EQ(Leitor(resposta(s.Responde({kLeituraAntecipada, 5, escrita.Dados()})).carga).I32(),
            protocol::codigo::kPedidoMalformado);
  Escritor demais;
  demais.U8(CodigoDe("SdkGetUserTemplate"));
  demais.I32(1 << 20);
  EXPECT_EQ(Leitor(resposta(s.Responde({kLeituraAntecipada, 6, demais.Dados()})).carga).I32(),
            protocol::codigo::kPedidoMalformado);
  Escritor tipos;
  tipos.U8(CodigoDe("SdkGetUserTemplate"));
  tipos.I32(1);
  tipos.U8(1);
  tipos.ValorTipado(std::string("x"));
  EXPECT_EQ(Leitor(resposta(s.Responde({kLeituraAntecipada, 7, tipos.Dados()})).carga).I32(),
            protocol::codigo::kPedidoMalformado);
}

TEST(Protocolo, DecoderRejectsMalformedInput) {
  const std::string bom = Codifica({0x20, 1, "payload"});
  auto rejeita = [](std::string dados) {
    Decodificador d;
    d.Alimenta(dados.data(), dados.size());
    EXPECT_THROW(d.Proximo(), ErroDeProtocolo);
  };
  std::string x = bom;
  x[0] = 'X';
  rejeita(x);  // marker
  x = bom;
  x[2] = 9;
  rejeita(x);  // version
  x = bom;
  x[14] ^= 1;
  rejeita(x);  // checksum
  x = bom.substr(0, 8) + std::string("\xff\xff\xff\x7f", 4);
  rejeita(x);  // oversized: refused from the header, before any allocation
  rejeita("Z");
  // Truncated: nothing yet, no error.
  Decodificador d;
  d.Alimenta(bom.data(), bom.size() - 1);
  EXPECT_FALSE(d.Proximo());

  const std::string longo(std::string("\x05\x00\x00\x00", 4) + "ab"), booleano("b\x02", 2),
      tipo("q", 1);
  Leitor r(longo);  // a Leitor views its bytes: they must outlive it
  EXPECT_THROW(r.Texto(), ErroDeProtocolo);
  Leitor v(booleano);
  EXPECT_THROW(v.ValorTipado(), ErroDeProtocolo);
  Leitor t(tipo);
  EXPECT_THROW(t.ValorTipado(), ErroDeProtocolo);
}

TEST(Protocolo, SessionRequiresTheKeyBeforeAnyOperation) {
  auto d = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Quorvel);
  SessaoServidor s(d, "segredo");
  Escritor args;
  args.ValorTipado(int32_t{1});
  auto resposta = [](const std::string& bytes) {
    Decodificador dec;
    dec.Alimenta(bytes.data(), bytes.size());
    return *dec.Proximo();
  };
  Quadro r = resposta(s.Responde({CodigoDe("SdkRefreshData"), 1, args.Dados()}));
  ASSERT_EQ(r.op, kErro);
  EXPECT_EQ(Leitor(r.carga).I32(), protocol::codigo::kChaveExigida);

  const std::string nonce(16, 'n');
  Escritor hello;
  hello.U8(kVersaoDoProtocolo);
  hello.Bytes(nonce);
  r = resposta(s.Responde({kOla, 2, hello.Dados()}));
  ASSERT_EQ(r.op, kOla | kBitDeResposta);
  Leitor hr(r.carga);
  EXPECT_EQ(hr.U8(), kVersaoDoProtocolo);
  EXPECT_EQ(hr.U8(), 1);  // a key is asked for
  const std::string desafio(hr.Bytes(16));
  EXPECT_EQ(hr.U8(), d->Modelo());  // who the clock is, before any key is proven
  EXPECT_EQ(hr.Texto(), d->Firmware());
  hr.ExigeFim();
  r = resposta(s.Responde({CodigoDe("SdkRefreshData"), 3, args.Dados()}));
  EXPECT_EQ(r.op, kErro);
  r = resposta(s.Responde({kProva, 4, Prova("errada", desafio, nonce)}));
  EXPECT_EQ(Leitor(r.carga).I32(), protocol::codigo::kChaveIncorreta);
  EXPECT_TRUE(s.Encerrando());

  SessaoServidor boa(d, "segredo");
  r = resposta(boa.Responde({kOla, 1, hello.Dados()}));
  Leitor hr2(r.carga);
  hr2.U8();
  hr2.U8();
  const std::string desafio2(hr2.Bytes(16));
  r = resposta(boa.Responde({kProva, 2, Prova("segredo", desafio2, nonce)}));
  EXPECT_EQ(r.op, kProva | kBitDeResposta);
  r = resposta(boa.Responde({CodigoDe("SdkRefreshData"), 3, args.Dados()}));
  EXPECT_EQ(r.op, CodigoDe("SdkRefreshData") | kBitDeResposta);
  // Wrong argument types are a bad request, not a crash.
  Escritor ruim;
  ruim.ValorTipado(std::string("x"));
  r = resposta(boa.Responde({CodigoDe("SdkRefreshData"), 4, ruim.Dados()}));
  EXPECT_EQ(Leitor(r.carga).I32(), protocol::codigo::kPedidoMalformado);
}

class Rede : public ::testing::Test {
 protected:
  static int32_t Erro(CZKEM& s) {
    int32_t c = 0;
    s.SdkGetLastError(c);
    return c;
  }
};

TEST_F(Rede, DeviceOperationsCrossTheLinkWithTheirAnswersAndCodes) {
  Daemon d({"--relogio", "codigo=1,modelo=quorvel,porta=0,exemplo"}, 1);
  auto q = sdk::CriaSdkRede();
  EXPECT_FALSE(q->SdkRefreshData(1));
  EXPECT_EQ(Erro(*q), sdk::codigo::kLinkPerdido);
  ASSERT_TRUE(q->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  int32_t v = 0;
  for (int32_t codigo = 1; codigo <= 9; ++codigo) EXPECT_TRUE(q->SdkGetDeviceStatus(1, codigo, v));
  EXPECT_EQ(v, 100000);
  std::string firmware;
  EXPECT_TRUE(q->SdkGetFirmwareVersion(1, firmware));
  EXPECT_EQ(firmware, "Ver 6.60 Dez 2026");
  EXPECT_TRUE(q->SdkSetDeviceTime(1, 2030, 1, 2, 3, 4, 5));
  int32_t a = 0, me = 0, di = 0, h = 0, mi = 0, s = 0;
  EXPECT_TRUE(q->SdkGetDeviceTime(1, a, me, di, h, mi, s));
  EXPECT_EQ(a, 2030);
  EXPECT_FALSE(q->SdkSetDeviceTime(1, 2030, 2, 30, 0, 0, 0));
  EXPECT_EQ(Erro(*q), sdk::codigo::kArgumentoInvalido);
  EXPECT_TRUE(q->SdkSetSysOption(1, "AADelay", "5"));
  std::string opcao;
  EXPECT_TRUE(q->SdkGetSysOption(1, "AADelay", opcao));
  EXPECT_EQ(opcao, "5");
  EXPECT_TRUE(q->SdkSetDaylight(1, 1, "10180000", "02210000"));
  EXPECT_TRUE(q->SdkSetDeviceInfo(1, 35, 1));
  EXPECT_TRUE(q->SdkRefreshOptions(1));
  EXPECT_TRUE(q->SdkEnableDevice(1, true));
  EXPECT_TRUE(q->SdkTestOperation(1));
}

TEST_F(Rede, FingerprintUsersTemplatesAndLogCrossTheLinkInBatches) {
  Daemon d({"--relogio", "codigo=1,modelo=quorvel,porta=0,exemplo"}, 1);
  auto q = sdk::CriaSdkRede();
  ASSERT_TRUE(q->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  std::string convertido;
  int32_t n = 0;
  ASSERT_TRUE(q->SdkConvertTemplate("QUJDRA==", convertido, n));
  EXPECT_TRUE(q->SdkSetUserInfo(1, 9, "Novo", "1", 0, true));
  EXPECT_TRUE(q->SdkSetUserTemplate(1, 9, 4, convertido));
  std::string t;
  EXPECT_TRUE(q->SdkGetUserTemplate(1, 9, 4, t, n));
  EXPECT_EQ(t, convertido);
  EXPECT_TRUE(q->SdkReadAllUserIds(1));
  int32_t u = 0, p = 0;
  std::string nome, senha;
  bool hab = false;
  int usuarios = 0;
  while (q->SdkGetNextUserInfo(1, u, nome, senha, p, hab)) ++usuarios;
  EXPECT_EQ(usuarios, 6);
  EXPECT_EQ(Erro(*q), sdk::codigo::kNaoEncontrado);
  std::string consulta = "Novo", txt;
  bool f = true;
  EXPECT_TRUE(q->SdkQueryUserInfo(1, consulta, txt, n, f));
  EXPECT_TRUE(q->SdkDeleteUserTemplate(1, 9, 4));
  EXPECT_TRUE(q->SdkDeleteEnrollData(1, 9, 1, 0));
  EXPECT_FALSE(q->SdkQueryUserInfo(1, consulta, txt, n, f));
  EXPECT_TRUE(q->SdkReadAllLogs(1));
  int32_t cartao = 0, valor = 0, modo = 0;
  std::string quando;
  int marcacoes = 0;
  while (q->SdkGetNextLog(1, cartao, valor, modo, quando)) ++marcacoes;
  EXPECT_GT(marcacoes, 0);
  EXPECT_TRUE(q->SdkClearLogs(1));
  EXPECT_TRUE(q->SdkReadAllLogs(1));
  EXPECT_FALSE(q->SdkGetNextLog(1, cartao, valor, modo, quando));
}

TEST_F(Rede, RegisterOperationsCrossTheLink) {
  Daemon d({"--relogio", "codigo=2,modelo=tarvenix,porta=0,exemplo"}, 1);
  auto r = sdk::CriaSdkRede();
  ASSERT_TRUE(r->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  EXPECT_TRUE(r->SdkSetCardNumber("77"));
  EXPECT_TRUE(r->SdkSetUserInfoWithPis(2, "9", "N", "", 0, true, "12034567899", "1"));
  EXPECT_TRUE(r->SdkSetUserTemplateByTextId(2, "9", 1, 1, "QUJDRA=="));
  int32_t flag = 0, n = 0;
  std::string t;
  EXPECT_TRUE(r->SdkGetUserTemplateByTextId(2, "9", 1, flag, t, n));
  EXPECT_EQ(t, "QUJDRA==");
  EXPECT_TRUE(r->SdkDeleteUserTemplateByTextId(2, "9", 1));
  EXPECT_TRUE(r->SdkSetEmployer(2, "Acme", 0, "1", "2", "3"));
  EXPECT_TRUE(r->SdkSetLogPointer(2, 75));
  std::string nsr, pis;
  std::vector<std::string> nsrs;
  int32_t a = 0, me = 0, di = 0, h = 0, mi = 0, s = 0;
  while (r->SdkGetNextNsrLog(2, nsr, pis, a, me, di, h, mi, s)) nsrs.push_back(nsr);
  // Five earlier days of sample punches, plus today's so far.
  ASSERT_GE(nsrs.size(), 5u);
  for (size_t i = 0; i < nsrs.size(); ++i) EXPECT_EQ(nsrs[i], std::to_string(76 + i));
  EXPECT_TRUE(r->SdkReadAllUserIds(2));
  std::string id, nome, senha, cpf;
  int32_t p = 0;
  bool hab = false;
  EXPECT_TRUE(r->SdkGetNextUserInfoWithPis(2, id, nome, senha, p, hab, pis, cpf));
  EXPECT_TRUE(r->SdkDeleteEnrollDataByTextId(2, "9", 12));
  EXPECT_FALSE(r->SdkClearAllData(2));
  EXPECT_EQ(Erro(*r), sdk::codigo::kNaoSuportado);
}

TEST_F(Rede, RereadingTheLogFetchesOnlyWhatItGrewBy) {
  Daemon d({"--relogio", "codigo=1,porta=0", "--semear", "20000"}, 1);
  auto s = sdk::CriaSdkRede();
  ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  auto le = [&] {
    EXPECT_TRUE(s->SdkReadAllLogs(1));
    int32_t c = 0, v = 0, m = 0;
    std::string t;
    int n = 0;
    while (s->SdkGetNextLog(1, c, v, m, t)) ++n;
    return n;
  };
  const auto antes = sdk::Estatisticas();
  EXPECT_EQ(le(), 20000);
  const auto meio = sdk::Estatisticas();
  EXPECT_EQ(le(), 20000);  // the whole log again, from the copy
  const auto depois = sdk::Estatisticas();
  EXPECT_GT(meio.bytesRecebidos - antes.bytesRecebidos, 20000u * 20);  // 21 bytes a punch
  EXPECT_LT(depois.bytesRecebidos - meio.bytesRecebidos, 200u);
  // A reconnection keeps the copy; erasing the log makes it start over.
  ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  EXPECT_EQ(le(), 20000);
  EXPECT_TRUE(s->SdkClearLogs(1));
  EXPECT_EQ(le(), 0);
}

TEST_F(Rede, TemplatesReadAheadGiveEveryAnswerTheClockGivesAndNeverAStaleOne) {
  for (const char* modelo : {"quorvel", "tarvenix"}) {
    SCOPED_TRACE(modelo);
    const bool registro = std::string(modelo) == "tarvenix";
    Daemon d({"--relogio", std::string("codigo=1,porta=0,modelo=") + modelo}, 1);
    // The same clock in process, written the same way: the reference for every answer.
    auto referencia = std::make_shared<sdk::DispositivoVirtual>(registro ? EModeloRelogio_Tarvenix
                                                                         : EModeloRelogio_Quorvel);
    auto local = sdk::FabricaVirtual()();
    sdk::RedeVirtual::Instancia().Publica("referencia-leitura", 4370, referencia);
    ASSERT_TRUE(local->SdkConnectNetwork("referencia-leitura", 4370));
    auto rede = sdk::CriaSdkRede();
    ASSERT_TRUE(rede->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
    std::string convertido;
    int32_t tamanho = 0;
    ASSERT_TRUE(rede->SdkConvertTemplate("QUJDRA==", convertido, tamanho));
    for (CZKEM* s : {local.get(), rede.get()}) {
      for (int32_t u = 1; u <= 300; ++u) {
        if (registro) {
          ASSERT_TRUE(s->SdkSetUserInfoWithPis(1, std::to_string(u), "F", "1", 0, true, "", ""));
          // Users 7, 14, ... have no templates; the others one on finger u % 10.
          if (u % 7) {
            ASSERT_TRUE(s->SdkSetUserTemplateByTextId(1, std::to_string(u), u % 10, 1, "QUJDRA=="));
          }
        } else {
          ASSERT_TRUE(s->SdkSetUserInfo(1, u, "F", "1", 0, true));
          if (u % 7) {
            ASSERT_TRUE(s->SdkSetUserTemplate(1, u, u % 10, convertido));
          }
        }
      }
    }
    // Every finger of every user, answered by the reference and through the read-ahead.
    auto leTudo = [&](CZKEM& s) {
      std::vector<std::string> respostas;
      EXPECT_TRUE(s.SdkReadAllUserIds(1));
      int32_t u = 0, p = 0, flag = 0, n = 0;
      bool h = false;
      std::string id, nome, senha, pis, cpf, t;
      for (;;) {
        const bool mais = registro ? s.SdkGetNextUserInfoWithPis(1, id, nome, senha, p, h, pis, cpf)
                                   : s.SdkGetNextUserInfo(1, u, nome, senha, p, h);
        if (!mais) break;
        for (int32_t dedo = 0; dedo < 10; ++dedo) {
          t.clear();
          n = 0;
          const bool ok = registro ? s.SdkGetUserTemplateByTextId(1, id, dedo, flag, t, n)
                                   : s.SdkGetUserTemplate(1, u, dedo, t, n);
          respostas.push_back((registro ? id : std::to_string(u)) + "/" + std::to_string(dedo) +
                              (ok ? " sim " : " não ") + std::to_string(Erro(s)) + " " + t + " " +
                              std::to_string(n));
        }
      }
      return respostas;
    };
    const auto trocasAntes = sdk::Estatisticas().trocas;
    const auto pelaRede = leTudo(*rede);
    EXPECT_LT(sdk::Estatisticas().trocas - trocasAntes, 30u) << "3000 leituras em poucas trocas";
    EXPECT_EQ(pelaRede, leTudo(*local));
    ASSERT_EQ(pelaRede.size(), 3000u);

    // A read between reads keeps what was read ahead; a write drops it for the users after it.
    ASSERT_TRUE(rede->SdkReadAllUserIds(1));
    int32_t u = 0, p = 0, flag = 0, n = 0;
    bool h = false;
    std::string id, nome, senha, pis, cpf, t, versao;
    const auto lidoAdiante = [&](const std::function<bool()>& leitura) {
      const auto antes = sdk::Estatisticas().trocas;
      EXPECT_TRUE(rede->SdkGetFirmwareVersion(1, versao));
      EXPECT_TRUE(leitura());
      return sdk::Estatisticas().trocas - antes == 1;
    };
    if (registro) {
      ASSERT_TRUE(rede->SdkGetNextUserInfoWithPis(1, id, nome, senha, p, h, pis, cpf));
      EXPECT_TRUE(rede->SdkGetUserTemplateByTextId(1, id, std::stoi(id) % 10, flag, t, n));
      EXPECT_TRUE(
          lidoAdiante([&] { return rede->SdkGetUserTemplateByTextId(1, "3", 3, flag, t, n); }));
      ASSERT_TRUE(rede->SdkDeleteUserTemplateByTextId(1, "2", 2));
      EXPECT_FALSE(rede->SdkGetUserTemplateByTextId(1, "2", 2, flag, t, n));
    } else {
      ASSERT_TRUE(rede->SdkGetNextUserInfo(1, u, nome, senha, p, h));
      EXPECT_TRUE(rede->SdkGetUserTemplate(1, u, u % 10, t, n));
      EXPECT_TRUE(lidoAdiante([&] { return rede->SdkGetUserTemplate(1, 3, 3, t, n); }));
      ASSERT_TRUE(rede->SdkDeleteUserTemplate(1, 2, 2));
      EXPECT_FALSE(rede->SdkGetUserTemplate(1, 2, 2, t, n));
    }
    sdk::RedeVirtual::Instancia().Retira("referencia-leitura", 4370);
  }
}

TEST_F(Rede, AnIdleMonitoringVisitIsAnsweredFromThePushedLogSize) {
  std::optional<Daemon> d;
  d.emplace(std::vector<std::string>{"--relogio", "codigo=1,porta=0,exemplo", "--relogio",
                                     "codigo=2,porta=0,exemplo,modelo=tarvenix"},
            2);
  auto digital = sdk::CriaSdkRede();
  auto registro = sdk::CriaSdkRede();
  ASSERT_TRUE(digital->SdkConnectNetwork("127.0.0.1", d->Porta(0)));
  ASSERT_TRUE(registro->SdkConnectNetwork("127.0.0.1", d->Porta(1)));
  int32_t tamanho = 0;
  ASSERT_TRUE(digital->SdkGetDeviceStatus(1, 6, tamanho));
  EXPECT_GT(tamanho, 0);  // the sample log (its size follows the calendar)
  // A register walk to the end of the log.
  std::string nsr, pis;
  int32_t a = 0, me = 0, di = 0, h = 0, mi = 0, se = 0;
  ASSERT_TRUE(registro->SdkSetLogPointer(2, 0));
  ASSERT_TRUE(registro->SdkReadAllLogs(2));
  int n = 0;
  while (registro->SdkGetNextNsrLog(2, nsr, pis, a, me, di, h, mi, se)) ++n;
  EXPECT_EQ(n, tamanho);  // both sample logs have the same size
  int32_t erroNoFim = 0;
  registro->SdkGetLastError(erroNoFim);

  const auto antes = sdk::Estatisticas().trocas;
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(digital->SdkGetDeviceStatus(1, 6, tamanho));
    EXPECT_TRUE(registro->SdkReadAllLogs(2));
    EXPECT_FALSE(registro->SdkGetNextNsrLog(2, nsr, pis, a, me, di, h, mi, se));
    EXPECT_EQ(Erro(*registro), erroNoFim);  // the clock's own answer at the end of the log
  }
  EXPECT_EQ(sdk::Estatisticas().trocas - antes, 0u) << "visitas ociosas sem ida e volta";

  // The logs grow through another link: the pushes say so, and the next walk brings the record.
  auto outro = sdk::CriaSdkRede();
  ASSERT_TRUE(outro->SdkConnectNetwork("127.0.0.1", d->Porta(1)));
  ASSERT_TRUE(outro->SdkSetUserInfoWithPis(2, "77", "Novo", "", 0, true, "", ""));
  // (a user is not a punch: the log size is unchanged, the walk still finds nothing)
  EXPECT_TRUE(registro->SdkReadAllLogs(2));
  EXPECT_FALSE(registro->SdkGetNextNsrLog(2, nsr, pis, a, me, di, h, mi, se));
  d->Para(SIGTERM);
  d.reset();
  // A killed or stopped clock is noticed at the next visit, without waiting for a time-out.
  const auto inicio = std::chrono::steady_clock::now();
  EXPECT_FALSE(digital->SdkGetDeviceStatus(1, 6, tamanho));
  EXPECT_EQ(Erro(*digital), sdk::codigo::kLinkPerdido);
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(1));
}

TEST_F(Rede, APushedLogSizeIsTrustedOnlyWhileThePushesKeepComing) {
  Daemon d({"--relogio", "codigo=1,porta=0,exemplo"}, 1);
  sdk::OpcoesRede o;
  o.tempoRespostaMs = 300;
  auto s = sdk::CriaSdkRede(o);
  ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  int32_t tamanho = 0;
  ASSERT_TRUE(s->SdkGetDeviceStatus(1, 6, tamanho));
  // A daemon that stops answering (a hung clock) sends no more pushes: once the last one is
  // a few seconds old, the size is asked on the wire again, and the silence is seen.
  d.Sinal(SIGSTOP);
  const auto parado = std::chrono::steady_clock::now();
  bool notado = false;
  while (!notado && std::chrono::steady_clock::now() - parado < std::chrono::seconds(25)) {
    notado = !s->SdkGetDeviceStatus(1, 6, tamanho);
    if (!notado) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const auto depois = std::chrono::steady_clock::now() - parado;
  d.Sinal(SIGCONT);
  EXPECT_TRUE(notado);
  // Pushes come every second; a size older than three is not the clock's any more (the bound
  // leaves room for a busy machine, and is far below a trust of tens of seconds).
  EXPECT_LT(depois, std::chrono::seconds(10));
}

TEST_F(Rede, APushSaysTheLogGrewWithinASecond) {
  Daemon d({"--relogio", "codigo=1,porta=0", "--relogio", "codigo=2,porta=0,modelo=tarvenix",
            "--marcacoes-por-minuto", "600"},
           2);
  auto digital = sdk::CriaSdkRede();
  auto registro = sdk::CriaSdkRede();
  ASSERT_TRUE(digital->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  ASSERT_TRUE(registro->SdkConnectNetwork("127.0.0.1", d.Porta(1)));
  int32_t primeiro = 0, depois = 0;
  ASSERT_TRUE(digital->SdkGetDeviceStatus(1, 6, primeiro));
  std::string nsr, pis;
  int32_t a = 0, me = 0, di = 0, h = 0, mi = 0, se = 0;
  ASSERT_TRUE(registro->SdkReadAllLogs(2));
  std::set<std::string> vistos;
  while (registro->SdkGetNextNsrLog(2, nsr, pis, a, me, di, h, mi, se)) vistos.insert(nsr);
  const size_t inicial = vistos.size();
  const auto prazo = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < prazo &&
         (depois <= primeiro || vistos.size() < inicial + 3)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(digital->SdkGetDeviceStatus(1, 6, depois));
    ASSERT_TRUE(registro->SdkReadAllLogs(2));
    while (registro->SdkGetNextNsrLog(2, nsr, pis, a, me, di, h, mi, se))
      EXPECT_TRUE(vistos.insert(nsr).second) << "NSR " << nsr << " entregue duas vezes";
  }
  EXPECT_GT(depois, primeiro);
  EXPECT_GE(vistos.size(), inicial + 3);
}

TEST_F(Rede, RunsAskedForAheadNeverSkipOrRepeatARecord) {
  // 200,000 register records: several runs, each asked for while the walk is in the previous one.
  Daemon d(
      {"--relogio", "codigo=1,porta=0,modelo=tarvenix,capacidade=300000", "--semear", "200000"}, 1);
  auto s = sdk::CriaSdkRede();
  ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  std::string nsr, pis;
  int32_t a = 0, me = 0, di = 0, h = 0, mi = 0, se = 0;
  auto proximo = [&]() -> int64_t {
    return s->SdkGetNextNsrLog(1, nsr, pis, a, me, di, h, mi, se) ? std::stoll(nsr) : -1;
  };
  ASSERT_TRUE(s->SdkSetLogPointer(1, 0));
  for (int64_t esperado = 1; esperado <= 70000; ++esperado) ASSERT_EQ(proximo(), esperado);
  // A read of the whole log mid-walk does not move the clock's position: the walk goes on.
  ASSERT_TRUE(s->SdkReadAllLogs(1));
  for (int64_t esperado = 70001; esperado <= 140000; ++esperado) ASSERT_EQ(proximo(), esperado);
  // A pointer set mid-walk (with a run already asked for) starts from the new position.
  ASSERT_TRUE(s->SdkSetLogPointer(1, 5));
  for (int64_t esperado = 6; esperado <= 200000; ++esperado) ASSERT_EQ(proximo(), esperado);
  EXPECT_EQ(proximo(), -1);
  // The fingerprint log read ahead the same way, interleaved with status reads.
  Daemon q({"--relogio", "codigo=1,porta=0,capacidade=300000", "--semear", "200000"}, 1);
  auto f = sdk::CriaSdkRede();
  ASSERT_TRUE(f->SdkConnectNetwork("127.0.0.1", q.Porta(0)));
  ASSERT_TRUE(f->SdkReadAllLogs(1));
  int32_t c = 0, v = 0, m = 0, st = 0;
  std::string t;
  int n = 0;
  while (f->SdkGetNextLog(1, c, v, m, t)) {
    if (++n % 50000 == 0) {
      EXPECT_TRUE(f->SdkGetDeviceStatus(1, 6, st));
    }
  }
  EXPECT_EQ(n, 200000);
  EXPECT_EQ(st, 200000);
}

TEST_F(Rede, APeerOfAnotherProtocolVersionIsToldBothVersions) {
  Daemon d({"--relogio", "codigo=1,porta=0"}, 1);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(d.Porta(0)));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  Escritor hello;
  hello.U8(1);  // the first protocol
  hello.Bytes(std::string(16, 'n'));
  const std::string quadro = Codifica({kOla, 1, hello.Dados()});
  ASSERT_EQ(::write(fd, quadro.data(), quadro.size()), static_cast<ssize_t>(quadro.size()));
  Decodificador dec;
  std::optional<Quadro> f;
  char b[4096];
  while (!f) {
    const ssize_t n = ::read(fd, b, sizeof b);
    ASSERT_GT(n, 0);
    dec.Alimenta(b, static_cast<size_t>(n));
    f = dec.Proximo();
  }
  ::close(fd);
  ASSERT_EQ(f->op, kErro);
  Leitor r(f->carga);
  EXPECT_EQ(r.I32(), protocol::codigo::kVersaoNaoSuportada);
  EXPECT_EQ(r.Texto(), "versão 1 do protocolo não suportada; este relógio fala a versão 3");
}

// A clock of this protocol version built before an operation was added answers it with
// "operação desconhecida": the client says the operation is not supported there (-100) and the
// link goes on serving everything else.
TEST_F(Rede, AnOperationAnOlderClockDoesNotKnowIsNotSupportedAndTheLinkStays) {
  auto dispositivo = std::make_shared<sdk::DispositivoVirtual>(EModeloRelogio_Tarvenix);
  const int escuta = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(escuta, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(escuta, 1), 0);
  socklen_t tamanho = sizeof a;
  ::getsockname(escuta, reinterpret_cast<sockaddr*>(&a), &tamanho);
  std::thread antigo([&] {
    const int fd = ::accept(escuta, nullptr, nullptr);
    SessaoServidor sessao(dispositivo, "");
    Decodificador dec;
    char b[4096];
    for (ssize_t n; (n = ::read(fd, b, sizeof b)) > 0;) {
      dec.Alimenta(b, static_cast<size_t>(n));
      while (auto f = dec.Proximo()) {
        std::string resposta;
        if (f->op == CodigoDe("SdkGetUserCardByTextId")) {
          Escritor erro;  // what a daemon whose call list ends before this operation answers
          erro.I32(protocol::codigo::kPedidoMalformado);
          erro.Texto("operação desconhecida");
          resposta = Codifica({kErro, f->id, erro.Dados()});
        } else {
          resposta = sessao.Responde(*f);
        }
        if (::write(fd, resposta.data(), resposta.size()) < 0) break;
      }
    }
    ::close(fd);
  });
  struct Junta {  // also when a call throws: the client's link closes first, ending the server
    std::thread& t;
    ~Junta() { t.join(); }
  } junta{antigo};
  {
    auto q = sdk::CriaSdkRede();
    ASSERT_TRUE(q->SdkConnectNetwork("127.0.0.1", ntohs(a.sin_port)));
    std::string cartao = "antes";
    EXPECT_FALSE(q->SdkGetUserCardByTextId(1, "1", cartao));
    EXPECT_EQ(Erro(*q), sdk::codigo::kNaoSuportado);
    EXPECT_EQ(cartao, "antes");
    EXPECT_TRUE(q->SdkSetCardNumber("77"));
    EXPECT_TRUE(q->SdkSetUserInfoWithPis(1, "9", "Nove", "", 0, true, "", ""));
    EXPECT_EQ(dispositivo->Usuarios().at(0).cartao, "77");
    q->SdkDisconnect();
  }
  ::close(escuta);
}

TEST_F(Rede, LostLinksCorruptionAndKeys) {
  Daemon d({"--relogio", "codigo=1,porta=0", "--cair-apos", "3"}, 1);
  auto s = sdk::CriaSdkRede();
  ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));  // frames 1 and 2: hello, subscribe
  EXPECT_TRUE(s->SdkRefreshData(1));                           // 3
  EXPECT_FALSE(s->SdkRefreshData(1));                          // dropped
  EXPECT_EQ(Erro(*s), sdk::codigo::kLinkPerdido);
  EXPECT_FALSE(s->SdkRefreshData(1));  // stays lost until reconnected
  ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  EXPECT_TRUE(s->SdkRefreshData(1));

  Daemon corrompe({"--relogio", "codigo=1,porta=0", "--corromper-apos", "3"}, 1);
  auto c = sdk::CriaSdkRede();
  ASSERT_TRUE(c->SdkConnectNetwork("127.0.0.1", corrompe.Porta(0)));
  EXPECT_FALSE(c->SdkRefreshData(1));
  EXPECT_EQ(Erro(*c), sdk::codigo::kLinkPerdido);

  Daemon chave({"--relogio", "codigo=1,porta=0,chave=segredo"}, 1);
  auto sem = sdk::CriaSdkRede();
  EXPECT_FALSE(sem->SdkConnectNetwork("127.0.0.1", chave.Porta(0)));
  EXPECT_EQ(Erro(*sem), sdk::codigo::kChaveExigida);
  auto errada = sdk::CriaSdkRede({"outra"});
  EXPECT_FALSE(errada->SdkConnectNetwork("127.0.0.1", chave.Porta(0)));
  EXPECT_EQ(Erro(*errada), sdk::codigo::kChaveIncorreta);
  EXPECT_FALSE(errada->SdkRefreshData(1));
  auto certa = sdk::CriaSdkRede({"segredo"});
  ASSERT_TRUE(certa->SdkConnectNetwork("127.0.0.1", chave.Porta(0)));
  EXPECT_TRUE(certa->SdkRefreshData(1));

  EXPECT_FALSE(sdk::CriaSdkRede()->SdkConnectNetwork("127.0.0.1", 1));  // nobody there
}

TEST_F(Rede, ARefusalSwitchAnswersFalseWithItsCode) {
  Daemon d({"--relogio", "codigo=1,porta=0", "--recusar", "SdkRefreshData=-77"}, 1);
  auto s = sdk::CriaSdkRede();
  ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
  EXPECT_FALSE(s->SdkRefreshData(1));
  EXPECT_EQ(Erro(*s), -77);
}

TEST_F(Rede, NothingAcknowledgedIsLostWhenTheDaemonIsKilled) {
  const auto dados = std::filesystem::path(::testing::TempDir()) /
                     ("diario_" + std::to_string(::getpid()) + ".jsonl");
  std::filesystem::remove(dados);
  const std::string espec = "codigo=1,modelo=tarvenix,porta=0,dados=" + dados.string();
  {
    Daemon d({"--relogio", espec, "--marcacoes-por-minuto", "6000"}, 1);
    auto s = sdk::CriaSdkRede();
    ASSERT_TRUE(s->SdkConnectNetwork("127.0.0.1", d.Porta(0)));
    for (int i = 1; i <= 20; ++i)
      ASSERT_TRUE(s->SdkSetUserInfoWithPis(1, std::to_string(i), "F" + std::to_string(i), "", 0,
                                           true, "", ""));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(s->SdkSetLogPointer(1, 0));
    std::string nsr, pis;
    int32_t a = 0, me = 0, di = 0, h = 0, mi = 0, se = 0;
    int vistas = 0;
    while (s->SdkGetNextNsrLog(1, nsr, pis, a, me, di, h, mi, se)) ++vistas;
    ASSERT_GT(vistas, 0);
    d.Para(SIGKILL);  // no chance to flush anything more
    Daemon de_novo({"--relogio", espec}, 1);
    auto r = sdk::CriaSdkRede();
    ASSERT_TRUE(r->SdkConnectNetwork("127.0.0.1", de_novo.Porta(0)));
    ASSERT_TRUE(r->SdkReadAllUserIds(1));
    std::string id, nome, senha, cpf;
    int32_t p = 0;
    bool hab = false;
    int usuarios = 0;
    while (r->SdkGetNextUserInfoWithPis(1, id, nome, senha, p, hab, pis, cpf)) ++usuarios;
    EXPECT_EQ(usuarios, 20);
    ASSERT_TRUE(r->SdkSetLogPointer(1, 0));
    int depois = 0;
    while (r->SdkGetNextNsrLog(1, nsr, pis, a, me, di, h, mi, se)) ++depois;
    EXPECT_GE(depois, vistas);  // every punch handed out before the crash is still there
  }
  std::filesystem::remove(dados);
}

TEST_F(Rede, SerialLineOverAPseudoTerminal) {
  Daemon d({"--relogio", "codigo=3,serial,exemplo"}, 1);
  ::setenv("QUORVEL_SERIAL_3", d.Serial(0).c_str(), 1);
  EXPECT_EQ(sdk::CaminhoSerial(3), d.Serial(0));
  auto s = sdk::CriaSdkRede();
  ASSERT_TRUE(s->SdkConnectSerial(3, 3, 115200));
  int32_t usuarios = 0;
  EXPECT_TRUE(s->SdkGetDeviceStatus(3, 2, usuarios));
  EXPECT_EQ(usuarios, 5);
  ::unsetenv("QUORVEL_SERIAL_3");
  ::setenv("QUORVEL_SERIAL_PADRAO", "/dev/ttyUSB%d", 1);
  EXPECT_EQ(sdk::CaminhoSerial(1), "/dev/ttyUSB0");
  ::unsetenv("QUORVEL_SERIAL_PADRAO");
  EXPECT_EQ(sdk::CaminhoSerial(2), "/dev/ttyS1");
}

// The control's whole stories, now across processes on the fixed port 4370.
TEST_F(Rede, TheControlAgainstTheDaemon) {
  const std::string ip = teste::EnderecoLoopback(1);
  Daemon d({"--endereco", ip, "--relogio", "codigo=5,modelo=tarvenix,exemplo"}, 1);
  teste::ControleEmRede rede;
  ASSERT_TRUE(rede.RegistraEConecta(5, ip, EModeloRelogio_Tarvenix));
  ComunicacaoZK& controle = rede.controle;
  const auto desde = controle.ObterMarcacaoRelogio(5, 0, 70);
  ASSERT_GE(desde->Count(), 10);  // the sample grows with the time of day
  EXPECT_EQ(desde->Item(1)->NSR(), "71");
  controle.AddFuncionarioCartao(
      teste::NovoFuncionario(40, {.nome = "Rede", .senha = "1", .pis = "13098765436"}));
  EXPECT_EQ(controle.EnviarListaFuncionarioCartaoRelogio(5)->Count(), 0);
  EXPECT_NE(controle.ObterListaFuncionarioCartaoRelogio(5)->ItemByCodCartaoFuncionario(40),
            nullptr);
  EXPECT_TRUE(controle.EnviaEmpregadorRelogio(5, "Acme", CNPJ, "11222333000181", "", ""));
  EXPECT_EQ(controle.ObterStatusRelogio(5)->QuantidadeUsuarios(), 6);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A send across a link that keeps dropping: the retry reconnects, and every employee either
// is on the clock with its templates or is reported — none goes missing silently.
TEST(RedeControle, ASendAcrossDroppingLinksLosesNoEmployeeSilently) {
  const std::string ip = teste::EnderecoLoopback(2);
  teste::Daemon d({"--endereco", ip, "--cair-apos", "25", "--relogio", "codigo=6,modelo=tarvenix"},
                  1);
  teste::ControleEmRede rede;
  ASSERT_TRUE(rede.RegistraEConecta(6, ip, EModeloRelogio_Tarvenix));
  ComunicacaoZK& controle = rede.controle;
  for (int32_t i = 1; i <= 12; ++i)
    controle.AddFuncionarioCartao(teste::NovoFuncionario(
        i, {.nome = "F" + std::to_string(i), .senha = "1", .dedos = {1}, .texto = [](int32_t) {
              return std::string("QUJDRA==");
            }}));
  const auto recusas = controle.EnviarListaFuncionarioCartaoRelogio(6);
  std::set<int32_t> reportados;
  for (int32_t i = 1; i <= recusas->Count(); ++i)
    reportados.insert(recusas->Item(i)->FuncionarioCartao()->Codigo());
  // Read back over a fresh link.
  auto s = sdk::CriaSdkRede();
  ASSERT_TRUE(s->SdkConnectNetwork(ip, 4370));
  for (int32_t i = 1; i <= 12; ++i) {
    int32_t flag = 0, n = 0;
    std::string texto;
    const bool completo = s->SdkGetUserTemplateByTextId(6, std::to_string(i), 1, flag, texto, n);
    EXPECT_TRUE(completo || reportados.count(i)) << "funcionário " << i << " sumiu sem aviso";
  }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// The daemon is killed in the middle of a send and comes back at once: the component's retry
// reconnects, every acknowledged employee survives the crash, and none goes missing silently.
TEST(RedeControle, ADaemonKilledMidSendIsRecoveredByTheRetry) {
  const std::string ip = teste::EnderecoLoopback(3);
  const auto dados = std::filesystem::path(::testing::TempDir()) /
                     ("envio_" + std::to_string(::getpid()) + ".jsonl");
  std::filesystem::remove(dados);
  const std::vector<std::string> args = {"--endereco", ip, "--relogio",
                                         "codigo=7,modelo=tarvenix,dados=" + dados.string()};
  auto daemon = std::make_unique<teste::Daemon>(args, 1);
  teste::ControleEmRede rede;
  ASSERT_TRUE(rede.RegistraEConecta(7, ip, EModeloRelogio_Tarvenix));
  ComunicacaoZK& controle = rede.controle;
  for (int32_t i = 1; i <= 40; ++i)
    controle.AddFuncionarioCartao(
        teste::NovoFuncionario(i, {.nome = "F" + std::to_string(i), .senha = "1"}));
  // Kill once ten users are durable, restart right away.
  std::thread assassino([&] {
    for (int espera = 0; espera < 500; ++espera) {
      std::ifstream in(dados);
      int usuarios = 0;
      for (std::string linha; std::getline(in, linha);)
        usuarios += linha.find("\"t\":\"u\"") != std::string::npos;
      if (usuarios >= 10) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    daemon->Para(SIGKILL);
    daemon = std::make_unique<teste::Daemon>(args, 1);
  });
  const auto recusas = controle.EnviarListaFuncionarioCartaoRelogio(7);
  assassino.join();
  std::set<int32_t> reportados;
  for (int32_t i = 1; i <= recusas->Count(); ++i)
    reportados.insert(recusas->Item(i)->FuncionarioCartao()->Codigo());
  const auto lidos = controle.ObterListaFuncionarioCartaoRelogio(7);
  for (int32_t i = 1; i <= 40; ++i)
    EXPECT_TRUE(lidos->ItemByCodCartaoFuncionario(i) || reportados.count(i)) << "funcionário " << i;
  EXPECT_GE(lidos->Count(), 30);  // the retry carried the send on after the crash
  daemon.reset();
  std::filesystem::remove(dados);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(RedeControle, FingerprintClockStoryAcrossProcesses) {
  const std::string ip = teste::EnderecoLoopback(5);
  teste::Daemon d(
      {"--endereco", ip, "--marcacoes-por-minuto", "1200", "--relogio", "codigo=8,exemplo"}, 1);
  teste::ControleEmRede rede;
  ASSERT_TRUE(rede.RegistraEConecta(8, ip, EModeloRelogio_Quorvel));
  ComunicacaoZK& controle = rede.controle;

  std::vector<std::shared_ptr<Marcacao>> recolhidas;
  std::vector<int16_t> erros;
  controle.Eventos().MarcacaoRecolhida = [&](const std::shared_ptr<Marcacao>& m) {
    recolhidas.push_back(m);
  };
  controle.Eventos().ErroMonitoracao = [&](int16_t n, const std::string&) { erros.push_back(n); };
  controle.IniciaMonitoracaoRelogio(8);
  rede.loop.RodaAte([&] { return recolhidas.size() >= 3; }, std::chrono::seconds(10));
  controle.PararMonitoracaoRelogio(8);
  EXPECT_GE(recolhidas.size(), 3u);
  EXPECT_TRUE(erros.empty());

  EXPECT_TRUE(controle.SetSireneDiariaRelogio(8, 3, 8, 30));
  EXPECT_TRUE(controle.SetHorarioVeraoRelogio(8, DataHora::DePartes(2026, 10, 18),
                                              DataHora::DePartes(2027, 2, 21)));
  EXPECT_TRUE(controle.Set1ParaNRelogio(8));
  const auto lidos = controle.ObterListaFuncionarioCartaoRelogio(8);
  ASSERT_EQ(lidos->Count(), 5);
  EXPECT_TRUE(controle.ExcluiFuncionarioCartaoRelogio(8, lidos->Item(1)));
  EXPECT_EQ(controle.ObterListaFuncionarioCartaoRelogio(8)->Count(), 4);
  EXPECT_GT(controle.ObterMarcacaoRelogio(8)->Count(), 0);
  EXPECT_TRUE(controle.ApagarMarcacoesRelogio(8));
  EXPECT_TRUE(controle.ApagarTodosRegistrosRelogio(8));
  EXPECT_EQ(controle.ObterStatusRelogio(8)->QuantidadeUsuarios(), 0);
}

}  // namespace
}  // namespace quorvel
