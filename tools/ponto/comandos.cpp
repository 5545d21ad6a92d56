#include "comandos.h"

#include <algorithm>
#include <iostream>

#include "banco.h"
#include "relogios.h"
#include "saida.h"
#include "web/painel.h"

namespace ponto {

namespace {

// The options of the general help after the list of commands: the clocks, the store, the
// output.
const char* kOpcoesDaAjudaGeral =
    R"(Relógios (sem nenhum, usa dois relógios virtuais embutidos, 1 quorvel e 2 tarvenix, que
guardam o que se faz neles de um comando para o outro):
  --relogio CÓD --ip ENDEREÇO[:PORTA] [--modelo quorvel|tarvenix]
                          relógio em rede (porta 4370 se nenhuma for dada)
  --relogio CÓD --serial PORTA|DISPOSITIVO [--modelo ...]   relógio na porta serial (3, ou
                          o dispositivo, como /dev/ttyUSB0)
  --relogios ARQUIVO      um relógio por linha:
                          código;endereço[:porta]|serial:PORTA|serial:/dev/...;modelo[;chave]
  --relogio CÓD           sozinho, escolhe um dos relógios embutidos; com --relogios, um
                          relógio do arquivo
  --chave CHAVE           chave de comunicação (a do arquivo vale para o seu relógio)

Banco de marcações:
  --banco ARQUIVO.db | postgresql://…   SQLite (padrão: ponto.db ou $PONTO_BANCO) ou
                          PostgreSQL, para coletores em várias máquinas

Saída:
  --formato tabela|csv|json   tabela para pessoas (padrão), csv ou json para programas
                              (formatos descritos em )" QUORVEL_DOCDIR R"(/formatos.md)
  --bom                       CSV com a marca de ordem de bytes (para planilhas)

Use "ponto COMANDO --ajuda" para as opções de cada comando; "man ponto" e a documentação em
)" QUORVEL_DOCDIR R"( têm o resto.
)";

// The column where the general help's descriptions start, after two spaces of indent.
constexpr size_t kColunaDoResumo = 24;

}  // namespace

const std::vector<Opcao>& OpcoesComuns() {
  static const std::vector<Opcao> comuns = {
      {"--relogio", Argumento::Valor},  {"--ip", Argumento::Valor},
      {"--modelo", Argumento::Valor},   {"--serial", Argumento::Valor},
      {"--relogios", Argumento::Valor}, {"--chave", Argumento::Valor},
      {"--formato", Argumento::Valor},  {"--bom", Argumento::Marcador}};
  return comuns;
}

const std::vector<Comando>& TabelaDeComandos() {
  static const std::vector<Comando> tabela = {
      {"coletar",
       {{"coletar", "coleta as marcações dos relógios"},
        {"coletar --banco ARQ", "coleta só as marcações novas e as grava no banco"}},
       {{"--ponteiro", Argumento::Valor},
        {"--nsr", Argumento::Valor},
        {"--banco", Argumento::Valor},
        {"--coletor", Argumento::Valor}},
       false,
       "Uso: ponto coletar [--ponteiro N] [--nsr N] [relógios] [--formato ...]\n"
       "     ponto coletar --banco B [--coletor NOME] [relógios] [--formato ...]\n"
       "Coleta as marcações. Relógios tarvenix leem a partir do ponteiro (--ponteiro para\n"
       "firmware anterior a 2.1.12, --nsr a partir dela). Ctrl-C cancela a coleta.\n"
       "Uma coleta interrompida por queda da conexão é retomada de onde parou; um relógio\n"
       "que não volta é informado e nada dele é impresso (código de saída 4).\n"
       "Com --banco B (arquivo SQLite ou postgresql://…) só as marcações novas são lidas e\n"
       "gravadas, em lotes; uma coleta interrompida é completada pela próxima. --coletor NOME\n"
       "é o nome com que a coleta arrenda cada relógio no banco (padrão: máquina:processo).\n",
       Coletar},
      {"servico",
       {{"servico", "serviço coletor: mantém o banco em dia até SIGTERM"}},
       {{"--banco", Argumento::Valor},
        {"--coletor", Argumento::Valor},
        {"--arrendamento", Argumento::Valor},
        {"--reconciliar-a-cada", Argumento::Valor},
        {"--alerta", Argumento::Valor},
        {"--web", Argumento::Valor},
        {"--web-token", Argumento::Valor},
        {"--estado", Argumento::Marcador}},
       false,
       "Uso: ponto servico [--banco B] [relógios] [--coletor NOME] [--arrendamento S]\n"
       "                   [--reconciliar-a-cada S] [--web ENDEREÇO:PORTA [--web-token ARQ]]\n"
       "     ponto servico --estado [--banco B] [--alerta S] [--formato ...]\n"
       "Coleta continuamente: conecta os relógios, faz uma coleta incremental ao iniciar, ao\n"
       "reconectar e a cada S segundos (padrão 300), grava cada marcação monitorada e registra\n"
       "um evento por linha. Encerra com SIGTERM ou Ctrl-C. Se o banco cair, reconecta sozinho\n"
       "e nada se perde. Vários serviços no mesmo PostgreSQL dividem os relógios por igual: cada\n"
       "relógio é coletado por um só serviço, que o arrenda por S segundos (--arrendamento,\n"
       "padrão 15) e renova; se ele parar, outro assume o relógio.\n"
       "--estado mostra, por relógio, conexão e desde quando, última marcação e quando foi\n"
       "gravada, marcações de hoje, último erro e quem o coleta; sai com 4 se algum relógio não\n"
       "tem coletor ativo ou está desconectado há mais de --alerta segundos.\n"
       "--web serve a página do serviço (veja ponto web --ajuda), com a ação \"atualizar "
       "agora\".\n",
       Servico},
      {"web",
       {{"web", "página do banco no navegador: relógios, marcações, AFD"}},
       {{"--banco", Argumento::Valor},
        {"--web", Argumento::Valor},
        {"--web-token", Argumento::Valor}},
       false,
       "Uso: ponto web [--banco B] --web ENDEREÇO:PORTA [--web-token ARQUIVO] [--relogios ARQ]\n"
       "Serve no navegador a página do banco: relógios (conexão, última marcação, erros, "
       "coletor),\n"
       "marcações chegando ao vivo, gráficos por hora e por dia, busca com download em CSV e o\n"
       "AFD; a API JSON por trás dela está em docs/web.md. Só lê o banco. --web 127.0.0.1:8080\n"
       "serve só nesta máquina (porta 0: uma livre, impressa ao iniciar); outro endereço exige\n"
       "--web-token ARQUIVO, cuja primeira linha (16 caracteres ou mais) é o token que a página\n"
       "pede e toda chamada da API leva. --relogios dá modelo e endereço de cada relógio e os\n"
       "campos do cabeçalho do AFD. Encerra com Ctrl-C ou SIGTERM.\n",
       web::Web},
      {"exportar",
       {{"exportar", "marcações do banco (tabela, csv, json)"},
        {"exportar afd", "arquivo fiscal AFD das marcações de um relógio tarvenix"}},
       {{"--banco", Argumento::Valor},
        {"--de", Argumento::Valor},
        {"--ate", Argumento::Valor},
        {"--saida", Argumento::Valor},
        {"--fuso", Argumento::Valor},
        {"--leiaute", Argumento::Valor},
        {"--crc", Argumento::Valor},
        {"--empregador-tipo", Argumento::Valor},
        {"--empregador-documento", Argumento::Valor},
        {"--cno-caepf", Argumento::Valor},
        {"--razao-social", Argumento::Valor},
        {"--fabricacao", Argumento::Valor},
        {"--fabricante-tipo", Argumento::Valor},
        {"--fabricante-documento", Argumento::Valor},
        {"--modelo-rep", Argumento::Valor},
        {"--assinar", Argumento::Par},
        {"--omitir-sem-cpf", Argumento::Marcador},
        {"--assinatura-p7s", Argumento::Marcador},
        {"--rascunho", Argumento::Marcador}},
       true,
       "Uso: ponto exportar [--banco B] [--de DATA] [--ate DATA] [--relogio N] [--formato ...]\n"
       "     ponto exportar afd [--banco B] --saida ARQUIVO [--relogio N] [--de DATA] [--ate "
       "DATA]\n"
       "            [--leiaute 671|1510] [--crc kermit|modbus] [--fuso FUSO] [--omitir-sem-cpf]\n"
       "            [--assinatura-p7s] [--assinar CERT.pem CHAVE.pem] [--rascunho]\n"
       "            [campos do cabeçalho]\n"
       "            [--relogios ARQUIVO]\n"
       "DATA: dd/mm/aaaa [hh:mm:ss]; uma data sozinha em --ate inclui o dia inteiro.\n"
       "O AFD sai em ISO-8859-1 com CR LF, registros 1, 3 e 9 (no leiaute 671, também os 2, 4\n"
       "e 5 do próprio relógio guardados por \"ponto afd --banco\"). No leiaute atual cada\n"
       "marcação leva o CPF do funcionário, obtido do cadastro do relógio pelo PIS; uma marcação\n"
       "sem CPF conhecido é listada e nada é gravado, a menos que --omitir-sem-cpf seja dado.\n"
       "--fuso: um nome (America/Sao_Paulo) ou um deslocamento fixo (-0300); cada data leva o\n"
       "deslocamento em vigor no seu próprio instante, horários de verão passados inclusive.\n"
       "Padrão: o campo fuso do relógio em --relogios, senão o fuso do computador; num computador\n"
       "em UTC, America/Sao_Paulo. --leiaute 1510: PIS, datas ddmmaaaa, sem CRC.\n"
       "--assinar grava ARQUIVO.p7s, a assinatura CMS destacada (DER) do arquivo, com o\n"
       "certificado e a chave privada em PEM; o AFD leva a linha "
       "ASSINATURA_DIGITAL_EM_ARQUIVO_P7S.\n"
       "Campos do cabeçalho: opção; senão, os guardados no banco por \"ponto empregador\n"
       "--banco\" e \"ponto afd --banco\" (o empregador e os dados do próprio relógio); senão,\n"
       "campo=valor na linha do relógio em --relogios. Sem um campo\n"
       "obrigatório nada é gravado, a menos que --rascunho seja dado (o arquivo sai marcado\n"
       "RASCUNHO na razão social):\n"
       "  --empregador-tipo cnpj|cpf     empregador_tipo\n"
       "  --empregador-documento D       empregador_documento\n"
       "  --cno-caepf N                  cno_caepf\n"
       "  --razao-social NOME            razao_social\n"
       "  --fabricacao N                 fabricacao (número de fabricação do relógio)\n"
       "  --fabricante-tipo cnpj|cpf     fabricante_tipo\n"
       "  --fabricante-documento D       fabricante_documento\n"
       "  --modelo-rep MODELO            modelo_rep\n",
       Exportar},
      {"afd",
       {{"afd", "o arquivo fiscal AFD do próprio relógio tarvenix, como ele o grava"}},
       {{"--de", Argumento::Valor},
        {"--ate", Argumento::Valor},
        {"--saida", Argumento::Valor},
        {"--banco", Argumento::Valor}},
       false,
       "Uso: ponto afd --relogio N [--de DATA] [--ate DATA] [--saida ARQUIVO|PASTA|-] [--banco B]\n"
       "O arquivo fiscal do próprio relógio tarvenix, como ele o grava: cabeçalho, empregador\n"
       "(tipo 2), marcações (3), ajustes de hora (4) e funcionários (5) numa só sequência de\n"
       "NSR, CRC-16/MODBUS, trailer. --de e --ate escolhem os registros pela data do relógio.\n"
       "Nome padrão (sem --saida, ou com --saida PASTA): AFD<fabricação><CNPJ>REP_C.txt, dos\n"
       "dados do próprio cabeçalho; \"-\" escreve na saída padrão. O arquivo só aparece\n"
       "inteiro: interrompido ou com a conexão caída, nada é gravado. Com --banco, os registros\n"
       "de empregador, hora e funcionários ficam no banco, e \"ponto exportar afd\" os leva\n"
       "em seus lugares; o último empregador passa a ser o do relógio no banco.\n",
       AfdDoProprioRelogio},
      {"relatorio",
       {{"relatorio", "marcações por funcionário e dia; gráfico por hora (--svg)"}},
       {{"--banco", Argumento::Valor},
        {"--de", Argumento::Valor},
        {"--ate", Argumento::Valor},
        {"--svg", Argumento::Valor}},
       false,
       "Uso: ponto relatorio [--banco B] [--de DATA] [--ate DATA] [--relogio N] [--svg ARQUIVO]\n"
       "Marcações por funcionário e por dia, com os horários; --svg grava um gráfico das\n"
       "marcações por hora do dia.\n",
       Relatorio},
      {"monitorar",
       {{"monitorar", "mostra cada marcação assim que chega (Ctrl-C encerra)"}},
       {{"--segundos", Argumento::Valor}, {"--gerar-a-cada", Argumento::Valor}},
       false,
       "Uso: ponto monitorar [--segundos N] [--gerar-a-cada MS] [relógios] [--formato ...]\n"
       "Mostra cada nova marcação até Ctrl-C (ou até N segundos). Nos relógios embutidos,\n"
       "uma marcação nova é gerada a cada MS milissegundos (padrão 2000).\n",
       Monitorar},
      {"status",
       {{"status", "situação de cada relógio"}},
       {},
       false,
       "Uso: ponto status [relógios] [--formato ...]\n",
       Status},
      {"data-hora",
       {{"data-hora", "lê ou acerta a data e hora dos relógios"}},
       {{"--definir", Argumento::Valor}, {"--agora", Argumento::Marcador}},
       false,
       "Uso: ponto data-hora [--definir \"dd/mm/aaaa hh:mm:ss\" | --agora] [relógios]\n"
       "Sem opção, mostra a data e hora de cada relógio.\n",
       DataHoraDosRelogios},
      {"funcionarios",
       {{"funcionarios enviar ARQ", "envia funcionários de um arquivo CSV ou JSON"},
        {"funcionarios listar", "lista os funcionários gravados nos relógios"},
        {"funcionarios excluir", "exclui um funcionário (--codigo N) ou todos (--todos)"}},
       {{"--codigo", Argumento::Valor},
        {"--codificacao", Argumento::Valor},
        {"--todos", Argumento::Marcador},
        {"--sim", Argumento::Marcador}},
       true,
       "Uso: ponto funcionarios enviar ARQUIVO.csv|ARQUIVO.json\n"
       "     ponto funcionarios listar\n"
       "     ponto funcionarios excluir --codigo N\n"
       "     ponto funcionarios excluir --todos [--sim]   (pede confirmação; --sim em scripts)\n"
       "CSV: cabeçalho codigo;nome;senha;supervisor;cartao;pis;cpf;digitais, digitais como\n"
       "dedo:template|dedo:template. JSON: lista de objetos com os mesmos campos e \"digitais\"\n"
       "como [{\"dedo\": 3, \"template\": \"...\"}]. O arquivo inteiro é conferido antes do "
       "envio.\n"
       "Limites: nome 52 caracteres, senha 8, cartão 20, PIS 11, CPF 14, template 8192; até\n"
       "32767 funcionários por envio. O arquivo deve ser UTF-8; --codificacao latin1 converte\n"
       "um arquivo Latin-1.\n",
       Funcionarios},
      {"empregador",
       {{"empregador", "grava os dados do empregador (relógios tarvenix)"}},
       {{"--nome", Argumento::Valor},
        {"--tipo", Argumento::Valor},
        {"--documento", Argumento::Valor},
        {"--cei", Argumento::Valor},
        {"--endereco", Argumento::Valor},
        {"--banco", Argumento::Valor}},
       false,
       "Uso: ponto empregador --nome N --tipo cnpj|cpf --documento D --cei C --endereco E\n"
       "                      [--banco B]\n"
       "--documento: CNPJ ou CPF com os dígitos verificadores certos. --cei: o CNO/CEI\n"
       "(12 dígitos, com o dígito verificador) ou, para empregador com CPF, o CAEPF (14\n"
       "dígitos, começando pelos nove primeiros do CPF); vazio quando não há.\n"
       "Com --banco, o empregador gravado em cada relógio fica no banco: o cabeçalho de\n"
       "\"ponto exportar afd\" vem dele.\n",
       Empregador},
      {"sirene",
       {{"sirene", "programa, apaga ou ajusta as sirenes (relógios quorvel)"}},
       {{"--codigo", Argumento::Valor},
        {"--hora", Argumento::Valor},
        {"--duracao", Argumento::Valor},
        {"--dia", Argumento::Valor},
        {"--horarios", Argumento::Valor},
        {"--apagar", Argumento::Marcador}},
       false,
       "Uso: ponto sirene --codigo N --hora HH:MM     programa a sirene diária N (1 a 50)\n"
       "     ponto sirene --codigo N --apagar         apaga a sirene diária N\n"
       "     ponto sirene --duracao SEGUNDOS          tempo de toque\n"
       "     ponto sirene --dia DIA --horarios HH:MM,HH:MM,...   sirenes do dia da semana\n"
       "     ponto sirene --dia DIA --apagar          apaga as sirenes do dia\n"
       "DIA: domingo, segunda, terca, quarta, quinta, sexta, sabado.\n",
       Sirene},
      {"horario-verao",
       {{"horario-verao", "define ou apaga o horário de verão"}},
       {{"--inicio", Argumento::Valor},
        {"--fim", Argumento::Valor},
        {"--apagar", Argumento::Marcador}},
       false,
       "Uso: ponto horario-verao --inicio \"dd/mm/aaaa hh:mm\" --fim \"dd/mm/aaaa hh:mm\"\n"
       "     ponto horario-verao --apagar\n",
       HorarioVerao},
      {"verificacao",
       {{"verificacao 1para1|1paran", "modo de verificação da digital"}},
       {},
       true,
       "Uso: ponto verificacao 1para1|1paran\n",
       Verificacao},
      {"apagar-marcacoes",
       {{"apagar-marcacoes", "apaga as marcações (relógios quorvel; pede confirmação)"}},
       {{"--sim", Argumento::Marcador}},
       false,
       "Uso: ponto apagar-marcacoes [relógios] [--sim]\n"
       "Pede confirmação no terminal; --sim confirma de antemão (scripts). Sem terminal e sem\n"
       "--sim, nada é apagado (código 2).\n",
       ApagarMarcacoes},
      {"limpar",
       {{"limpar", "apaga todos os dados (relógios quorvel; pede confirmação)"}},
       {{"--sim", Argumento::Marcador}},
       false,
       "Uso: ponto limpar [relógios] [--sim]   apaga usuários, digitais e marcações\n"
       "Pede confirmação no terminal; --sim confirma de antemão (scripts). Sem terminal e sem\n"
       "--sim, nada é apagado (código 2).\n",
       Limpar},
      {"habilitar",
       {{"habilitar | desabilitar", "habilita ou desabilita os relógios"}},
       {},
       false,
       "Uso: ponto habilitar [relógios]\n",
       Habilitar},
      {"desabilitar", {}, {}, false, "Uso: ponto desabilitar [relógios]\n", Desabilitar},
      {"embutidos",
       {{"embutidos", "onde estão os relógios embutidos; --recriar os recomeça do exemplo"}},
       {{"--recriar", Argumento::Marcador}},
       false,
       "Uso: ponto embutidos [--recriar] [--formato ...]\n"
       "Os relógios virtuais embutidos (usados quando nenhum relógio é dado) guardam seu estado\n"
       "entre um comando e outro em $XDG_STATE_HOME/quorvel (padrão ~/.local/state/quorvel):\n"
       "funcionários, digitais, marcações, configuração e data e hora. Mostra a pasta e o que\n"
       "cada relógio guarda; --recriar apaga esse estado e recomeça do exemplo.\n",
       Embutidos},
  };
  return tabela;
}

const Comando* ComandoDe(const std::string& nome) {
  const auto& t = TabelaDeComandos();
  const auto c = std::find_if(t.begin(), t.end(), [&](const Comando& c) { return c.nome == nome; });
  return c == t.end() ? nullptr : &*c;
}

std::string AjudaGeral() {
  std::string r =
      "ponto — coleta e configuração de relógios de ponto\n\nUso: ponto COMANDO [opções]\n\n"
      "Comandos:\n";
  for (const Comando& c : TabelaDeComandos())
    for (const auto& [uso, texto] : c.resumo)
      r += "  " + uso +
           std::string(uso.size() < kColunaDoResumo ? kColunaDoResumo - uso.size() : 2, ' ') +
           texto + "\n";
  return r + "\n" + kOpcoesDaAjudaGeral;
}

int Executa(const Opcoes& o) {
  if (o.posicionais.empty()) {
    std::cout << AjudaGeral();
    return o.Tem("--ajuda") ? kOk : kErroUso;
  }
  const std::string& nome = o.posicionais[0];
  const Comando* comando = ComandoDe(nome);
  if (!comando) {
    std::vector<std::string> nomes;
    for (const Comando& c : TabelaDeComandos()) nomes.push_back(c.nome);
    std::cerr << "ponto: comando desconhecido \"" << nome << "\"." << QuisDizer(nome, nomes)
              << " Veja \"ponto --ajuda\".\n";
    return kErroUso;
  }
  if (o.Tem("--ajuda")) {
    std::cout << comando->ajuda;
    return kOk;
  }
  return comando->executa(o);
}

}  // namespace ponto
