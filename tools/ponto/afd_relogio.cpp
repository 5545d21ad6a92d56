// ponto afd: the register clock's own fiscal file, as the clock writes it, fetched part by part
// and written whole or not at all.
#include "afd_relogio.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "afd/afd.h"
#include "banco.h"
#include "quorvel/sdk/fonte_afd.h"
#include "store/armazem.h"

namespace ponto {

using namespace quorvel;

namespace {

// "dd/mm/aaaa" into aaaammdd.
int32_t DiaDe(const std::string& texto, const std::string& opcao) {
  const auto p = DataHoraDe(texto, opcao).Partes();
  return p.ano * 10000 + p.mes * 100 + p.dia;
}

std::string SemEspacos(std::string t) {
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return t;
}

// The name the fiscal file takes: AFD, the manufacturing number, the employer's CNPJ or CPF,
// REP_C. Both from the header the clock wrote, so the name and the content never disagree.
std::string NomePadrao(const std::string& cabecalho) {
  if (cabecalho.size() < 206) return "AFD.txt";
  return "AFD" + SemEspacos(cabecalho.substr(189, 17)) + SemEspacos(cabecalho.substr(11, 14)) +
         "REP_C.txt";
}

// The clock's records besides punches go to the store, so its export carries them; the last
// employer record becomes the clock's employer there unless it already is.
void Guarda(armazem::Armazem& banco, int16_t codigo, const std::string& cabecalho,
            const std::vector<armazem::Armazem::RegistroFiscal>& registros) {
  const size_t novos = banco.GravaRegistrosFiscais(registros);
  // The header's manufacturing number, maker and model, for the store's own export.
  if (cabecalho.size() >= 298) {
    armazem::Armazem::IdentificacaoRelogio i{codigo, SemEspacos(cabecalho.substr(189, 17)),
                                             cabecalho[253] == '2',
                                             SemEspacos(cabecalho.substr(254, 14)),
                                             afd::DeLatin1(SemEspacos(cabecalho.substr(268, 30)))};
    if (!i.fabricacao.empty() || !i.fabricanteDocumento.empty() || !i.modelo.empty())
      banco.GravaIdentificacao(i);
  }
  for (auto it = registros.rbegin(); it != registros.rend(); ++it) {
    if (it->tipo != 2 || it->registro.size() < 300) continue;
    const std::string linha = afd::ParaLatin1(it->registro);
    const auto campo = [&](size_t inicio, size_t largura) {
      return afd::DeLatin1(SemEspacos(linha.substr(inicio, largura)));
    };
    armazem::Armazem::Empregador e{
        codigo, linha[48] == '2', campo(49, 14), campo(63, 14), campo(77, 150), campo(227, 100),
        ""};
    const auto atual = banco.EmpregadorDe(codigo);
    if (!atual || atual->cpf != e.cpf || atual->documento != e.documento || atual->cei != e.cei ||
        atual->razaoSocial != e.razaoSocial || atual->endereco != e.endereco)
      banco.GravaEmpregador(e);
    break;
  }
  std::cerr << novos << (novos == 1 ? " registro novo" : " registros novos")
            << " de empregador, hora e funcionários guardados no banco.\n";
}

}  // namespace

int AfdDoRelogio(const Opcoes& o, Sessao& s) {
  if (s.Relogios().size() != 1)
    throw ErroDeUso(
        "ponto afd lê o arquivo de um relógio: use --relogio CÓDIGO (com --ip ou --serial, com "
        "--relogios para um relógio do arquivo, ou sozinho para um dos embutidos).");
  const auto relogio = s.Relogios().front();
  const int16_t codigo = relogio->Codigo();
  if (relogio->ModeloRelogio() != EModeloRelogio_Tarvenix)
    throw ErroDeUso("o relógio " + std::to_string(codigo) + " é do modelo " +
                    NomeModelo(relogio->ModeloRelogio()) +
                    ", que não tem arquivo fiscal; o AFD é dos relógios tarvenix.");
  const int32_t de = o.Tem("--de") ? DiaDe(*o.Valor("--de"), "--de") : 0;
  const int32_t ate = o.Tem("--ate") ? DiaDe(*o.Valor("--ate"), "--ate") : 0;
  if (de != 0 && ate != 0 && de > ate) throw ErroDeUso("--de é posterior a --ate.");

  // With a store: the records besides punches, to keep (opened first, so a bad store is told
  // before the clock is read).
  std::unique_ptr<armazem::Armazem> banco;
  if (o.Tem("--banco")) banco = armazem::Armazem::Abre(EnderecoBanco(o), NomeColetor(o));

  s.Conecta();
  const auto entrada = s.Controle().Relogios().ItemByCodRelogio(std::to_string(codigo));
  auto* fonte = entrada ? dynamic_cast<sdk::FonteDoAfd*>(entrada->CZKEM().get()) : nullptr;
  if (!fonte) {
    std::cerr << "ponto: o relógio " << codigo << " não entrega o arquivo fiscal por este meio.\n";
    return kRecusado;
  }

  // Written to a file beside the destination and renamed once whole: an interrupted or failed
  // read leaves nothing that could pass for the clock's file.
  const std::optional<std::string> pedido = o.Valor("--saida");
  const bool naSaida = pedido && *pedido == "-";
  // --saida a folder (or none): the file takes the name its header gives, in that folder.
  std::string destino = pedido.value_or("");
  std::error_code semPasta;
  const bool naPasta = destino.empty() || std::filesystem::is_directory(destino, semPasta);
  const std::filesystem::path pasta = destino.empty() ? "." : destino;
  const std::string provisorio = naSaida ? ""
                                         : (naPasta ? (pasta / "AFD").string() : destino) +
                                               ".parcial-" + std::to_string(::getpid());
  std::ofstream arquivo;
  std::string primeiraParte;  // held until the header names the file
  if (!naSaida) {
    arquivo.open(provisorio, std::ios::binary | std::ios::trunc);
    if (!arquivo)
      throw ErroDeUso("não foi possível criar \"" + provisorio + "\" para o arquivo fiscal.");
  }
  const auto apaga = [&] {
    if (!naSaida) {
      arquivo.close();
      std::remove(provisorio.c_str());
    }
  };

  std::vector<armazem::Armazem::RegistroFiscal> guardar;
  size_t registros = 0;
  std::string ultimaLinha;
  const auto escreve = [&](std::string_view parte) {
    if (parte.empty()) return;
    if (naSaida)
      std::cout.write(parte.data(), static_cast<std::streamsize>(parte.size()));
    else
      arquivo.write(parte.data(), static_cast<std::streamsize>(parte.size()));
    if (primeiraParte.empty()) primeiraParte = std::string(parte.substr(0, parte.find("\r\n")));
    size_t inicio = 0;
    for (size_t p = parte.find("\r\n"); p != std::string_view::npos;
         inicio = p + 2, p = parte.find("\r\n", inicio)) {
      ++registros;
      const std::string_view linha = parte.substr(inicio, p - inicio);
      if (!banco || linha.size() < 34 || (linha[9] != '2' && linha[9] != '4' && linha[9] != '5'))
        continue;
      const auto momento = afd::MomentoDoRegistro(linha);
      int64_t nsr = 0;
      for (char c : linha.substr(0, 9)) nsr = nsr * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
      if (momento && nsr > 0)
        guardar.push_back({codigo, nsr, linha[9] - '0', *momento, afd::DeLatin1(linha)});
    }
    const size_t fim =
        parte.size() < 3 ? std::string_view::npos : parte.rfind("\r\n", parte.size() - 3);
    ultimaLinha = std::string(parte.substr(fim == std::string_view::npos ? 0 : fim + 2));
    Progresso("AFD do relógio " + std::to_string(codigo) + ": " + std::to_string(registros) +
              " registros");
  };
  bool inteiro = false;
  try {
    inteiro = sdk::LeAfd(*fonte, de, ate, escreve, [] { return !Sessao::Interrompido(); });
  } catch (...) {
    apaga();
    throw;
  }
  FimProgresso();
  if (Sessao::Interrompido()) {
    apaga();
    std::cerr << "ponto: interrompido; nenhum arquivo gravado.\n";
    return kCancelado;
  }
  if (!inteiro) {
    apaga();
    int32_t erro = 0;
    entrada->CZKEM()->SdkGetLastError(erro);
    if (erro == sdk::codigo::kNaoSuportado) {
      std::cerr << "ponto: o relógio " << codigo
                << " não entrega o arquivo fiscal (o programa do relógio não conhece o pedido).\n";
      return kRecusado;
    }
    if (erro == sdk::codigo::kLinkPerdido)
      throw ErroDeConexao("a conexão com o relógio " + std::to_string(codigo) +
                          " caiu durante a leitura do arquivo fiscal; nenhum arquivo gravado.");
    std::cerr << "ponto: o relógio " << codigo << " recusou o arquivo fiscal (erro " << erro
              << "); nenhum arquivo gravado.\n";
    return kRecusado;
  }
  if (naSaida) {
    std::cout.flush();
    if (!std::cout) return kErroComponente;
    if (banco) Guarda(*banco, codigo, primeiraParte, guardar);
    return kOk;
  }
  arquivo.close();
  if (!arquivo) {
    apaga();
    throw ErroDeUso("não foi possível gravar o arquivo fiscal em \"" + provisorio + "\".");
  }
  if (naPasta) destino = (pasta / NomePadrao(primeiraParte)).string();
  std::error_code falha;
  std::filesystem::rename(provisorio, destino, falha);
  if (falha) {
    apaga();
    throw ErroDeUso("não foi possível gravar \"" + destino + "\": " + falha.message() + ".");
  }
  // The trailer's counts: types 2, 3, 4 and 5 in its 9-digit fields after the first.
  const auto conta = [&](size_t campo) {
    long long n = 0;
    for (size_t i = 9 + 9 * campo; i < 18 + 9 * campo && i < ultimaLinha.size(); ++i)
      if (ultimaLinha[i] >= '0' && ultimaLinha[i] <= '9') n = n * 10 + (ultimaLinha[i] - '0');
    return n;
  };
  std::cerr << "AFD do relógio " << codigo << " gravado em " << destino << ": " << conta(1)
            << " marcações, " << conta(0) << " registros de empregador, " << conta(2)
            << " ajustes de hora, " << conta(3) << " registros de funcionários.\n";
  if (banco) Guarda(*banco, codigo, primeiraParte, guardar);
  return kOk;
}

}  // namespace ponto
