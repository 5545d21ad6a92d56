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

Opções:
  --endereco IP              endereço de escuta (padrão 127.0.0.1)
  --marcacoes-por-minuto N   gera marcações novas nesse ritmo
  --semear N                 acrescenta N marcações ao iniciar (para medições)
  --cair-apos N              derruba cada conexão depois de N quadros recebidos
  --atraso MS                atrasa cada resposta
  --recusar OP=CODIGO        a operação OP responde falso com esse código
  --corromper-apos N         corrompe o N-ésimo quadro enviado em cada conexão
  --max-conexoes N           conexões TCP simultâneas (padrão 256); cheio, uma nova conexão
                             só toma o lugar de uma sem quadro há mais de --ocioso
  --ocioso SEGUNDOS          encerra conexões sem quadro completo há tanto tempo (padrão 300)
  --reparar                  move registros danificados do diário para ARQUIVO.danificado
  --compactar-apos BYTES     compacta o diário passado esse tamanho (padrão 16 MiB)
  --falhar-escrita-apos N    simula disco cheio depois de N escritas no diário
  --detalhar                 escreve cada pedido recebido na saída de erros
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

Opcoes LeOpcoes(int argc, char** argv) {
  Opcoes o;
  OpcoesServidor& sv = o.servidor;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto valor = [&]() -> std::string {
      if (i + 1 >= argc) Uso("a opção " + a + " precisa de um valor");
      return argv[++i];
    };
    if (a == "--version" || a == "--versao") {
      std::cout << "relogio-virtual " << QUORVEL_VERSAO_PROJETO << "\n";
      std::exit(0);
    }
    if (a == "--ajuda" || a == "--help") {
      std::cout << kAjuda;
      std::exit(0);
    } else if (a == "--relogio")
      o.relogios.push_back(LeEspec(valor()));
    else if (a == "--endereco")
      sv.endereco = valor();
    else if (a == "--marcacoes-por-minuto")
      sv.marcacoesPorMinuto = static_cast<int32_t>(Numero(valor(), a));
    else if (a == "--semear")
      o.semear = Numero(valor(), a);
    else if (a == "--cair-apos")
      sv.cairApos = Numero(valor(), a);
    else if (a == "--atraso")
      sv.atrasoMs = static_cast<int32_t>(Numero(valor(), a));
    else if (a == "--corromper-apos")
      sv.corromperApos = Numero(valor(), a);
    else if (a == "--max-conexoes")
      sv.maxConexoes = static_cast<size_t>(Numero(valor(), a));
    else if (a == "--ocioso")
      sv.ociosoS = static_cast<int32_t>(Numero(valor(), a));
    else if (a == "--reparar")
      o.diario.reparar = true;
    else if (a == "--detalhar")
      sv.detalhar = true;
    else if (a == "--compactar-apos")
      o.diario.compactarApos = static_cast<uint64_t>(Numero(valor(), a));
    else if (a == "--falhar-escrita-apos")
      o.diario.falharEscritaApos = Numero(valor(), a);
    else if (a == "--recusar") {
      const std::string v = valor();
      const auto igual = v.find('=');
      if (igual == std::string::npos) Uso("use --recusar OPERACAO=CODIGO");
      sv.recusas.emplace_back(v.substr(0, igual), static_cast<int32_t>(std::strtol(
                                                      v.c_str() + igual + 1, nullptr, 10)));
    } else
      Uso("opção desconhecida: " + a);
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
