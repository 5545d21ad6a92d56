#include "banco.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

#include "afd/afd.h"
#include "arquivos.h"
#include "coletor.h"
#include "quorvel/documentos.h"
#include "saida.h"
#include "store/armazem.h"
#include "store/assinatura.h"

namespace ponto {

using namespace quorvel;
using armazem::Armazem;
using armazem::MarcacaoArmazenada;

namespace {

std::string Mensagem(const Erro& e) {
  const std::string& d = e.Descricao();
  return d.substr(0, d.find("\r\n"));
}

}  // namespace

armazem::Filtro FiltroDe(const Opcoes& o) {
  armazem::Filtro f;
  if (auto t = o.Valor("--de")) f.de = DataHoraDe(*t, "--de");
  if (auto t = o.Valor("--ate")) {
    f.ate = DataHoraDe(*t, "--ate");
    if (t->find(':') == std::string::npos) f.ate = DataHora::DeSegundos(f.ate->Segundos() + 86399);
  }
  if (f.de && f.ate && *f.de > *f.ate) throw ErroDeUso("--de é posterior a --ate.");
  if (o.Tem("--relogio")) f.relogio = static_cast<int16_t>(o.Numero("--relogio", 1, 32767));
  return f;
}

namespace {

// This computer's zone by name: TZ when it names one, else where /etc/localtime points into
// the zone database. Nothing when it keeps UTC or its zone has no name.
std::optional<std::string> ZonaDoSistema() {
  std::string nome;
  if (const char* tz = std::getenv("TZ"); tz && *tz) {
    nome = tz[0] == ':' ? tz + 1 : tz;
  } else {
    std::error_code erro;
    const auto alvo = std::filesystem::read_symlink("/etc/localtime", erro).string();
    const auto onde = alvo.find("zoneinfo/");
    if (erro || onde == std::string::npos) return std::nullopt;
    nome = alvo.substr(onde + 9);
  }
  if (nome.empty() || nome == "UTC" || nome == "Etc/UTC" || nome == "UCT" || nome == "Etc/UCT" ||
      nome == "GMT" || nome == "Etc/GMT" || nome == "Universal" || nome == "Zulu")
    return std::nullopt;
  return nome;
}

// The zone of the file's date-times when neither --fuso nor the clock's line says one: the
// computer's zone; on a computer kept in UTC (servers usually are), the country's legal time,
// America/Sao_Paulo, since a register clock keeps local time; the computer's offset now when
// its zone cannot be named nor found.
afd::Fuso FusoPadrao() {
  if (auto nome = ZonaDoSistema())
    if (auto f = afd::Fuso::De(*nome)) return *f;
  const std::time_t agora = std::time(nullptr);
  std::tm local{};
  localtime_r(&agora, &local);
  if (local.tm_gmtoff == 0)
    if (auto f = afd::Fuso::De("America/Sao_Paulo")) return *f;
  return afd::Fuso::Fixo(static_cast<int>(local.tm_gmtoff / 60));
}

afd::Fuso FusoConferido(const std::string& texto, const std::string& onde) {
  std::string motivo;
  auto f = afd::Fuso::De(texto, &motivo);
  if (!f) throw ErroDeUso(onde + ": fuso inválido \"" + texto + "\" (" + motivo + ").");
  return *f;
}

// Now, as the wall time of the file's zone.
DataHora AgoraNoFuso(const afd::Fuso& fuso) {
  const int64_t utc = std::time(nullptr);
  return DataHora::DeSegundos(DataHora::DePartes(1970, 1, 1).Segundos() + utc +
                              int64_t{fuso.MinutosEmUtc(utc)} * 60);
}

// Writes next to the target and renames: a reader never sees half a file, and a write that
// fails leaves neither a half file nor the temporary one behind.
void GravaArquivo(const std::string& caminho, const std::string& conteudo) {
  const std::string temporario = caminho + ".tmp-" + std::to_string(::getpid());
  auto falha = [&](const std::string& porque) {
    std::error_code ignorado;
    std::filesystem::remove(temporario, ignorado);
    throw ErroDeUso("não foi possível gravar \"" + caminho + "\" (" + porque + ").");
  };
  {
    std::ofstream out(temporario, std::ios::binary | std::ios::trunc);
    if (!out) falha(std::strerror(errno));
    out << conteudo;
    out.flush();
    if (!out) falha(std::strerror(errno));
  }
  std::error_code ec;
  if (std::filesystem::is_directory(caminho, ec)) falha("é uma pasta");
  std::filesystem::rename(temporario, caminho, ec);
  if (ec) falha(ec.message());
}

// ---- exportar afd ----------------------------------------------------------------------

struct CampoCabecalho {
  const char* opcao;  // and, without the dashes and with '_', the clocks-file field
  const char* descricao;
  // The layout's width (671, 1510; 0: not in that layout) and whether the field is numeric;
  // 0 and 0: checked elsewhere (the types, the documents with their check digits).
  size_t tamanho671, tamanho1510;
  bool numerico;
};
constexpr CampoCabecalho kCamposCabecalho[] = {
    {"--empregador-tipo", "tipo do empregador (cnpj ou cpf)", 0, 0, false},
    {"--empregador-documento", "CNPJ/CPF do empregador", 0, 0, false},
    {"--cno-caepf", "CNO ou CAEPF", 14, 12, true},
    {"--razao-social", "razão social", 150, 150, false},
    {"--fabricacao", "número de fabricação do relógio", 17, 17, true},
    {"--fabricante-tipo", "tipo do fabricante (cnpj ou cpf)", 0, 0, false},
    {"--fabricante-documento", "CNPJ/CPF do fabricante", 0, 0, false},
    {"--modelo-rep", "modelo do relógio", 30, 0, false},
};

// A header field as the layout takes it, checked before anything is written: a line break
// would split the record, a character outside Latin-1 would be written as something else,
// and a field cut to its width would say something other than what was given. `onde` names
// the option or the clocks-file field.
void ConfereCampoDoCabecalho(const std::string& valor, const CampoCabecalho& c,
                             afd::Leiaute leiaute, const std::string& onde) {
  const size_t tamanho = leiaute == afd::Leiaute::P1510 ? c.tamanho1510 : c.tamanho671;
  if (c.tamanho671 == 0 && c.tamanho1510 == 0) return;
  size_t caracteres = 0;
  for (size_t i = 0; i < valor.size();) {
    const auto b = static_cast<unsigned char>(valor[i]);
    uint32_t ponto = b;
    size_t n = 1;
    if (b >= 0x80) {
      n = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
      if (n == 0 || i + n > valor.size()) throw ErroDeUso(onde + ": texto que não é UTF-8 válido.");
      ponto = b & (0x7F >> n);
      for (size_t k = 1; k < n; ++k) {
        const auto seguinte = static_cast<unsigned char>(valor[i + k]);
        if ((seguinte & 0xC0) != 0x80) throw ErroDeUso(onde + ": texto que não é UTF-8 válido.");
        ponto = (ponto << 6) | (seguinte & 0x3F);
      }
    }
    if (ponto < 0x20 || (ponto >= 0x7F && ponto < 0xA0))
      throw ErroDeUso(onde + ": caractere de controle na posição " +
                      std::to_string(caracteres + 1) + " (o AFD é uma linha por registro).");
    if (ponto > 0xFF)
      throw ErroDeUso(onde + ": \"" + valor.substr(i, n) +
                      "\" não existe no Latin-1, a codificação do AFD.");
    i += n;
    ++caracteres;
  }
  if (c.numerico) {
    for (char ch : valor)
      if (!std::isdigit(static_cast<unsigned char>(ch)) && ch != '.' && ch != '-' && ch != '/' &&
          ch != ' ')
        throw ErroDeUso(onde + " (" + c.descricao + ") é numérico: só dígitos.");
    caracteres = static_cast<size_t>(
        std::count_if(valor.begin(), valor.end(), [](char ch) { return std::isdigit(ch); }));
  }
  if (tamanho == 0) return;  // not in this layout: not written
  if (caracteres > tamanho)
    throw ErroDeUso(onde + " (" + c.descricao + ") tem " + std::to_string(caracteres) +
                    (c.numerico ? " dígitos" : " caracteres") + "; o leiaute aceita até " +
                    std::to_string(tamanho) + ".");
}

std::string CampoDoArquivo(const char* opcao) {
  std::string c = opcao + 2;
  std::replace(c.begin(), c.end(), '-', '_');
  return c;
}

bool TipoCpf(const std::string& valor, const char* opcao) {
  if (valor.empty() || valor == "cnpj") return false;
  if (valor == "cpf") return true;
  throw ErroDeUso(std::string(opcao) + " deve ser cnpj ou cpf.");
}

}  // namespace

Afd GeraAfd(const Opcoes& o, const std::function<std::unique_ptr<Armazem>()>& abre,
            std::ostream& avisos) {
  Afd r;
  afd::Opcoes opcoes;
  if (auto l = o.Valor("--leiaute")) {
    if (*l == "1510")
      opcoes.leiaute = afd::Leiaute::P1510;
    else if (*l != "671" && *l != "atual")
      throw ErroDeUso("leiaute desconhecido \"" + *l + "\" (use 671 ou 1510).");
  }
  if (auto c = o.Valor("--crc")) {
    if (*c == "modbus")
      opcoes.crc = afd::Crc::Modbus;
    else if (*c != "kermit")
      throw ErroDeUso("CRC desconhecido \"" + *c + "\" (use kermit ou modbus).");
  }
  std::optional<afd::Fuso> fuso;
  if (auto f = o.Valor("--fuso")) fuso = FusoConferido(*f, "--fuso");
  opcoes.assinatura = o.Tem("--assinatura-p7s") || o.Tem("--assinar");
  armazem::Filtro filtro = FiltroDe(o);
  for (const auto& c : kCamposCabecalho)
    if (auto v = o.Valor(c.opcao)) ConfereCampoDoCabecalho(*v, c, opcoes.leiaute, c.opcao);
  // Documents given as options are checked before the store is opened; those of a clocks file
  // once the clock is known.
  for (const auto& [tipo, documento] : {std::pair{"--empregador-tipo", "--empregador-documento"},
                                        std::pair{"--fabricante-tipo", "--fabricante-documento"}})
    if (auto d = o.Valor(documento))
      DocumentoConferido(*d, TipoCpf(o.Valor(tipo).value_or(""), tipo), documento);
  const auto dono = abre();
  Armazem& banco = *dono;

  // The file describes one clock: its header carries that clock's manufacturing number.
  std::set<int16_t> relogios;
  banco.Percorre(filtro, [&](const MarcacaoArmazenada& m) {
    if (m.modelo == EModeloRelogio_Tarvenix) relogios.insert(m.relogio);
  });
  if (relogios.empty()) {
    avisos << "Nenhuma marcação de relógio tarvenix no banco para esse filtro.\n";
    r.codigo = kErroComponente;
    return r;
  }
  if (relogios.size() > 1) {
    std::string lista;
    for (auto r : relogios) lista += (lista.empty() ? "" : ", ") + std::to_string(r);
    throw ErroDeUso("o banco tem marcações de " + std::to_string(relogios.size()) +
                    " relógios tarvenix (" + lista + "); escolha um com --relogio.");
  }
  const int16_t relogio = r.relogio = *relogios.begin();
  filtro.relogio = relogio;

  std::map<std::string, std::string> doArquivo;
  if (auto arq = o.Valor("--relogios"))
    for (const auto& r : LeRelogios(*arq))
      if (r.relogio->Codigo() == relogio) doArquivo = r.campos;
  // The employer the clock was given (ponto empregador --banco) is what the clock prints on its
  // receipts, and the clock's own fiscal file (ponto afd --banco) says what the clock is: both
  // come before a clocks file's fields, and an option before all.
  std::map<std::string, std::string> doBanco;
  if (const auto e = banco.EmpregadorDe(relogio)) {
    doBanco = {{"--empregador-tipo", e->cpf ? "cpf" : "cnpj"},
               {"--empregador-documento", e->documento},
               {"--cno-caepf", e->cei},
               {"--razao-social", e->razaoSocial}};
  }
  if (const auto i = banco.IdentificacaoDe(relogio)) {
    if (!i->fabricacao.empty()) doBanco["--fabricacao"] = i->fabricacao;
    if (!i->fabricanteDocumento.empty()) {
      doBanco["--fabricante-tipo"] = i->fabricanteCpf ? "cpf" : "cnpj";
      doBanco["--fabricante-documento"] = i->fabricanteDocumento;
    }
    if (!i->modelo.empty()) doBanco["--modelo-rep"] = i->modelo;
  }
  // Where a value came from, for an error about it: an option, the store, or the clocks file.
  auto origem = [&](const CampoCabecalho& c) {
    if (o.Valor(c.opcao)) return std::string(c.opcao);
    if (doBanco.count(c.opcao))
      return "o relógio " + std::to_string(relogio) + " no banco, " + CampoDoArquivo(c.opcao);
    return o.Valor("--relogios").value_or("") + ", relógio " + std::to_string(relogio) +
           ", campo " + CampoDoArquivo(c.opcao);
  };
  for (const auto& c : kCamposCabecalho)
    if (auto it = doBanco.find(c.opcao); it != doBanco.end() && !o.Valor(c.opcao))
      ConfereCampoDoCabecalho(it->second, c, opcoes.leiaute, origem(c));
  auto campo = [&](const CampoCabecalho& c) {
    if (auto v = o.Valor(c.opcao)) return *v;
    if (auto it = doBanco.find(c.opcao); it != doBanco.end()) return it->second;
    auto it = doArquivo.find(CampoDoArquivo(c.opcao));
    return it == doArquivo.end() ? std::string() : it->second;
  };
  for (const auto& c : kCamposCabecalho)
    if (!o.Valor(c.opcao) && !doBanco.count(c.opcao))
      if (auto it = doArquivo.find(CampoDoArquivo(c.opcao)); it != doArquivo.end())
        ConfereCampoDoCabecalho(it->second, c, opcoes.leiaute, origem(c));
  if (!fuso)
    if (auto it = doArquivo.find("fuso"); it != doArquivo.end() && !it->second.empty())
      fuso = FusoConferido(it->second, *o.Valor("--relogios") + ", relógio " +
                                           std::to_string(relogio) + ", campo fuso");
  opcoes.fuso = fuso ? *fuso : FusoPadrao();
  afd::Cabecalho cab;
  cab.empregadorCpf = TipoCpf(campo(kCamposCabecalho[0]), "--empregador-tipo");
  // A document given is a valid one: an inspector's checker refuses the file otherwise.
  auto documento = [&](const CampoCabecalho& c, bool cpf) {
    const std::string v = campo(c);
    return v.empty() ? v : DocumentoConferido(v, cpf, c.opcao);
  };
  cab.empregadorDocumento = documento(kCamposCabecalho[1], cab.empregadorCpf);
  cab.cnoCaepf =
      CnoCaepfConferido(campo(kCamposCabecalho[2]), cab.empregadorCpf, cab.empregadorDocumento,
                        opcoes.leiaute == afd::Leiaute::P1510, origem(kCamposCabecalho[2]));
  cab.razaoSocial = campo(kCamposCabecalho[3]);
  cab.numeroFabricacao = campo(kCamposCabecalho[4]);
  cab.fabricanteCpf = TipoCpf(campo(kCamposCabecalho[5]), "--fabricante-tipo");
  cab.fabricanteDocumento = documento(kCamposCabecalho[6], cab.fabricanteCpf);
  cab.modelo = campo(kCamposCabecalho[7]);
  cab.geradoEm = AgoraNoFuso(opcoes.fuso);
  std::string faltam;
  for (size_t i = 1; i < std::size(kCamposCabecalho); ++i) {
    if (i == 5 || (i == 2) || (opcoes.leiaute == afd::Leiaute::P1510 && i >= 5)) continue;
    if (campo(kCamposCabecalho[i]).empty())
      faltam += (faltam.empty() ? "" : ", ") + std::string(kCamposCabecalho[i].descricao) + " (" +
                kCamposCabecalho[i].opcao + ")";
  }
  // A file with a blank mandatory field is no fiscal file: it is written only as a draft, and
  // then says so in the one free text of its header, the company name.
  const bool rascunho = o.Tem("--rascunho");
  if (!faltam.empty() && !rascunho)
    throw ErroDeUso("campos obrigatórios do cabeçalho não informados: " + faltam +
                    ". Informe-os (opções, campos da linha do relógio em --relogios, \"ponto "
                    "empregador --banco\" para os do empregador ou \"ponto afd --banco\" para "
                    "os que o próprio relógio dá), ou use --rascunho para um arquivo marcado "
                    "como rascunho.");
  if (!faltam.empty())
    avisos << "Aviso: campos do cabeçalho não informados, deixados em branco: " << faltam << ".\n";
  if (rascunho) {
    cab.razaoSocial = "RASCUNHO" + (cab.razaoSocial.empty() ? "" : " - " + cab.razaoSocial);
    avisos << "Aviso: arquivo marcado como rascunho (RASCUNHO na razão social); não é um AFD "
              "para fiscalização.\n";
  }

  const auto funcionarios = banco.Funcionarios();
  static const int64_t k1970 = DataHora::DePartes(1970, 1, 1).Segundos();
  // Every employee's versions by the instant each was read (seconds since 1970, UTC), turned
  // into numbers once here rather than compared as texts at every punch.
  std::unordered_map<std::string, std::vector<std::pair<int64_t, armazem::Armazem::Funcionario>>>
      versoes;
  for (auto& [pis, lista] : banco.HistoricoFuncionarios())
    for (auto& [lidoEm, versao] : lista) {
      std::string quando = lidoEm.substr(0, 19);
      if (quando.size() == 19) quando[10] = ' ';
      DataHora lido;
      if (!DataHora::TentaDeTexto(quando, {}, lido)) continue;  // not a time the store writes
      versoes[pis].emplace_back(lido.Segundos() - k1970, std::move(versao));
    }
  // The employee's record in force when the punch was made: the last version read by then (a
  // CPF corrected on the clock applies from the read that found it), else the first one read.
  const auto vigente = [&](const armazem::Armazem::Funcionario& atual,
                           DataHora momento) -> const armazem::Armazem::Funcionario& {
    const auto it = versoes.find(atual.pis);
    if (it == versoes.end() || it->second.empty()) return atual;
    const int64_t utc =
        momento.Segundos() - k1970 - int64_t{opcoes.fuso.MinutosNoLocal(momento)} * 60;
    const auto depois = std::upper_bound(
        it->second.begin(), it->second.end(), utc,
        [](int64_t instante, const auto& versao) { return instante < versao.first; });
    return (depois == it->second.begin() ? depois : depois - 1)->second;
  };
  // A clock under the newer rules identifies a punch by the employee's CPF where there is no
  // PIS: an identifier is looked up as a PIS first, then as a CPF.
  std::unordered_map<std::string, const armazem::Armazem::Funcionario*> porCpf;
  for (const auto& [pis, f] : funcionarios)
    if (const std::string cpf = documentos::SoDigitos(f.cpf); cpf.size() == 11)
      porCpf.emplace(cpf, &f);
  const bool atual = opcoes.leiaute == afd::Leiaute::Atual;
  std::vector<afd::Punch> punches;
  std::vector<std::string> semDocumento, semIdentificacao;
  banco.Percorre(filtro, [&](const MarcacaoArmazenada& m) {
    afd::Punch p;
    p.nsr = m.nsr;
    p.momento = m.momento;
    const std::string id = documentos::SoDigitos(m.pis);
    const armazem::Armazem::Funcionario* f = nullptr;
    if (auto it = funcionarios.find(m.pis); it != funcionarios.end()) f = &it->second;
    if (!f)
      if (auto it = porCpf.find(id); it != porCpf.end()) f = it->second;
    // The layout's document: the CPF (current layout) or the PIS (1510), 11 digits.
    const std::string documento =
        atual ? (f ? documentos::SoDigitos(vigente(*f, m.momento).cpf) : "")
              : (f && porCpf.count(id) ? documentos::SoDigitos(f->pis) : id);
    if (documento.size() != 11) {
      char linha[96];
      std::snprintf(linha, sizeof linha, "NSR %09lld, %s %s", static_cast<long long>(m.nsr),
                    id.size() == 11 ? "PIS" : "identificação",
                    m.pis.empty() ? "(vazia)" : m.pis.c_str());
      (m.pis.empty() ? semIdentificacao : semDocumento).emplace_back(linha);
      return;
    }
    (atual ? p.cpf : p.pis) = documento;
    punches.push_back(std::move(p));
  });
  const char* doc = atual ? "CPF" : "PIS";
  if (!semDocumento.empty()) {
    avisos << semDocumento.size()
           << (semDocumento.size() == 1 ? " marcação sem " : " marcações sem ") << doc
           << " conhecido (o " << doc
           << " vem do cadastro de funcionários do relógio; rode \"ponto coletar "
              "--banco\" com o relógio acessível):\n";
    for (const auto& l : semDocumento) avisos << "  " << l << "\n";
  }
  if (!semIdentificacao.empty()) {
    avisos << semIdentificacao.size() << (semIdentificacao.size() == 1 ? " marcação" : " marcações")
           << " sem identificação do funcionário (o relógio não gravou PIS nem CPF; coletar de "
              "novo não muda isso):\n";
    for (const auto& l : semIdentificacao) avisos << "  " << l << "\n";
  }
  const size_t omitidas = semDocumento.size() + semIdentificacao.size();
  if (omitidas > 0 && !o.Tem("--omitir-sem-cpf")) {
    avisos << "Nenhum arquivo gravado. Use --omitir-sem-cpf para exportar sem elas.\n";
    r.codigo = kErroComponente;
    return r;
  }
  // The clock's own records besides its punches (employer, clock set, employees), kept from
  // its fiscal file by "ponto afd --banco", in their NSR places.
  std::vector<afd::RegistroCarregado> outros;
  if (atual)
    for (const auto& f : banco.RegistrosFiscais(filtro))
      outros.push_back({f.nsr, f.momento, afd::ParaLatin1(f.registro)});
  std::ostringstream texto;
  afd::Escreve(texto, cab, punches, opcoes, outros);
  r.texto = std::move(texto).str();
  r.marcacoes = punches.size();
  r.doRelogio = atual ? outros.size() : 0;
  r.omitidas = omitidas;
  return r;
}

namespace {

// The store is opened only once every option was found good: bad input is told before
// anything is touched.
int ExportarAfd(const Opcoes& o, const std::function<std::unique_ptr<Armazem>()>& abre) {
  const std::string saida = o.Obrigatorio("--saida");
  std::optional<afd::Assinante> assinante;
  if (const auto par = o.Par("--assinar")) {
    try {
      assinante = afd::Assinante::DeArquivos(par->first, par->second);
    } catch (const std::runtime_error& e) {
      throw ErroDeUso(std::string("--assinar: ") + e.what() + ".");
    }
  }
  const Afd afd = GeraAfd(o, abre, std::cerr);
  if (afd.codigo != kOk) return afd.codigo;
  // Signed before anything is written: a signature that fails leaves no file unsigned.
  std::string assinatura;
  if (assinante) {
    try {
      assinatura = assinante->Assina(afd.texto);
    } catch (const std::runtime_error& e) {
      throw ErroDeUso(std::string("--assinar: ") + e.what() + ".");
    }
  }
  GravaArquivo(saida, afd.texto);
  if (assinante) {
    GravaArquivo(saida + ".p7s", assinatura);
    std::cerr << "Assinatura (CMS destacada, DER) gravada em " << saida << ".p7s.\n";
  }
  std::cerr << "AFD do relógio " << afd.relogio << " gravado em " << saida << ": " << afd.marcacoes
            << (afd.marcacoes == 1 ? " marcação" : " marcações")
            << (afd.omitidas ? " (" + std::to_string(afd.omitidas) + " omitidas)" : "")
            << (afd.doRelogio ? " e " + std::to_string(afd.doRelogio) +
                                    (afd.doRelogio == 1 ? " registro" : " registros") +
                                    " de empregador, hora e funcionários do relógio"
                              : "")
            << ".\n";
  return kOk;
}

// ---- relatorio ---------------------------------------------------------------------------

std::string Svg(const std::array<size_t, 24>& porHora, const std::string& titulo) {
  const size_t maximo = std::max<size_t>(1, *std::max_element(porHora.begin(), porHora.end()));
  const int largura = 760, altura = 320, esquerda = 50, base = 270, barra = 26;
  std::ostringstream s;
  s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << largura << "\" height=\"" << altura
    << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
    << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
    << "<text x=\"" << largura / 2 << "\" y=\"20\" text-anchor=\"middle\" font-size=\"14\">"
    << titulo << "</text>\n"
    << "<line x1=\"" << esquerda << "\" y1=\"" << base << "\" x2=\"" << esquerda + 24 * (barra + 3)
    << "\" y2=\"" << base << "\" stroke=\"black\"/>\n";
  for (int h = 0; h < 24; ++h) {
    const double alto = 220.0 * static_cast<double>(porHora[h]) / static_cast<double>(maximo);
    const int x = esquerda + h * (barra + 3);
    s << "<rect x=\"" << x << "\" y=\"" << base - alto << "\" width=\"" << barra << "\" height=\""
      << alto << "\" fill=\"#3a7bd5\"><title>" << h << "h: " << porHora[h] << "</title></rect>\n"
      << "<text x=\"" << x + barra / 2 << "\" y=\"" << base + 15 << "\" text-anchor=\"middle\">"
      << h << "</text>\n";
    if (porHora[h])
      s << "<text x=\"" << x + barra / 2 << "\" y=\"" << base - alto - 4
        << "\" text-anchor=\"middle\">" << porHora[h] << "</text>\n";
  }
  s << "<text x=\"" << largura / 2 << "\" y=\"" << base + 35
    << "\" text-anchor=\"middle\">hora do dia</text>\n</svg>\n";
  return s.str();
}

}  // namespace

std::string EnderecoBanco(const Opcoes& o) {
  return o.Valor("--banco").value_or(armazem::BancoPadrao());
}

std::string NomeColetor(const Opcoes& o) {
  if (auto c = o.Valor("--coletor")) return *c;
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return std::string(host) + ":" + std::to_string(::getpid());
}

std::set<int16_t> ConectaParaColetar(Sessao& s, int& codigoSaida) {
  std::set<int16_t> inacessiveis;
  for (const auto& [codigo, motivo] : s.ConectaAlcancaveis()) {
    std::cerr << "Relógio " << codigo << " não coletado: " << motivo << "\n";
    inacessiveis.insert(codigo);
    codigoSaida = kInacessivel;
  }
  return inacessiveis;
}

int ColetarParaBanco(const Opcoes& o, Sessao& s) {
  if (o.Tem("--ponteiro") || o.Tem("--nsr"))
    throw ErroDeUso(
        "com --banco a coleta continua de onde parou; --ponteiro e --nsr não se "
        "aplicam.");
  auto banco = Armazem::Abre(EnderecoBanco(o), NomeColetor(o));
  int codigoSaida = kOk;
  const std::set<int16_t> inacessiveis = ConectaParaColetar(s, codigoSaida);
  Tabela t{{"Relógio", "Lidas", "Novas", "Última marcação"},
           {"relogio", "lidas", "novas", "ultima_marcacao"},
           {}};
  size_t totalNovas = 0;
  for (const auto& rel : s.Relogios()) {
    if (inacessiveis.count(rel->Codigo())) continue;
    if (isatty(STDERR_FILENO))
      std::cerr << "\r\033[KColetando do relógio " << rel->Codigo() << "…" << std::flush;
    std::optional<ResultadoColeta> r;
    try {
      r = ColetaNovas(s.Controle(), *rel, *banco);
      if (r && rel->ModeloRelogio() == EModeloRelogio_Tarvenix)
        AtualizaFuncionarios(s.Controle(), rel->Codigo(), *banco, r->pis, true);
    } catch (const Erro& e) {
      if (isatty(STDERR_FILENO)) std::cerr << "\r\033[K";
      if (e.Numero() == erro::kArmazem) throw;
      std::cerr << "Relógio " << rel->Codigo() << ": coleta incompleta; o que chegou está gravado "
                << "e a próxima coleta continua dali (erro " << e.Numero() << ": " << Mensagem(e)
                << ").\n";
      codigoSaida = kInacessivel;
      continue;
    }
    if (isatty(STDERR_FILENO)) std::cerr << "\r\033[K";
    if (!r || Sessao::Interrompido()) {
      std::cerr << "Coleta cancelada pelo usuário; o que já foi gravado fica no banco.\n";
      return kCancelado;
    }
    if (r->logRecomecado)
      std::cerr << "Relógio " << rel->Codigo() << ": as marcações do relógio foram apagadas desde "
                << "a última coleta; lendo desde o início.\n";
    totalNovas += r->novas;
    t.linhas.push_back({std::to_string(rel->Codigo()), std::to_string(r->lidas),
                        std::to_string(r->novas),
                        r->ultima ? FormataData(*r->ultima, s.Saida()) : ""});
  }
  Imprime(std::cout, t, s.Saida(), s.Bom());
  if (s.Saida() == Formato::Tabela)
    std::cout << totalNovas
              << (totalNovas == 1 ? " marcação nova gravada" : " marcações novas gravadas")
              << " em " << EnderecoBanco(o) << ".\n";
  return codigoSaida;
}

const std::vector<std::string> kColunasMarcacao = {"Relógio", "Data e hora", "Cartão",
                                                   "Digital", "NSR",         "PIS"};
const std::vector<std::string> kChavesMarcacao = {"relogio", "data_hora", "cartao",
                                                  "digital", "nsr",       "pis"};

Linha LinhaDeMarcacao(const MarcacaoArmazenada& m, Formato f) {
  const bool registro = m.modelo == EModeloRelogio_Tarvenix;
  char nsr[16] = "";
  if (registro) std::snprintf(nsr, sizeof nsr, "%09lld", static_cast<long long>(m.nsr));
  return {std::to_string(m.relogio),
          FormataData(m.momento, f),
          registro ? "" : std::to_string(m.cartao),
          registro ? "" : (m.porDigital ? "sim" : "não"),
          nsr,
          m.pis};
}

size_t ExportaMarcacoes(std::ostream& out, Armazem& banco, const armazem::Filtro& filtro, Formato f,
                        bool bom) {
  size_t total = 0;
  // Streamed in every format: the table reads the store twice (widths, then rows) rather than
  // holding millions of rows.
  ImprimeFluxo(out, kColunasMarcacao, kChavesMarcacao, f, bom,
               [&](const std::function<void(const Linha&)>& visita) {
                 total = 0;
                 banco.Percorre(filtro, [&](const MarcacaoArmazenada& m) {
                   ++total;
                   visita(LinhaDeMarcacao(m, f));
                 });
               });
  return total;
}

int Exportar(const Opcoes& o) {
  if (o.posicionais.size() > 2 || (o.posicionais.size() == 2 && o.posicionais[1] != "afd"))
    throw ErroDeUso("use \"ponto exportar\" ou \"ponto exportar afd --saida ARQUIVO\".");
  auto abre = [&] {
    return Armazem::Abre(EnderecoBanco(o), NomeColetor(o), armazem::Acesso::Leitura);
  };
  if (o.posicionais.size() == 2) return ExportarAfd(o, abre);
  const Formato f = o.Valor("--formato") ? FormatoDe(*o.Valor("--formato")) : Formato::Tabela;
  const armazem::Filtro filtro = FiltroDe(o);
  auto banco = abre();
  const size_t total = ExportaMarcacoes(std::cout, *banco, filtro, f, o.Tem("--bom"));
  if (f == Formato::Tabela) std::cout << total << (total == 1 ? " marcação.\n" : " marcações.\n");
  return kOk;
}

int Relatorio(const Opcoes& o) {
  const Formato f = o.Valor("--formato") ? FormatoDe(*o.Valor("--formato")) : Formato::Tabela;
  const armazem::Filtro filtro = FiltroDe(o);
  auto banco = Armazem::Abre(EnderecoBanco(o), NomeColetor(o), armazem::Acesso::Leitura);
  const auto funcionarios = banco->Funcionarios();
  // (day, employee) -> the times of the day, in order. An employee is a PIS on register
  // clocks and a card code on fingerprint clocks, each in a field of its own.
  struct Quem {
    std::string pis, cartao;
    bool operator<(const Quem& o) const {
      return std::tie(pis, cartao) < std::tie(o.pis, o.cartao);
    }
  };
  std::map<std::pair<std::string, Quem>, std::vector<std::string>> dias;
  std::array<size_t, 24> porHora{};
  banco->Percorre(filtro, [&](const MarcacaoArmazenada& m) {
    const std::string iso = m.momento.FormataIso();  // aaaa-mm-dd hh:mm:ss
    const bool registro = m.modelo == EModeloRelogio_Tarvenix;
    const Quem quem = registro ? Quem{m.pis, ""} : Quem{"", std::to_string(m.cartao)};
    dias[{iso.substr(0, 10), quem}].push_back(iso.substr(11, 5));
    ++porHora[static_cast<size_t>(m.momento.Partes().hora)];
  });
  Tabela t{{"Dia", "PIS", "Cartão", "Nome", "Marcações", "Horários"},
           {"dia", "pis", "cartao", "nome", "marcacoes", "horarios"},
           {}};
  size_t total = 0;
  for (auto& [chave, horas] : dias) {
    std::sort(horas.begin(), horas.end());
    std::string lista;
    for (const auto& h : horas) lista += (lista.empty() ? "" : " ") + h;
    const std::string& dia = chave.first;
    const auto funcionario = funcionarios.find(chave.second.pis);
    const std::string nome = chave.second.pis.empty() || funcionario == funcionarios.end()
                                 ? ""
                                 : funcionario->second.nome;
    t.linhas.push_back(
        {f == Formato::Tabela ? DataDoBanco(dia + " 00:00:00", f).substr(0, 10) : dia,
         chave.second.pis, chave.second.cartao, nome, std::to_string(horas.size()), lista});
    total += horas.size();
  }
  Imprime(std::cout, t, f, o.Tem("--bom"));
  if (f == Formato::Tabela)
    std::cout << total << (total == 1 ? " marcação" : " marcações") << " em " << t.linhas.size()
              << (t.linhas.size() == 1 ? " dia de funcionário.\n" : " dias de funcionários.\n");
  if (auto svg = o.Valor("--svg")) {
    GravaArquivo(*svg, Svg(porHora, "Marcações por hora do dia (" + std::to_string(total) + ")"));
    std::cerr << "Gráfico gravado em " << *svg << ".\n";
  }
  return kOk;
}

}  // namespace ponto
