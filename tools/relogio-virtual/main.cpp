// relogio-virtual: serves virtual clocks over the clock protocol, on TCP ports of a loopback
// address or on pseudo-terminals standing in for serial lines. This file reads the command
// line and sets the clocks up; servidor.cpp serves them.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "afd/afd.h"
#include "quorvel/documentos.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "quorvel/versao.h"
#include "sdk/diario_virtual.h"
#include "servidor.h"

namespace {

using namespace quorvel;
using relogio_virtual::OpcoesServidor;
using Relogio = relogio_virtual::RelogioServido;

volatile std::sig_atomic_t g_parar = 0;
void AoSinal(int) { g_parar = 1; }

const char* kAjuda = R"(relogio-virtual — relógios virtuais servidos pelo protocolo de relógio

Uso: relogio-virtual --relogio ESPEC [--relogio ESPEC ...] [opções]

ESPEC: lista separada por vírgulas de
  codigo=N         código do relógio (obrigatório)
  modelo=M         quorvel (padrão) ou tarvenix
  porta=P          porta TCP (0: uma porta livre; padrão 4370)
  serial           serve num pseudo-terminal em vez de TCP (o caminho é impresso)
  firmware=V       versão do firmware
  chave=K          chave de comunicação exigida dos clientes
  dados=ARQUIVO    diário durável do estado (retomado ao reiniciar; compactado num
                   instantâneo ARQUIVO.instantaneo)
  exemplo          funcionários e marcações de exemplo (só num diário vazio)
  capacidade=N     capacidade de registros (e de usuários e digitais, se maior)
  desvio=SEGUNDOS  o relógio adianta (negativo: atrasa) esse tanto em relação ao computador

  No arquivo fiscal (AFD) de um relógio tarvenix:
  fabricacao=N     número de fabricação, até 17 dígitos (padrão: o código com zeros)
  modelo_rep=NOME  nome do modelo, até 30 caracteres (padrão: QUORVEL REP VIRTUAL)
  fabricante=CNPJ  CNPJ do fabricante
  responsavel=CPF  CPF de quem faz as alterações registradas (empregador, hora,
                   funcionários)
  fuso=-0300       fuso das datas e horas (padrão -0300)
)";

[[noreturn]] void Uso(const std::string& motivo) {
  std::cerr << "relogio-virtual: " << motivo << "\nVeja \"relogio-virtual --ajuda\".\n";
  std::exit(2);
}

long long Numero(const std::string& texto, const std::string& onde) {
  char* fim = nullptr;
  const long long v = std::strtoll(texto.c_str(), &fim, 10);
  if (texto.empty() || *fim != '\0' || v < 0)
    Uso("número inválido em " + onde + ": \"" + texto + "\"");
  return v;
}

long long NumeroComSinal(const std::string& texto, const std::string& onde) {
  char* fim = nullptr;
  errno = 0;
  const long long v = std::strtoll(texto.c_str(), &fim, 10);
  // A century either way is more than any clock drifts and keeps dates in range.
  if (texto.empty() || *fim != '\0' || errno != 0 || v < -3155760000LL || v > 3155760000LL)
    Uso("número inválido em " + onde + ": \"" + texto + "\"");
  return v;
}

bool SoDigitos(const std::string& v) {
  return std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// `valor` when `ok`; else the run stops naming the item and what it should be.
std::string Valido(const std::string& item, std::string valor, bool ok, const char* regra) {
  if (!ok) Uso("valor inválido em --relogio: \"" + item + "\" (esperado: " + regra + ")");
  return valor;
}

Relogio LeEspec(const std::string& espec) {
  Relogio r;
  std::istringstream in(espec);
  for (std::string item; std::getline(in, item, ',');) {
    const auto igual = item.find('=');
    const std::string k = item.substr(0, igual),
                      v = igual == std::string::npos ? "" : item.substr(igual + 1);
    if (k == "codigo")
      r.codigo = static_cast<int32_t>(Numero(v, "codigo"));
    else if (k == "modelo" && ModeloPorNome(v))
      r.modelo = *ModeloPorNome(v);
    else if (k == "porta")
      r.porta = static_cast<int32_t>(Numero(v, "porta"));
    else if (k == "serial")
      r.serial = true;
    else if (k == "exemplo")
      r.exemplo = true;
    else if (k == "firmware")
      r.firmware = v;
    else if (k == "chave")
      r.chave = v;
    else if (k == "dados")
      r.dados = v;
    else if (k == "desvio")
      r.desvio = NumeroComSinal(v, "desvio");
    else if (k == "capacidade")
      r.capacidade = static_cast<int32_t>(Numero(v, "capacidade"));
    else if (k == "fabricacao")
      r.rep.fabricacao =
          Valido(item, v, !v.empty() && v.size() <= 17 && SoDigitos(v), "de 1 a 17 dígitos");
    else if (k == "modelo_rep")
      r.rep.modelo = Valido(item, v, !v.empty() && v.size() <= 30, "de 1 a 30 caracteres");
    else if (k == "fabricante")
      r.rep.fabricante =
          Valido(item, documentos::SoDigitos(v), documentos::CnpjValido(documentos::SoDigitos(v)),
                 "um CNPJ com os dígitos verificadores certos");
    else if (k == "responsavel")
      r.rep.responsavel =
          Valido(item, documentos::SoDigitos(v), documentos::CpfValido(documentos::SoDigitos(v)),
                 "um CPF com os dígitos verificadores certos");
    else if (k == "fuso")
      r.rep.fusoMinutos = afd::FusoDe(Valido(item, v, afd::FusoDe(v).has_value(),
                                             "sinal e quatro dígitos, como -0300"))
                              .value_or(-180);
    else
      Uso("item desconhecido em --relogio: \"" + item + "\"");
  }
  if (r.codigo < 1 || r.codigo > 32767) Uso("--relogio precisa de codigo=1..32767");
  const sdk::IdentificacaoRep padrao = sdk::IdentificacaoPadrao(r.codigo);
  if (r.rep.fabricacao.empty()) r.rep.fabricacao = padrao.fabricacao;
  if (r.rep.modelo.empty()) r.rep.modelo = padrao.modelo;
  if (r.porta > 65535) Uso("porta inválida");
  return r;
}

struct Opcoes {
  OpcoesServidor servidor;
  std::vector<Relogio> relogios;
  int64_t semear = 0;
  sdk::OpcoesDiario diario;
};

// Where an option acts. The fault switches (marked below) act at three depths, and a test that
// uses one should know which: the link (the serving loop drops, delays or corrupts frames),
// the clock (an operation answers false with a code, as a device would) and the journal
// (writes fail as on a full disk).
enum class Camada { Laco, Relogio, Diario, Partida };

struct OpcaoDaLinha {
  const char* nome;
  const char* valor;  // what it takes, as the help names it; empty for a switch
  Camada camada;
  bool falha;         // a fault switch, for tests and for trying a collector against a bad clock
  const char* ajuda;  // may hold line breaks; later lines are indented under the first
  void (*aplica)(Opcoes& o, const std::string& nome, const std::string& valor);
};

int32_t Int32(const std::string& v, const std::string& nome) {
  return static_cast<int32_t>(std::min<long long>(Numero(v, nome), INT32_MAX));
}

const OpcaoDaLinha kOpcoes[] = {
    {"--endereco", "IP", Camada::Laco, false, "endereço de escuta (padrão 127.0.0.1)",
     [](Opcoes& o, const std::string&, const std::string& v) { o.servidor.endereco = v; }},
    {"--marcacoes-por-minuto", "N", Camada::Laco, false,
     "gera marcações novas nesse ritmo, em todos os relógios de uma\n"
     "vez; o instante de cada rodada vai para o erro padrão",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.servidor.marcacoesPorMinuto = Int32(v, n);
     }},
    {"--semear", "N", Camada::Partida, false, "acrescenta N marcações ao iniciar (para medições)",
     [](Opcoes& o, const std::string& n, const std::string& v) { o.semear = Numero(v, n); }},
    {"--cair-apos", "N", Camada::Laco, true, "derruba cada conexão depois de N quadros recebidos",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.servidor.cairApos = Numero(v, n);
     }},
    {"--atraso", "MS", Camada::Laco, true, "atrasa cada resposta",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.servidor.atrasoMs = Int32(v, n);
     }},
    {"--recusar", "OP=CODIGO", Camada::Relogio, true,
     "a operação OP responde falso com esse código",
     [](Opcoes& o, const std::string&, const std::string& v) {
       const auto igual = v.find('=');
       if (igual == std::string::npos) Uso("use --recusar OPERACAO=CODIGO");
       o.servidor.recusas.emplace_back(
           v.substr(0, igual),
           static_cast<int32_t>(std::strtol(v.c_str() + igual + 1, nullptr, 10)));
     }},
    {"--corromper-apos", "N", Camada::Laco, true,
     "corrompe o N-ésimo quadro enviado em cada conexão",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.servidor.corromperApos = Numero(v, n);
     }},
    {"--max-conexoes", "N", Camada::Laco, false,
     "conexões TCP simultâneas (padrão 256); cheio, uma nova conexão\n"
     "só toma o lugar de uma sem quadro há mais de --ocioso",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.servidor.maxConexoes = static_cast<size_t>(Numero(v, n));
     }},
    {"--ocioso", "SEGUNDOS", Camada::Laco, false,
     "encerra conexões sem quadro completo há tanto tempo (padrão 300)",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.servidor.ociosoS = Int32(v, n);
     }},
    {"--reparar", "", Camada::Diario, false,
     "move registros danificados do diário para ARQUIVO.danificado",
     [](Opcoes& o, const std::string&, const std::string&) { o.diario.reparar = true; }},
    {"--compactar-apos", "BYTES", Camada::Diario, false,
     "compacta o diário passado esse tamanho (padrão 16 MiB)",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.diario.compactarApos = static_cast<uint64_t>(Numero(v, n));
     }},
    {"--falhar-escrita-apos", "N", Camada::Diario, true,
     "simula disco cheio depois de N escritas no diário",
     [](Opcoes& o, const std::string& n, const std::string& v) {
       o.diario.falharEscritaApos = Numero(v, n);
     }},
    {"--detalhar", "", Camada::Laco, false, "escreve cada pedido recebido na saída de erros",
     [](Opcoes& o, const std::string&, const std::string&) { o.servidor.detalhar = true; }},
};

// The options' part of the help, from the table: name and value in a column of 27, the text
// after it; the fault switches apart, by the depth they act at.
std::string AjudaDasOpcoes() {
  constexpr size_t kColuna = 29;
  const auto secao = [&](const char* titulo, auto&& inclui) {
    std::string texto = std::string("\n") + titulo + "\n";
    for (const OpcaoDaLinha& op : kOpcoes) {
      if (!inclui(op)) continue;
      std::string linha = std::string("  ") + op.nome + (*op.valor ? " " : "") + op.valor;
      linha.resize(std::max(linha.size() + 1, kColuna), ' ');
      for (const char* c = op.ajuda; *c; ++c)
        linha += *c == '\n' ? "\n" + std::string(kColuna, ' ') : std::string(1, *c);
      texto += linha + "\n";
    }
    return texto;
  };
  const auto falhaEm = [](Camada c) {
    return [c](const OpcaoDaLinha& op) { return op.falha && op.camada == c; };
  };
  return secao("Opções:", [](const OpcaoDaLinha& op) { return !op.falha; }) +
         secao("Falhas simuladas na conexão (para testes):", falhaEm(Camada::Laco)) +
         secao("Falhas simuladas no relógio:", falhaEm(Camada::Relogio)) +
         secao("Falhas simuladas no diário:", falhaEm(Camada::Diario));
}

Opcoes LeOpcoes(int argc, char** argv) {
  Opcoes o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--version" || a == "--versao") {
      std::cout << "relogio-virtual " << QUORVEL_VERSAO_PROJETO << "\n";
      std::exit(0);
    }
    if (a == "--ajuda" || a == "--help") {
      std::cout << kAjuda << AjudaDasOpcoes();
      std::exit(0);
    }
    if (a == "--relogio") {
      if (i + 1 >= argc) Uso("a opção " + a + " precisa de um valor");
      o.relogios.push_back(LeEspec(argv[++i]));
      continue;
    }
    const auto op = std::find_if(std::begin(kOpcoes), std::end(kOpcoes),
                                 [&](const OpcaoDaLinha& x) { return a == x.nome; });
    if (op == std::end(kOpcoes)) Uso("opção desconhecida: " + a);
    std::string valor;
    if (*op->valor) {
      if (i + 1 >= argc) Uso("a opção " + a + " precisa de um valor");
      valor = argv[++i];
    }
    op->aplica(o, a, valor);
  }
  if (o.relogios.empty()) Uso("informe ao menos um --relogio");
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Opcoes o = LeOpcoes(argc, argv);
  std::signal(SIGTERM, AoSinal);
  std::signal(SIGINT, AoSinal);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    for (Relogio& r : o.relogios) {
      r.dispositivo = std::make_shared<sdk::DispositivoVirtual>(r.modelo, r.firmware);
      if (r.desvio != 0) r.dispositivo->DefineDesvio(r.desvio);
      r.dispositivo->DefineIdentificacaoRep(r.rep);
      if (r.capacidade > 0)
        r.dispositivo->DefineCapacidades(
            {std::max(3000, r.capacidade), std::max(3000, r.capacidade), r.capacidade});
      bool novo = true;
      if (!r.dados.empty()) {
        std::vector<std::string> relatorio;
        try {
          r.diario =
              std::make_unique<sdk::DiarioVirtual>(r.dados, r.dispositivo, o.diario, relatorio);
        } catch (const sdk::ErroDiario& e) {
          std::cerr << "relogio-virtual: relógio " << r.codigo << ": " << e.what() << "\n";
          return 2;
        }
        for (const auto& linha : relatorio)
          std::cerr << "relógio " << r.codigo << ": " << linha << "\n";
        novo = r.diario->Retomados() == 0;
        if (!novo)
          std::cerr << "relógio " << r.codigo << ": " << r.diario->Retomados()
                    << " registros retomados de " << r.dados << "\n";
        r.diario->EmLote(true);
      }
      if (r.exemplo && novo) sdk::SemeiaExemplo(*r.dispositivo);
      for (int64_t i = 0; i < o.semear; ++i) {
        if (r.modelo == EModeloRelogio_Tarvenix)
          r.dispositivo->AdicionaRegistro("12034567899");
        else
          r.dispositivo->AdicionaMarcacao(static_cast<int32_t>(i % 50) + 1, 1);
      }
      if (r.diario) {
        r.diario->EmLote(false);
        r.diario->CompactaSeConvem();
        for (const std::string& aviso : r.diario->TomaAvisos())
          std::cerr << "relogio-virtual: " << aviso << "\n";
      }
      for (const auto& [op, codigo] : o.servidor.recusas) r.dispositivo->Recusa(op, codigo);
    }
    relogio_virtual::Publica(o.servidor, o.relogios);
  } catch (const std::exception& e) {
    std::cerr << "relogio-virtual: " << e.what() << "\n";
    return 1;
  }
  const int codigo = relogio_virtual::Serve(o.servidor, o.relogios, g_parar);
  o.relogios.clear();  // journals synced and closed
  std::cerr << "relogio-virtual encerrado.\n";
  return codigo;
}
