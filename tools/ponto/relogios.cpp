#include "relogios.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "afd_relogio.h"
#include "arquivos.h"
#include "banco.h"
#include "quorvel/codigos.h"
#include "saida.h"
#include "sessao.h"

namespace ponto {

using namespace quorvel;

namespace {

// The first line of a component error's description (the message without class and method).
std::string Mensagem(const Erro& e) {
  const std::string& d = e.Descricao();
  return d.substr(0, d.find("\r\n"));
}

}  // namespace

namespace {

// What cannot be undone is confirmed: by the person at the terminal, or by --sim in a script.
// Without a terminal to ask and without --sim nothing is done. False: the person said no.
bool Confirma(const Opcoes& o, const Sessao& s, const std::string& oQue) {
  if (o.Tem("--sim")) return true;
  std::string relogios;
  for (const auto& r : s.Relogios())
    relogios += (relogios.empty() ? "" : ", ") + std::to_string(r->Codigo());
  const std::string pergunta = oQue + " (relógios " + relogios + ")";
  if (!isatty(STDIN_FILENO))
    throw ErroDeUso(pergunta +
                    " não pode ser desfeito e não há terminal para confirmar; use "
                    "--sim para confirmar de antemão.");
  std::cerr << pergunta << ": não pode ser desfeito. Confirma? [s/N] " << std::flush;
  std::string resposta;
  std::getline(std::cin, resposta);
  if (resposta == "s" || resposta == "S" || resposta == "sim" || resposta == "SIM") return true;
  std::cerr << "Nada foi apagado.\n";
  return false;
}

std::string SimNao(bool b) { return b ? "sim" : "não"; }

std::string Codigo(const Relogio& r) { return std::to_string(r.Codigo()); }

// Runs `acao` on each clock, collecting one result row; a component error on one clock is
// reported and the others still run.
struct ResultadoPorRelogio {
  int codigoSaida = kOk;
  Tabela tabela{{"Relógio", "Resultado"}, {"relogio", "resultado"}, {}};
};

using AcaoBooleana = std::function<bool(int16_t)>;

int PorRelogio(Sessao& s, const std::function<bool(const Relogio&)>& suportado,
               const AcaoBooleana& acao) {
  ResultadoPorRelogio r;
  for (const auto& rel : s.Relogios()) {
    if (!suportado(*rel)) {
      r.tabela.linhas.push_back(
          {Codigo(*rel),
           "não suportado pelo modelo " + NomeModelo(rel->ModeloRelogio()) + " (ignorado)"});
      continue;
    }
    try {
      const bool ok = acao(rel->Codigo());
      r.tabela.linhas.push_back({Codigo(*rel), ok ? "ok" : "recusado pelo relógio"});
      if (!ok && r.codigoSaida == kOk) r.codigoSaida = kRecusado;
    } catch (const Erro& e) {
      r.tabela.linhas.push_back({Codigo(*rel), "erro " + std::to_string(e.Numero())});
      std::string d = e.Descricao();
      for (size_t p; (p = d.find("\r\n")) != std::string::npos;) d.replace(p, 2, "\n  ");
      std::cerr << "Relógio " << rel->Codigo() << ": erro " << e.Numero() << ": " << d << "\n";
      r.codigoSaida = kErroComponente;
    }
  }
  Imprime(std::cout, r.tabela, s.Saida(), s.Bom());
  return r.codigoSaida;
}

bool Todos(const Relogio&) { return true; }
bool SoQuorvel(const Relogio& r) { return r.ModeloRelogio() == EModeloRelogio_Quorvel; }
bool SoTarvenix(const Relogio& r) { return r.ModeloRelogio() == EModeloRelogio_Tarvenix; }

// ---- coletar ---------------------------------------------------------------------------

// Every reachable clock is collected and printed; a clock that could not be reached or whose
// collection could not be completed is named on stderr and makes the exit code 4 — its
// punches are not printed, as a part of them would pass for the whole.
int ColetaNaTela(const Opcoes& o, Sessao& s) {
  const int32_t ponteiro =
      o.Tem("--ponteiro") ? static_cast<int32_t>(o.Numero("--ponteiro", 0, INT32_MAX)) : 0;
  const int32_t nsr = o.Tem("--nsr") ? static_cast<int32_t>(o.Numero("--nsr", 0, INT32_MAX)) : 0;
  int codigoSaida = kOk;
  const std::set<int16_t> inacessiveis = ConectaParaColetar(s, codigoSaida);
  // The punches stay in their compact lists and are printed straight from them: a collection
  // of a million punches never becomes a million rows of texts.
  std::vector<std::pair<bool, std::shared_ptr<ListaMarcacao>>> listas;  // (tarvenix, punches)
  size_t coletados = 0, total = 0;
  for (const auto& rel : s.Relogios()) {
    if (inacessiveis.count(rel->Codigo())) continue;
    Progresso("Coletando do relógio " + Codigo(*rel) + "…");
    std::shared_ptr<ListaMarcacao> lista;
    try {
      lista = s.Controle().ObterMarcacaoRelogio(rel->Codigo(), ponteiro, nsr);
    } catch (const Erro& e) {
      FimProgresso();
      std::cerr << "Relógio " << rel->Codigo() << " não coletado: a conexão caiu durante a "
                << "coleta e não pôde ser restabelecida (erro " << e.Numero() << ": " << Mensagem(e)
                << ").\n";
      codigoSaida = kInacessivel;
      continue;
    }
    FimProgresso();
    if (!lista || Sessao::Interrompido()) {
      std::cerr << "Coleta cancelada pelo usuário.\n";
      return kCancelado;
    }
    ++coletados;
    total += static_cast<size_t>(lista->Count());
    listas.emplace_back(rel->ModeloRelogio() == EModeloRelogio_Tarvenix, std::move(lista));
  }
  const Formato f = s.Saida();
  if (f != Formato::Tabela) {
    SaidaDeMarcacoes saida(std::cout, f, s.Bom());
    for (const auto& [tarvenix, lista] : listas)
      lista->ParaCadaVista([&saida, tarvenix = tarvenix](const VistaMarcacao& m) {
        saida.Adiciona(m.relogio, m.momento, tarvenix, m.cartao, m.porDigital, m.nsr, m.pis);
      });
    saida.Termina();
    return codigoSaida;
  }
  Linha linha(6);
  ImprimeFluxo(std::cout, {"Relógio", "Data e hora", "Cartão", "Digital", "NSR", "PIS"},
               {"relogio", "data_hora", "cartao", "digital", "nsr", "pis"}, f, s.Bom(),
               [&](const std::function<void(const Linha&)>& visita) {
                 for (const auto& [tarvenix, lista] : listas)
                   lista->ParaCada([&, tarvenix = tarvenix](const Marcacao& m) {
                     linha[0] = std::to_string(m.CodigoRelogio());
                     linha[1] = FormataData(m.DataHoraMarcacao(), f);
                     linha[2] = tarvenix ? "" : std::to_string(m.CodigoCartao());
                     linha[3] = tarvenix ? "" : SimNao(m.MarcacaoPorDigital());
                     linha[4] = m.NSR();
                     linha[5] = m.PIS();
                     visita(linha);
                   });
               });
  if (s.Saida() == Formato::Tabela) {
    std::cout << total << (total == 1 ? " marcação" : " marcações") << " de " << coletados
              << (coletados == 1 ? " relógio" : " relógios");
    if (coletados < s.Relogios().size())
      std::cout << " (" << s.Relogios().size() - coletados << " não coletado"
                << (s.Relogios().size() - coletados == 1 ? "" : "s") << ")";
    std::cout << ".\n";
  }
  return codigoSaida;
}

// ---- monitorar -------------------------------------------------------------------------

int MonitoraNaTela(const Opcoes& o, Sessao& s) {
  const long long segundos = o.Tem("--segundos") ? o.Numero("--segundos", 1, 86400 * 365) : 0;
  const int32_t intervalo = o.Tem("--gerar-a-cada")
                                ? static_cast<int32_t>(o.Numero("--gerar-a-cada", 50, 3600000))
                                : 2000;
  s.Conecta();
  std::vector<std::unique_ptr<Timer>> geradores;
  uint32_t semente = 7;
  for (const auto& d : s.Embutidos())
    geradores.push_back(sdk::GeraMarcacoes(s.Loop(), d, intervalo, semente++));

  size_t recebidas = 0;
  const Formato f = s.Saida();
  if (f == Formato::Csv)
    std::cout << (s.Bom() ? "\xEF\xBB\xBF" : "") << "relogio;data_hora;cartao;digital;nsr;pis\n"
              << std::flush;
  if (f == Formato::Tabela)
    std::cout << "Monitorando " << s.Relogios().size()
              << (s.Relogios().size() == 1 ? " relógio" : " relógios") << ". Ctrl-C encerra.\n"
              << std::flush;
  s.Controle().Eventos().MarcacaoRecolhida = [&](const std::shared_ptr<Marcacao>& m) {
    ++recebidas;
    const bool tarvenix = !m->NSR().empty();
    const std::string cartao = tarvenix ? "" : std::to_string(m->CodigoCartao());
    const std::string data = FormataData(m->DataHoraMarcacao(), f);
    if (f == Formato::Json) {
      // One object per line, the fields and types of coletar's array.
      const Tabela linha{{},
                         {"relogio", "data_hora", "cartao", "digital", "nsr", "pis"},
                         {{std::to_string(m->CodigoRelogio()), data, cartao,
                           tarvenix ? "" : SimNao(m->MarcacaoPorDigital()), m->NSR(), m->PIS()}}};
      std::cout << ObjetoJson(linha, 0).dump() << '\n';
    } else if (f == Formato::Csv) {
      std::cout << m->CodigoRelogio() << ';' << data << ';' << cartao << ';'
                << (tarvenix ? "" : SimNao(m->MarcacaoPorDigital())) << ';' << m->NSR() << ';'
                << m->PIS() << '\n';
    } else {
      char linha[160];
      std::snprintf(
          linha, sizeof linha, "%s  relógio %-3d  %s\n", data.c_str(), m->CodigoRelogio(),
          tarvenix ? ("NSR " + m->NSR() + "  PIS " + m->PIS()).c_str()
                   : ("cartão " + cartao + (m->MarcacaoPorDigital() ? "  (digital)" : "")).c_str());
      std::cout << linha;
    }
    std::cout << std::flush;
  };
  int codigo = kOk;
  s.Controle().Eventos().ErroMonitoracao = [&](int16_t n, const std::string& d) {
    if (n == erro::kRelogioDesconectado) {
      // A lost link: the control reopens it and resumes; the person only needs to know.
      std::cerr << "Conexão perdida: " << d.substr(0, d.find("\r\n")) << " Tentando reconectar…\n"
                << std::flush;
      return;
    }
    std::string texto = d;
    for (size_t p; (p = texto.find("\r\n")) != std::string::npos;) texto.replace(p, 2, "\n  ");
    std::cerr << "Erro " << n << " na monitoração: " << texto << "\n";
    codigo = kErroComponente;
  };
  s.Controle().Eventos().RelogioConectado = [&](int16_t c) {
    std::cerr << "Relógio " << c << ": conexão restabelecida; a monitoração continua de onde "
              << "parou.\n"
              << std::flush;
  };
  s.Controle().IniciaMonitoracaoTodosRelogios();
  s.Loop().RodaAte({}, segundos > 0 ? std::chrono::milliseconds(segundos * 1000)
                                    : std::chrono::hours(24 * 365 * 10));
  s.Controle().PararMonitoracaoTodosRelogios();
  if (f == Formato::Tabela)
    std::cout << "Monitoração encerrada: " << recebidas
              << (recebidas == 1 ? " marcação recebida" : " marcações recebidas") << ".\n";
  return codigo;
}

// ---- status, data-hora -----------------------------------------------------------------

int EmbutidosCmd(const Opcoes& o) {
  for (const char* opcao : {"--relogio", "--ip", "--serial", "--relogios", "--modelo", "--chave"})
    if (o.Tem(opcao))
      throw ErroDeUso(std::string("embutidos não recebe ") + opcao +
                      ": trata só dos relógios "
                      "embutidos.");
  const auto pasta = PastaDosEmbutidos();
  if (!pasta) throw ErroDeUso("HOME não definido: não há onde guardar os relógios embutidos.");
  if (o.Tem("--recriar")) {
    try {
      EstadoDosEmbutidos::Recria(*pasta, &Sessao::Interrompido);
    } catch (const std::runtime_error& e) {
      throw ErroDeConexao(e.what());
    }
  }
  Sessao s(o);
  Tabela t{{"Relógio", "Modelo", "Funcionários", "Marcações", "Estado em"},
           {"relogio", "modelo", "usuarios", "marcacoes", "arquivo"},
           {}};
  for (size_t i = 0; i < s.Relogios().size(); ++i) {
    const auto& rel = *s.Relogios()[i];
    const auto& d = *s.Embutidos()[i];
    t.linhas.push_back({Codigo(rel), NomeModelo(rel.ModeloRelogio()),
                        std::to_string(d.Usuarios().size()), std::to_string(d.Versao().tamanho),
                        DiarioDoEmbutido(*pasta, rel.Codigo())});
  }
  if (s.Saida() == Formato::Tabela && o.Tem("--recriar"))
    std::cout << "Relógios embutidos recomeçados com os dados de exemplo.\n";
  Imprime(std::cout, t, s.Saida(), s.Bom());
  return kOk;
}

int MostraStatus(const Opcoes&, Sessao& s) {
  s.Conecta();
  Tabela t{{"Relógio", "Modelo", "Usuários", "Admins", "Senhas", "Digitais", "Marcações",
            "Capacidade", "Ocupação %", "Data e hora", "Firmware"},
           {"relogio", "modelo", "usuarios", "administradores", "senhas", "digitais", "marcacoes",
            "capacidade_registros", "ocupacao_percentual", "data_hora", "firmware"},
           {}};
  for (const auto& rel : s.Relogios()) {
    const auto st = s.Controle().ObterStatusRelogio(rel->Codigo());
    char pct[32];
    std::snprintf(pct, sizeof pct, "%.4g", st->PercentualOcupacacaoBufferMarcacoes());
    t.linhas.push_back(
        {Codigo(*rel), NomeModelo(rel->ModeloRelogio()), std::to_string(st->QuantidadeUsuarios()),
         std::to_string(st->QuantidadeAdministradores()), std::to_string(st->QuantidadeSenhas()),
         std::to_string(st->QuantidadeTemplates()), std::to_string(st->NumeroMarcacoes()),
         std::to_string(st->CapacidadeRegistros()), pct, FormataData(st->DataHora(), s.Saida()),
         st->VersaoFirmware()});
  }
  Imprime(std::cout, t, s.Saida(), s.Bom());
  return kOk;
}

int DataHoraCmd(const Opcoes& o, Sessao& s) {
  if (o.Tem("--definir") && o.Tem("--agora"))
    throw ErroDeUso("use --definir ou --agora, não os dois.");
  std::optional<DataHora> nova;
  if (auto t = o.Valor("--definir")) nova = DataHoraDe(*t, "--definir");
  s.Conecta();
  if (o.Tem("--agora")) nova = s.Loop().Agora();
  if (nova) {
    const DataHora d = *nova;
    return PorRelogio(s, Todos, [&](int16_t c) { return s.Controle().EnviaDataHoraRelogio(c, d); });
  }
  Tabela t{{"Relógio", "Data e hora"}, {"relogio", "data_hora"}, {}};
  for (const auto& rel : s.Relogios())
    t.linhas.push_back(
        {Codigo(*rel), FormataData(s.Controle().ObterDataHoraRelogio(rel->Codigo()), s.Saida())});
  Imprime(std::cout, t, s.Saida(), s.Bom());
  return kOk;
}

// ---- funcionarios ----------------------------------------------------------------------

// What the clock's last error means to the person reading the refusal.
std::string MotivoDoRelogio(int32_t erro) {
  static constexpr std::pair<int32_t, const char*> kMotivos[] = {
      {sdk::codigo::kMemoriaCheia, "memória do relógio cheia"},
      {sdk::codigo::kArgumentoInvalido,
       "valor que o relógio não aceita (PIS, CPF, cartão ou template)"},
      {sdk::codigo::kFalhaGravacao, "falha de gravação no relógio"},
      {sdk::codigo::kNaoEncontrado, "funcionário não encontrado no relógio"},
      {sdk::codigo::kLinkPerdido, "conexão perdida"},
      {sdk::codigo::kNaoSuportado, "operação que o relógio não tem"},
      {sdk::codigo::kChaveExigida, "chave de comunicação recusada"},
      {sdk::codigo::kChaveIncorreta, "chave de comunicação recusada"},
      {sdk::codigo::kTentativasDeChave,
       "chave não conferida (chaves incorretas demais no último minuto)"}};
  for (const auto& [codigo, motivo] : kMotivos)
    if (codigo == erro) return motivo;
  return "motivo não informado pelo relógio";
}

std::string Motivo(const FuncionarioNaoEnviado& r) {
  const std::string erro =
      ": " + MotivoDoRelogio(r.ErroRelogio()) + " (erro " + std::to_string(r.ErroRelogio()) + ")";
  switch (r.MotivoFalha()) {
    case RelogioRecusou:
      return "relógio recusou o funcionário" + erro;
    case RelogioRecusouTemplate:
      return "relógio recusou uma digital" + erro;
    case NaoPossuiSenhaOuTemplate:
      return "sem senha nem digital";
  }
  return std::to_string(r.MotivoFalha());
}

int FuncionariosCmd(const Opcoes& o, Sessao& s) {
  if (o.posicionais.size() < 2)
    throw ErroDeUso("use \"ponto funcionarios enviar|listar|excluir\".");
  const std::string acao = o.posicionais[1];
  if (acao == "enviar") {
    if (o.posicionais.size() != 3) throw ErroDeUso("use \"ponto funcionarios enviar ARQUIVO\".");
    const std::string codificacao = o.Valor("--codificacao").value_or("utf8");
    if (codificacao != "utf8" && codificacao != "latin1")
      throw ErroDeUso("codificação desconhecida \"" + codificacao + "\" (use utf8 ou latin1).");
    // Everything is checked first: nothing is sent from a file with any problem.
    const auto funcionarios = LeFuncionarios(o.posicionais[2], codificacao == "latin1");
    s.Conecta();
    Tabela t{{"Relógio", "Código", "Nome", "Motivo"}, {"relogio", "codigo", "nome", "motivo"}, {}};
    const size_t total = funcionarios.size();
    bool interrompido = false;
    for (const auto& rel : s.Relogios()) {
      // One employee at a time: progress after each, and Ctrl-C stops between two of them,
      // with every employee written so far accounted for.
      size_t enviados = 0, semDigital = 0, naoGravados = 0;
      std::map<int32_t, int32_t> errosVistos;
      for (const auto& f : funcionarios) {
        if (Sessao::Interrompido()) {
          interrompido = true;
          break;
        }
        Progresso("Enviando ao relógio " + Codigo(*rel) + ": " + std::to_string(enviados + 1) +
                  " de " + std::to_string(total));
        s.Controle().RemoverTodosFuncionariosCartao();
        s.Controle().AddFuncionarioCartao(f);
        const auto recusas = s.Controle().EnviarListaFuncionarioCartaoRelogio(rel->Codigo());
        ++enviados;
        // An employee whose record the clock took and one of whose fingers it refused is on
        // the clock, without that finger: counted apart from the ones not stored at all.
        for (int32_t i = 1; i <= recusas->Count(); ++i) {
          const auto& r = *recusas->Item(i);
          (r.MotivoFalha() == RelogioRecusouTemplate ? semDigital : naoGravados)++;
          if (r.MotivoFalha() != NaoPossuiSenhaOuTemplate) ++errosVistos[r.ErroRelogio()];
          t.linhas.push_back({r.CodigoRelogio(), std::to_string(r.FuncionarioCartao()->Codigo()),
                              r.FuncionarioCartao()->Nome(), Motivo(r)});
        }
      }
      s.Controle().RemoverTodosFuncionariosCartao();
      FimProgresso();
      if (s.Saida() == Formato::Tabela || interrompido) {
        std::cerr << "Relógio " << rel->Codigo() << ": " << enviados - semDigital - naoGravados
                  << " de " << total << " funcionários gravados";
        if (semDigital > 0)
          std::cerr << ", " << semDigital
                    << (semDigital == 1 ? " gravado sem alguma digital"
                                        : " gravados sem alguma digital");
        if (naoGravados > 0)
          std::cerr << ", " << naoGravados << (naoGravados == 1 ? " não gravado" : " não gravados");
        if (enviados < total) std::cerr << ", " << total - enviados << " não enviados";
        std::cerr << ".\n";
        for (const auto& [erro, vezes] : errosVistos)
          std::cerr << "  " << vezes << (vezes == 1 ? " recusa" : " recusas")
                    << " do relógio: " << MotivoDoRelogio(erro) << " (erro " << erro << ").\n";
      }
      if (interrompido) break;
    }
    if (interrompido) {
      std::cerr << "Envio interrompido pelo usuário; o que foi gravado fica no relógio.\n";
      if (!t.linhas.empty()) {
        if (s.Saida() == Formato::Tabela) std::cout << "Funcionários não enviados:\n";
        Imprime(std::cout, t, s.Saida(), s.Bom());
      }
      return kCancelado;
    }
    if (!t.linhas.empty() || s.Saida() != Formato::Tabela) {
      if (s.Saida() == Formato::Tabela) std::cout << "Funcionários não enviados:\n";
      Imprime(std::cout, t, s.Saida(), s.Bom());
    } else {
      std::cout << "Todos os " << total << " funcionários foram gravados em " << s.Relogios().size()
                << (s.Relogios().size() == 1 ? " relógio.\n" : " relógios.\n");
    }
    return t.linhas.empty() ? kOk : kRecusado;
  }
  if (acao == "listar") {
    s.Conecta();
    Tabela t{
        {"Relógio", "Código", "Nome", "Supervisor", "Senha", "Cartão", "PIS", "CPF", "Digitais"},
        {"relogio", "codigo", "nome", "supervisor", "tem_senha", "cartao", "pis", "cpf", "dedos"},
        {}};
    t.textos = {"cartao"};  // the card as the clock keeps it: up to 20 characters, zeros kept
    for (const auto& rel : s.Relogios()) {
      const auto lista = s.Controle().ObterListaFuncionarioCartaoRelogio(rel->Codigo());
      // The register model keeps a card per user, read one user at a time from the clock's
      // own SDK object (the control's read leaves the card out).
      const auto entrada = s.Controle().Relogios().ItemByCodRelogio(std::to_string(rel->Codigo()));
      const bool temCartao = rel->ModeloRelogio() == EModeloRelogio_Tarvenix && entrada;
      for (int32_t i = 1; i <= lista->Count(); ++i) {
        const auto& f = *lista->Item(i);
        std::string dedos;
        for (const auto& tpl : *f.Template())
          dedos += (dedos.empty() ? "" : ",") + std::to_string(tpl->Dedo());
        std::string cartao;
        if (temCartao && !entrada->CZKEM()->SdkGetUserCardByTextId(
                             rel->Codigo(), std::to_string(f.Codigo()), cartao))
          cartao.clear();
        t.linhas.push_back({Codigo(*rel), std::to_string(f.Codigo()), f.Nome(),
                            SimNao(f.Supervisor()), SimNao(!f.Senha().empty()), cartao, f.PIS(),
                            f.CPF(), dedos});
        if (ProgressoVisivel() && s.Saida() == Formato::Tabela && lista->Count() > 200 &&
            (i % 100 == 0 || i == lista->Count()))
          std::cerr << "\rRelógio " << rel->Codigo() << ": " << i << " de " << lista->Count()
                    << " funcionários" << (i == lista->Count() ? "\n" : "") << std::flush;
      }
    }
    // The clock hands its users out in text order (1, 10, 11, 2); people and programs expect
    // codes as numbers.
    std::stable_sort(t.linhas.begin(), t.linhas.end(), [](const auto& a, const auto& b) {
      const auto chave = [](const std::vector<std::string>& l) {
        return std::make_pair(NumeroDe(l[0]).value_or(0), NumeroDe(l[1]).value_or(0));
      };
      return chave(a) < chave(b);
    });
    Imprime(std::cout, t, s.Saida(), s.Bom());
    return kOk;
  }
  if (acao == "excluir" && o.Tem("--todos")) {
    if (o.Tem("--codigo")) throw ErroDeUso("use --codigo ou --todos, não os dois.");
    if (!Confirma(o, s, "Excluir todos os funcionários")) return kErroComponente;
    s.Conecta();
    return PorRelogio(s, Todos, [&](int16_t c) {
      const auto lista = s.Controle().ObterListaFuncionarioCartaoRelogio(c);
      bool todos = true;
      for (int32_t i = 1; i <= lista->Count(); ++i)
        todos = s.Controle().ExcluiFuncionarioCartaoRelogio(c, lista->Item(i)) && todos;
      return todos;
    });
  }
  if (acao == "excluir") {
    const auto codigo = static_cast<int32_t>(o.Numero("--codigo", 1, INT32_MAX));
    s.Conecta();
    return PorRelogio(s, Todos, [&](int16_t c) {
      // The clock's own record tells which fingers and password to clear.
      const auto lista = s.Controle().ObterListaFuncionarioCartaoRelogio(c);
      auto f = lista->ItemByCodCartaoFuncionario(codigo);
      if (!f) {
        std::cerr << "Relógio " << c << ": o funcionário " << codigo << " não está gravado.\n";
        return false;
      }
      return s.Controle().ExcluiFuncionarioCartaoRelogio(c, f);
    });
  }
  throw ErroDeUso("ação desconhecida \"" + acao + "\" (use enviar, listar ou excluir).");
}

// ---- configuração ----------------------------------------------------------------------

std::pair<int16_t, int16_t> HoraMinuto(const std::string& texto, const std::string& opcao) {
  const auto dois = texto.find(':');
  auto h = dois == std::string::npos ? std::nullopt : NumeroDe(texto.substr(0, dois));
  auto m = dois == std::string::npos ? std::nullopt : NumeroDe(texto.substr(dois + 1));
  if (!h || !m || *h < 0 || *h > 23 || *m < 0 || *m > 59)
    throw ErroDeUso("horário inválido em " + opcao + ": \"" + texto + "\" (use HH:MM).");
  return {static_cast<int16_t>(*h), static_cast<int16_t>(*m)};
}

EDiaDaSemana DiaDe(const std::string& texto) {
  static const std::map<std::string, EDiaDaSemana> kDias = {
      {"domingo", Domingo}, {"segunda", Segunda}, {"terca", Terca},
      {"terça", Terca},     {"quarta", Quarta},   {"quinta", Quinta},
      {"sexta", Sexta},     {"sabado", Sabado},   {"sábado", Sabado}};
  auto it = kDias.find(texto);
  if (it == kDias.end()) throw ErroDeUso("dia da semana desconhecido: \"" + texto + "\".");
  return it->second;
}

int SireneCmd(const Opcoes& o, Sessao& s) {
  auto& c = s.Controle();
  if (o.Tem("--duracao")) {
    const auto d = static_cast<int16_t>(o.Numero("--duracao", 0, 32767));
    s.Conecta();
    return PorRelogio(s, SoQuorvel,
                      [&](int16_t r) { return c.SetTempoDuracaoToqueSireneRelogio(r, d); });
  }
  if (o.Tem("--dia")) {
    const EDiaDaSemana dia = DiaDe(o.Obrigatorio("--dia"));
    if (o.Tem("--apagar")) {
      s.Conecta();
      return PorRelogio(s, SoQuorvel,
                        [&](int16_t r) { return c.DelConfigSireneDiaSemanaRelogio(r, dia); });
    }
    auto lista = std::make_shared<ListaHorario>();
    std::istringstream in(o.Obrigatorio("--horarios"));
    for (std::string item; std::getline(in, item, ',');) {
      auto [h, m] = HoraMinuto(item, "--horarios");
      auto x = std::make_shared<Horario>();
      x->Hora(h);
      x->Minuto(m);
      lista->Add(x);
    }
    if (lista->Count() < 1 || lista->Count() > 12)
      throw ErroDeUso("informe de 1 a 12 horários em --horarios.");
    s.Conecta();
    return PorRelogio(s, SoQuorvel,
                      [&](int16_t r) { return c.SetSireneDiaSemanaRelogio(r, lista, dia); });
  }
  const auto codigo = static_cast<int16_t>(o.Numero("--codigo", 1, 50));
  if (o.Tem("--apagar")) {
    s.Conecta();
    return PorRelogio(s, SoQuorvel,
                      [&](int16_t r) { return c.DelConfigSireneDiariaRelogio(r, codigo); });
  }
  auto [h, m] = HoraMinuto(o.Obrigatorio("--hora"), "--hora");
  s.Conecta();
  return PorRelogio(s, SoQuorvel, [&, h = h, m = m](int16_t r) {
    return c.SetSireneDiariaRelogio(r, codigo, h, m);
  });
}

int EmpregadorCmd(const Opcoes& o, Sessao& s) {
  const std::string tipo = o.Obrigatorio("--tipo");
  if (tipo != "cnpj" && tipo != "cpf") throw ErroDeUso("--tipo deve ser cnpj ou cpf.");
  const std::string nome = o.Obrigatorio("--nome");
  const std::string documento =
      DocumentoConferido(o.Obrigatorio("--documento"), tipo == "cpf", "--documento");
  const std::string cei =
      CnoCaepfConferido(o.Valor("--cei").value_or(""), tipo == "cpf", documento, false, "--cei");
  const std::string endereco = o.Valor("--endereco").value_or("");
  // With a store, each clock that took the employer is recorded there: the fiscal export takes
  // its header from it. Opened first, so a bad store is told before any clock is changed.
  std::unique_ptr<quorvel::armazem::Armazem> banco;
  if (o.Tem("--banco")) banco = quorvel::armazem::Armazem::Abre(EnderecoBanco(o), NomeColetor(o));
  s.Conecta();
  return PorRelogio(s, SoTarvenix, [&](int16_t r) {
    const bool gravou = s.Controle().EnviaEmpregadorRelogio(r, nome, tipo == "cnpj" ? CNPJ : CPF,
                                                            documento, cei, endereco);
    if (gravou && banco)
      banco->GravaEmpregador({r, tipo == "cpf", documento, cei, nome, endereco, ""});
    return gravou;
  });
}

int HorarioVeraoCmd(const Opcoes& o, Sessao& s) {
  if (o.Tem("--apagar")) {
    s.Conecta();
    return PorRelogio(s, Todos,
                      [&](int16_t r) { return s.Controle().DelConfigHorarioVeraoRelogio(r); });
  }
  const DataHora inicio = DataHoraDe(o.Obrigatorio("--inicio"), "--inicio");
  const DataHora fim = DataHoraDe(o.Obrigatorio("--fim"), "--fim");
  // Full dates: a summer time that ends in the next year carries that year in --fim.
  if (!(inicio < fim))
    throw ErroDeUso("--fim (" + o.Obrigatorio("--fim") + ") deve ser depois de --inicio (" +
                    o.Obrigatorio("--inicio") + "); nada foi gravado.");
  s.Conecta();
  return PorRelogio(s, Todos,
                    [&](int16_t r) { return s.Controle().SetHorarioVeraoRelogio(r, inicio, fim); });
}

int VerificacaoCmd(const Opcoes& o, Sessao& s) {
  if (o.posicionais.size() != 2 || (o.posicionais[1] != "1para1" && o.posicionais[1] != "1paran"))
    throw ErroDeUso("use \"ponto verificacao 1para1\" ou \"ponto verificacao 1paran\".");
  const bool umParaUm = o.posicionais[1] == "1para1";
  s.Conecta();
  return PorRelogio(s, Todos, [&](int16_t r) {
    return umParaUm ? s.Controle().Set1Para1Relogio(r) : s.Controle().Set1ParaNRelogio(r);
  });
}

int ColetaCmd(const Opcoes& o, Sessao& s) {
  return o.Tem("--banco") ? ColetarParaBanco(o, s) : ColetaNaTela(o, s);
}

int ApagaMarcacoesCmd(const Opcoes& o, Sessao& s) {
  if (!Confirma(o, s, "Apagar as marcações")) return kErroComponente;
  s.Conecta();
  return PorRelogio(s, SoQuorvel,
                    [&](int16_t r) { return s.Controle().ApagarMarcacoesRelogio(r); });
}

int LimpaCmd(const Opcoes& o, Sessao& s) {
  if (!Confirma(o, s, "Apagar usuários, digitais e marcações")) return kErroComponente;
  s.Conecta();
  return PorRelogio(s, SoQuorvel,
                    [&](int16_t r) { return s.Controle().ApagarTodosRegistrosRelogio(r); });
}

int HabilitaOuDesabilita(Sessao& s, bool habilita) {
  s.Conecta();
  return PorRelogio(s, Todos,
                    [&](int16_t r) { return s.Controle().HabilitaDesabilitaRelogio(r, habilita); });
}
int HabilitaCmd(const Opcoes&, Sessao& s) { return HabilitaOuDesabilita(s, true); }
int DesabilitaCmd(const Opcoes&, Sessao& s) { return HabilitaOuDesabilita(s, false); }

}  // namespace

// ---- The handlers the command table names: each opens its session of clocks and runs its
// command on it.

namespace {

int ComSessao(const Opcoes& o, int (*comando)(const Opcoes&, Sessao&)) {
  Sessao s(o);
  return comando(o, s);
}

}  // namespace

int Coletar(const Opcoes& o) { return ComSessao(o, ColetaCmd); }
int Monitorar(const Opcoes& o) { return ComSessao(o, MonitoraNaTela); }
int Status(const Opcoes& o) { return ComSessao(o, MostraStatus); }
int DataHoraDosRelogios(const Opcoes& o) { return ComSessao(o, DataHoraCmd); }
int Funcionarios(const Opcoes& o) { return ComSessao(o, FuncionariosCmd); }
int Empregador(const Opcoes& o) { return ComSessao(o, EmpregadorCmd); }
int AfdDoProprioRelogio(const Opcoes& o) { return ComSessao(o, AfdDoRelogio); }
int Sirene(const Opcoes& o) { return ComSessao(o, SireneCmd); }
int HorarioVerao(const Opcoes& o) { return ComSessao(o, HorarioVeraoCmd); }
int Verificacao(const Opcoes& o) { return ComSessao(o, VerificacaoCmd); }
int ApagarMarcacoes(const Opcoes& o) { return ComSessao(o, ApagaMarcacoesCmd); }
int Limpar(const Opcoes& o) { return ComSessao(o, LimpaCmd); }
int Habilitar(const Opcoes& o) { return ComSessao(o, HabilitaCmd); }
int Desabilitar(const Opcoes& o) { return ComSessao(o, DesabilitaCmd); }
int Embutidos(const Opcoes& o) { return EmbutidosCmd(o); }

}  // namespace ponto
