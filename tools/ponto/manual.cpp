#include "manual.h"

#include <algorithm>
#include <sstream>

#include "comandos.h"
#include "opcoes.h"
#include "quorvel/versao.h"

namespace ponto {

namespace {

// Text as roff shows it: backslashes and hyphens escaped, a line never read as a request.
std::string Roff(const std::string& texto) {
  std::string r;
  bool inicioDeLinha = true;
  for (char c : texto) {
    if (inicioDeLinha && (c == '.' || c == '\'')) r += "\\&";
    if (c == '\\')
      r += "\\e";
    else if (c == '-')
      r += "\\-";
    else
      r += c;
    inicioDeLinha = c == '\n';
  }
  return r;
}

// A help text kept as it is printed (its columns line up), in a block without filling.
std::string Bloco(const std::string& texto) {
  std::string t = texto;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  return ".nf\n" + Roff(t) + "\n.fi\n";
}

std::string Lista(const std::vector<std::string>& nomes) {
  std::string r;
  for (const auto& n : nomes) r += (r.empty() ? "" : ", ") + ("\\fB" + Roff(n) + "\\fR");
  return r;
}

// The general help from its "Relógios" paragraph on: the options every command takes.
std::string TextoDasOpcoesComuns() {
  const std::string geral = AjudaGeral();
  const size_t inicio = geral.find("Relógios");
  const size_t fim = geral.find("Use \"ponto COMANDO");
  return geral.substr(inicio, fim == std::string::npos ? fim : fim - inicio);
}

}  // namespace

std::vector<std::string> ComandosDoTour(const std::string& readme) {
  const size_t secao = readme.find("## A tour of `ponto`");
  const size_t inicio = secao == std::string::npos ? secao : readme.find("```sh\n", secao);
  const size_t fim = inicio == std::string::npos ? inicio : readme.find("```\n", inicio + 6);
  if (fim == std::string::npos) return {};
  std::vector<std::string> comandos;
  std::istringstream linhas(readme.substr(inicio + 6, fim - inicio - 6));
  for (std::string linha; std::getline(linhas, linha);) {
    std::string comando = linha.substr(0, linha.find(" #"));
    while (!comando.empty() && comando.back() == ' ') comando.pop_back();
    if (comando.rfind("ponto ", 0) == 0) comandos.push_back(comando);
  }
  return comandos;
}

std::string ManualDoPonto(const std::vector<std::string>& exemplos) {
  std::ostringstream m;
  m << ".\\\" -*- coding: UTF-8 -*-\n"
    << ".TH PONTO 1 \"\" \"quorvel " << QUORVEL_VERSAO_PROJETO << "\" \"Comandos do usuário\"\n"
    << ".SH NOME\nponto \\- coleta e configuração de relógios de ponto\n"
    << ".SH SINOPSE\n.B ponto\n.I COMANDO\n.RI [ opções ]\n.br\n.B ponto \\-\\-ajuda\n.br\n"
    << ".B ponto \\-\\-version\n"
    << ".SH DESCRIÇÃO\n.B ponto\n"
    << "conversa com relógios de ponto pela rede (TCP, porta 4370 por padrão) ou pela porta "
       "serial: coleta marcações sob demanda ou em tempo real e as guarda num banco (SQLite ou "
       "PostgreSQL), envia, lista e exclui funcionários, acerta a data e hora, grava os dados do "
       "empregador, programa sirenes, horário de verão e o modo de verificação, mostra a "
       "situação de cada relógio e gera o arquivo fiscal AFD. Sem relógio informado, usa dois "
       "relógios virtuais embutidos (1 quorvel, 2 tarvenix) com dados de exemplo, que guardam o "
       "que se faz neles de um comando para o outro.\n"
    << ".SH COMANDOS\n";
  for (const Comando& c : TabelaDeComandos()) {
    m << ".SS " << Roff(c.nome) << "\n" << Bloco(c.ajuda);
    std::vector<std::string> opcoes;
    for (const Opcao& o : c.opcoes) opcoes.push_back(o.nome);
    m << ".PP\nOpções: " << (opcoes.empty() ? "só as comuns" : Lista(opcoes) + " e as comuns")
      << " (abaixo).\n";
  }
  std::vector<std::string> comuns;
  for (const Opcao& o : OpcoesComuns()) comuns.push_back(o.nome);
  m << ".SH OPÇÕES COMUNS\nAceitas por todos os comandos que falam com relógios: " << Lista(comuns)
    << ", e \\fB\\-\\-ajuda\\fR.\n.PP\n"
    << Bloco(TextoDasOpcoesComuns()) << ".SH AMBIENTE\n"
    << ".TP\n.B XDG_STATE_HOME\nOnde os relógios embutidos guardam seu estado "
       "(\\fI$XDG_STATE_HOME/quorvel\\fR); sem ela, \\fI$HOME/.local/state/quorvel\\fR.\n"
    << ".TP\n.B PONTO_BANCO\nO banco de marcações quando \\fB\\-\\-banco\\fR não é dado "
       "(padrão: \\fIponto.db\\fR na pasta atual).\n"
    << ".TP\n.B QUORVEL_CHAVE\nA chave de comunicação dos relógios em rede quando "
       "\\fB\\-\\-chave\\fR não é dada.\n"
    << ".TP\n.BI QUORVEL_SERIAL_ N\nO dispositivo da porta serial número \\fIN\\fR "
       "(\\fB\\-\\-serial\\fR aceita o dispositivo diretamente).\n"
    << ".TP\n.B NOTIFY_SOCKET\\fR, \\fBWATCHDOG_USEC\\fR, \\fBWATCHDOG_PID\n"
       "Dadas pelo systemd a \\fBponto servico\\fR: o serviço avisa quando está pronto, "
       "quando para e renova o cão de guarda.\n"
    << ".TP\n.B TZ\nO fuso das datas do computador em tabelas e o padrão de "
       "\\fB\\-\\-fuso\\fR do AFD (em UTC, America/Sao_Paulo).\n\n.TP\n.B TZDIR\nA pasta do banco "
       "de fusos "
       "(padrão: /usr/share/zoneinfo).\n"
    << ".SH ARQUIVOS\n"
    << ".TP\n.I $XDG_STATE_HOME/quorvel/relogio\\-1.diario\\fR, \\fIrelogio\\-2.diario\n"
       "O estado dos relógios embutidos (diário com soma de verificação por registro e "
       "instantâneo \\fI.instantaneo\\fR); \\fBponto embutidos \\-\\-recriar\\fR os recomeça.\n"
    << ".TP\n.I $XDG_STATE_HOME/quorvel/embutidos.trava\n"
       "Um ponto por vez usa os relógios embutidos; outro espera e diz por quem.\n"
    << ".TP\n.I ponto.db\nO banco SQLite padrão.\n"
    << ".TP\n.I " << Roff(QUORVEL_DOCDIR)
    << "\n"
       "A documentação: formatos de saída (formatos.md), banco e AFD (banco.md), o protocolo "
       "dos relógios.\n"
    << ".SH CÓDIGOS DE SAÍDA\n"
    << ".TP\n.B 0\nConcluído.\n"
    << ".TP\n.B 1\nO componente informou um erro (número e descrição na saída de erros), ou "
       "uma confirmação foi negada.\n"
    << ".TP\n.B 2\nEntrada inválida: opção, arquivo ou valor; um comando destrutivo sem "
       "terminal e sem \\fB\\-\\-sim\\fR.\n"
    << ".TP\n.B 3\nUm relógio recusou algo (funcionários não gravados, por exemplo).\n"
    << ".TP\n.B 4\nUm relógio não pôde ser alcançado ou coletado por inteiro (chave recusada, "
       "modelo errado, estado dos embutidos danificado); \\fBservico \\-\\-estado\\fR: um relógio "
       "sem coletor ativo.\n"
    << ".TP\n.B 130\nInterrompido com Ctrl\\-C.\n"
    << ".SH EXEMPLOS\nO passeio do README, na ordem (da pasta dos fontes):\n.PP\n.nf\n";
  for (const auto& e : exemplos) m << Roff(e) << "\n";
  m << ".fi\n.SH VEJA TAMBÉM\n.BR relogio\\-virtual (1)\n";
  return m.str();
}

}  // namespace ponto
