#include "arquivos.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "opcoes.h"
#include "quorvel/documentos.h"

namespace ponto {

using quorvel::FuncionarioCartao;
using quorvel::Template;

namespace {

// The rules a bad number is told with.
constexpr const char* kRegraPis = "11 dígitos com o dígito verificador certo.";
constexpr const char* kRegraCpf = "11 dígitos com os dígitos verificadores certos.";
constexpr const char* kRegraCnpj = "14 dígitos com os dígitos verificadores certos.";

constexpr size_t kTamanhoMaximoArquivo = 64u << 20;  // no employee file is near this

std::string LeArquivo(const std::string& caminho) {
  struct stat st {};
  if (::stat(caminho.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    throw ErroDeUso("\"" + caminho + "\"" +
                    (S_ISDIR(st.st_mode)
                         ? " é uma pasta, não um arquivo."
                         : " não é um arquivo comum (é um dispositivo ou um canal)."));
  std::ifstream f(caminho, std::ios::binary);
  if (!f) throw ErroDeUso("não foi possível abrir o arquivo \"" + caminho + "\".");
  f.seekg(0, std::ios::end);
  const auto tamanho = f.tellg();
  if (tamanho < 0 || static_cast<size_t>(tamanho) > kTamanhoMaximoArquivo)
    throw ErroDeUso("o arquivo \"" + caminho + "\" é grande demais.");
  f.seekg(0);
  std::string texto(static_cast<size_t>(tamanho), '\0');
  f.read(texto.data(), tamanho);
  return texto;
}

std::string Apara(std::string s) {
  const auto i = s.find_first_not_of(" \t\r");
  if (i == std::string::npos) return {};
  return s.substr(i, s.find_last_not_of(" \t\r") - i + 1);
}

std::string Minusculas(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// One CSV record with quoting ("a;""b""" gives a;"b").
std::vector<std::string> Campos(const std::string& linha, char sep) {
  std::vector<std::string> campos(1);
  bool aspas = false;
  for (size_t i = 0; i < linha.size(); ++i) {
    const char c = linha[i];
    if (aspas) {
      if (c == '"' && i + 1 < linha.size() && linha[i + 1] == '"') {
        campos.back() += '"';
        ++i;
      } else if (c == '"') {
        aspas = false;
      } else {
        campos.back() += c;
      }
    } else if (c == '"') {
      aspas = true;
    } else if (c == sep) {
      campos.emplace_back();
    } else {
      campos.back() += c;
    }
  }
  if (aspas) throw ErroDeUso("aspas sem fechamento");
  for (auto& c : campos) c = Apara(c);
  return campos;
}

[[noreturn]] void Falha(const std::string& arquivo, size_t linha, const std::string& motivo) {
  throw ErroDeUso(arquivo + ", linha " + std::to_string(linha) + ": " + motivo +
                  " Nenhum funcionário foi enviado.");
}

bool Booleano(const std::string& texto, bool& saida) {
  const std::string t = Minusculas(texto);
  if (t.empty() || t == "0" || t == "nao" || t == "não" || t == "n" || t == "false") {
    saida = false;
    return true;
  }
  if (t == "1" || t == "sim" || t == "s" || t == "true") {
    saida = true;
    return true;
  }
  return false;
}

// Characters (not bytes) of a UTF-8 text.
size_t Caracteres(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// Checks shared by both formats; `falha` names the row. Limits are what a clock keeps, so a
// send never stops half-way for something that could be seen here.
void Confere(const FuncionarioCartao& f, std::set<int32_t>& vistos,
             const std::function<void(std::string)>& falha) {
  if (f.Codigo() <= 0) falha("o código do funcionário deve ser maior que zero.");
  if (!vistos.insert(f.Codigo()).second)
    falha("o código " + std::to_string(f.Codigo()) + " aparece mais de uma vez.");
  if (f.Nome().empty()) falha("o nome do funcionário está vazio.");
  const std::pair<const char*, const std::string*> campos[] = {{"nome", &f.Nome()},
                                                               {"senha", &f.Senha()},
                                                               {"cartao", &f.Cartao()},
                                                               {"pis", &f.PIS()},
                                                               {"cpf", &f.CPF()}};
  for (const auto& [campo, valor] : campos) {
    const LimiteCampo* limite = nullptr;
    for (const auto& l : kLimites)
      if (std::string_view(l.campo) == campo) limite = &l;
    if (limite && Caracteres(*valor) > limite->maximo)
      falha(std::string("o campo \"") + campo + "\" tem " + std::to_string(Caracteres(*valor)) +
            " caracteres; o relógio aceita até " + std::to_string(limite->maximo) + ".");
  }
  // Texts the clock keeps are printable: a control character (a NUL cutting a name short on
  // the clock, a line break in a report) is refused with the field named.
  for (const auto& [campo, valor] :
       {std::pair{"nome", &f.Nome()}, std::pair{"senha", &f.Senha()},
        std::pair{"cartao", &f.Cartao()}, std::pair{"pis", &f.PIS()}, std::pair{"cpf", &f.CPF()}})
    for (char c : *valor)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
        falha(std::string("o campo \"") + campo + "\" tem um caractere de controle (código " +
              std::to_string(static_cast<unsigned char>(c)) + ").");
  // A card is what a reader reads off it: digits, within the 32 bits a clock keeps.
  if (!f.Cartao().empty()) {
    const auto numero = NumeroDe(f.Cartao());
    if (f.Cartao().find_first_not_of("0123456789") != std::string::npos || !numero ||
        *numero > 4294967295LL)
      falha("cartão \"" + f.Cartao() + "\" inválido: só dígitos, até 4294967295.");
  }
  // Check digits, by the same rule as the fiscal export (formatted numbers allowed).
  if (!f.PIS().empty() && !quorvel::documentos::PisValido(quorvel::documentos::SoDigitos(f.PIS())))
    falha("PIS \"" + f.PIS() + "\" inválido: " + kRegraPis);
  if (!f.CPF().empty() && !quorvel::documentos::CpfValido(quorvel::documentos::SoDigitos(f.CPF())))
    falha("CPF \"" + f.CPF() + "\" inválido: " + kRegraCpf);
  for (const auto& t : *f.Template())
    if (t->Texto().size() > kMaximoTemplate)
      falha("o template do dedo " + std::to_string(t->Dedo()) + " tem " +
            std::to_string(t->Texto().size()) + " caracteres; o relógio aceita até " +
            std::to_string(kMaximoTemplate) + ".");
}

// The byte offset of the first byte that breaks UTF-8, if any.
std::optional<size_t> ForaDeUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size()) return i;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return i;
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return i;
    i += n;
  }
  return std::nullopt;
}

size_t LinhaDoByte(std::string_view s, size_t byte) {
  return 1 + static_cast<size_t>(std::count(s.begin(), s.begin() + std::min(byte, s.size()), '\n'));
}

std::string DeLatin1(std::string_view s) {
  std::string r;
  r.reserve(s.size() + s.size() / 8);
  for (unsigned char c : s) {
    if (c < 0x80) {
      r += static_cast<char>(c);
    } else {
      r += static_cast<char>(0xC0 | (c >> 6));
      r += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return r;
}

void AdicionaDigital(FuncionarioCartao& f, long long dedo, const std::string& texto,
                     const std::function<void(std::string)>& falha) {
  if (dedo < 0 || dedo > 9) falha("dedo " + std::to_string(dedo) + " inválido (use 0 a 9).");
  if (texto.empty()) falha("template vazio para o dedo " + std::to_string(dedo) + ".");
  auto t = std::make_shared<Template>();
  t->Dedo(static_cast<int32_t>(dedo));
  t->Texto(texto);
  if (quorvel::ExisteNaColecao(*f.Template(), std::to_string(dedo)))
    falha("o dedo " + std::to_string(dedo) + " aparece duas vezes.");
  f.AddTemplate(t);
}

}  // namespace

quorvel::EModeloRelogio ModeloDe(const std::string& texto) {
  const std::string t = Minusculas(texto);
  if (const auto m = quorvel::ModeloPorNome(t)) return *m;
  throw ErroDeUso("modelo de relógio desconhecido: \"" + texto + "\" (use quorvel ou tarvenix).");
}

std::vector<std::shared_ptr<FuncionarioCartao>> LeFuncionariosCsv(const std::string& texto,
                                                                  const std::string& nome) {
  std::vector<std::shared_ptr<FuncionarioCartao>> r;
  std::istringstream in(texto);
  std::string linha;
  size_t numero = 0;
  std::vector<std::string> cabecalho;
  char sep = ';';
  std::set<int32_t> vistos;
  while (std::getline(in, linha)) {
    ++numero;
    if (numero == 1 && linha.rfind("\xEF\xBB\xBF", 0) == 0) linha.erase(0, 3);  // BOM
    if (Apara(linha).empty()) continue;
    if (cabecalho.empty()) {
      sep = linha.find(';') != std::string::npos ? ';' : ',';
      for (auto& c : Campos(linha, sep)) cabecalho.push_back(Minusculas(c));
      for (const char* obrigatorio : {"codigo", "nome"})
        if (std::find(cabecalho.begin(), cabecalho.end(), obrigatorio) == cabecalho.end())
          Falha(nome, numero, std::string("o cabeçalho não tem a coluna \"") + obrigatorio + "\".");
      continue;
    }
    std::vector<std::string> campos;
    try {
      campos = Campos(linha, sep);
    } catch (const ErroDeUso& e) {
      Falha(nome, numero, std::string(e.what()) + ".");
    }
    if (campos.size() != cabecalho.size())
      Falha(nome, numero,
            "esperava " + std::to_string(cabecalho.size()) + " campos e encontrou " +
                std::to_string(campos.size()) + ".");
    auto f = std::make_shared<FuncionarioCartao>();
    auto falha = [&](std::string motivo) { Falha(nome, numero, motivo); };
    for (size_t i = 0; i < campos.size(); ++i) {
      const std::string& c = cabecalho[i];
      const std::string& v = campos[i];
      if (c == "codigo") {
        auto n = NumeroDe(v);
        if (!n || *n < 1 || *n > 2147483647) falha("código inválido \"" + v + "\".");
        f->Codigo(static_cast<int32_t>(*n));
      } else if (c == "nome") {
        f->Nome(v);
      } else if (c == "senha") {
        f->Senha(v);
      } else if (c == "supervisor") {
        bool b = false;
        if (!Booleano(v, b)) falha("supervisor deve ser sim ou não, não \"" + v + "\".");
        f->Supervisor(b);
      } else if (c == "cartao") {
        f->Cartao(v);
      } else if (c == "pis") {
        f->PIS(v);
      } else if (c == "cpf") {
        f->CPF(v);
      } else if (c == "digitais") {
        std::istringstream d(v);
        std::string item;
        while (std::getline(d, item, '|')) {
          item = Apara(item);
          if (item.empty()) continue;
          const auto dois = item.find(':');
          if (dois == std::string::npos) falha("digital sem dedo: use dedo:template.");
          auto dedo = NumeroDe(Apara(item.substr(0, dois)));
          if (!dedo) falha("dedo inválido \"" + item.substr(0, dois) + "\".");
          AdicionaDigital(*f, *dedo, Apara(item.substr(dois + 1)), falha);
        }
      } else {
        falha("coluna desconhecida \"" + c + "\".");
      }
    }
    Confere(*f, vistos, falha);
    r.push_back(std::move(f));
  }
  if (cabecalho.empty()) throw ErroDeUso(nome + ": o arquivo está vazio.");
  return r;
}

std::vector<std::shared_ptr<FuncionarioCartao>> LeFuncionariosJson(const std::string& texto,
                                                                   const std::string& nome) {
  nlohmann::json doc;
  // A key given twice in one object would be read as its last value without a word: the
  // parser tells each key as it meets it, object by object.
  std::vector<std::set<std::string>> chaves;
  std::string repetida;
  size_t funcionario = 0, repetidaEm = 0;
  const auto confere = [&](int, nlohmann::json::parse_event_t evento, nlohmann::json& valor) {
    if (evento == nlohmann::json::parse_event_t::object_start) {
      if (chaves.empty()) ++funcionario;
      chaves.emplace_back();
    }
    if (evento == nlohmann::json::parse_event_t::object_end && !chaves.empty()) chaves.pop_back();
    if (evento == nlohmann::json::parse_event_t::key && !chaves.empty() && repetida.empty() &&
        !chaves.back().insert(valor.get<std::string>()).second) {
      repetida = valor.get<std::string>();
      repetidaEm = funcionario;
    }
    return true;
  };
  try {
    doc = nlohmann::json::parse(texto, confere);
  } catch (const nlohmann::json::parse_error& e) {
    throw ErroDeUso(nome + ", linha " + std::to_string(LinhaDoByte(texto, e.byte)) +
                    ": JSON inválido (" + e.what() + "). Nenhum funcionário foi enviado.");
  } catch (const nlohmann::json::exception& e) {
    // A number no field can hold (1e999): the message quotes it, which finds its line.
    const std::string m = e.what();
    const auto a = m.find('\''), b = a == std::string::npos ? a : m.find('\'', a + 1);
    std::string onde;
    if (b != std::string::npos) {
      const std::string numero = m.substr(a + 1, b - a - 1);
      if (const auto p = texto.find(numero); p != std::string::npos)
        onde = ", linha " + std::to_string(LinhaDoByte(texto, p));
      onde += ": número fora do intervalo (" + numero + ").";
    } else {
      onde = ": valor fora do intervalo (" + m + ").";
    }
    throw ErroDeUso(nome + onde + " Nenhum funcionário foi enviado.");
  }
  if (!repetida.empty())
    throw ErroDeUso(nome + ": o campo \"" + repetida + "\" aparece duas vezes no " +
                    std::to_string(repetidaEm) +
                    "º funcionário da lista. Nenhum funcionário foi "
                    "enviado.");
  if (!doc.is_array()) throw ErroDeUso(nome + ": esperava uma lista de funcionários.");
  std::vector<std::shared_ptr<FuncionarioCartao>> r;
  std::set<int32_t> vistos;
  size_t numero = 0;
  for (const auto& item : doc) {
    ++numero;
    auto falha = [&](std::string motivo) {
      throw ErroDeUso(nome + ", funcionário " + std::to_string(numero) + ": " + motivo +
                      " Nenhum funcionário foi enviado.");
    };
    if (!item.is_object()) falha("esperava um objeto.");
    auto f = std::make_shared<FuncionarioCartao>();
    auto texto_ = [&](const char* campo) -> std::string {
      if (!item.contains(campo) || item[campo].is_null()) return {};
      if (!item[campo].is_string()) falha(std::string("o campo \"") + campo + "\" deve ser texto.");
      return item[campo].get<std::string>();
    };
    for (auto it = item.begin(); it != item.end(); ++it) {
      static const std::set<std::string> kCampos = {"codigo", "nome", "senha", "supervisor",
                                                    "cartao", "pis",  "cpf",   "digitais"};
      if (!kCampos.count(it.key())) falha("campo desconhecido \"" + it.key() + "\".");
    }
    if (!item.contains("codigo") || !item["codigo"].is_number_integer())
      falha("o código deve ser um número inteiro.");
    const long long codigo = item["codigo"].get<long long>();
    if (codigo < 1 || codigo > 2147483647) falha("código inválido " + std::to_string(codigo) + ".");
    f->Codigo(static_cast<int32_t>(codigo));
    f->Nome(texto_("nome"));
    f->Senha(texto_("senha"));
    f->Cartao(texto_("cartao"));
    f->PIS(texto_("pis"));
    f->CPF(texto_("cpf"));
    if (item.contains("supervisor")) {
      if (!item["supervisor"].is_boolean()) falha("supervisor deve ser true ou false.");
      f->Supervisor(item["supervisor"].get<bool>());
    }
    if (item.contains("digitais")) {
      if (!item["digitais"].is_array()) falha("digitais deve ser uma lista.");
      for (const auto& d : item["digitais"]) {
        if (!d.is_object() || !d.contains("dedo") || !d["dedo"].is_number_integer() ||
            !d.contains("template") || !d["template"].is_string())
          falha("cada digital precisa de \"dedo\" (0 a 9) e \"template\" (texto).");
        AdicionaDigital(*f, d["dedo"].get<long long>(), d["template"].get<std::string>(), falha);
      }
    }
    Confere(*f, vistos, falha);
    r.push_back(std::move(f));
  }
  return r;
}

std::vector<std::shared_ptr<FuncionarioCartao>> LeFuncionarios(const std::string& caminho,
                                                               bool latin1) {
  std::string texto = LeArquivo(caminho);
  if (latin1) {
    texto = DeLatin1(texto);
  } else if (const auto byte = ForaDeUtf8(texto)) {
    throw ErroDeUso(caminho + ", linha " + std::to_string(LinhaDoByte(texto, *byte)) +
                    ": texto que não é UTF-8 (byte " + std::to_string(*byte) +
                    "); se o arquivo é Latin-1, use --codificacao latin1. Nenhum funcionário foi "
                    "enviado.");
  }
  const std::string ext =
      Minusculas(caminho.size() >= 5 ? caminho.substr(caminho.size() - 5) : caminho);
  auto funcionarios =
      ext == ".json" ? LeFuncionariosJson(texto, caminho) : LeFuncionariosCsv(texto, caminho);
  // A file with no employee in it is a wrong file, not an empty send that went well.
  if (funcionarios.empty())
    throw ErroDeUso(caminho + ": nenhum funcionário no arquivo" +
                    (ext == ".json" ? std::string(" (a lista está vazia)") : " (só o cabeçalho)") +
                    ". Nada foi enviado.");
  if (funcionarios.size() > kMaximoFuncionariosPorEnvio)
    throw ErroDeUso(caminho + ": " + std::to_string(funcionarios.size()) +
                    " funcionários; um envio leva no máximo " +
                    std::to_string(kMaximoFuncionariosPorEnvio) +
                    ". Divida o arquivo. Nenhum funcionário foi enviado.");
  return funcionarios;
}

void ConfereEndereco(const std::string& endereco, const std::string& onde) {
  if (endereco.empty()) throw ErroDeUso(onde + ": endereço vazio.");
  std::string porta;
  if (endereco.front() == '[') {
    const auto fecha = endereco.find(']');
    if (fecha == std::string::npos) throw ErroDeUso(onde + ": falta \"]\" no endereço.");
    if (fecha + 1 < endereco.size()) {
      if (endereco[fecha + 1] != ':') throw ErroDeUso(onde + ": use [endereço]:porta.");
      porta = endereco.substr(fecha + 2);
      if (porta.empty()) throw ErroDeUso(onde + ": porta vazia em \"" + endereco + "\".");
    }
  } else {
    const auto doisPontos = endereco.find(':');
    // Two colons or more: a bare IPv6 address, on port 4370.
    if (doisPontos != std::string::npos &&
        endereco.find(':', doisPontos + 1) == std::string::npos) {
      porta = endereco.substr(doisPontos + 1);
      if (doisPontos == 0) throw ErroDeUso(onde + ": endereço vazio.");
      if (porta.empty()) throw ErroDeUso(onde + ": porta vazia em \"" + endereco + "\".");
    }
  }
  // The host part: an address written with digits and dots must be an IPv4 address, one in
  // brackets or with two colons an IPv6 one; names are the network's to resolve.
  std::string host = endereco;
  if (endereco.front() == '[')
    host = endereco.substr(1, endereco.find(']') - 1);
  else if (!porta.empty())
    host = endereco.substr(0, endereco.rfind(':'));
  unsigned char binario[16];
  const bool ipv6 = endereco.front() == '[' || std::count(host.begin(), host.end(), ':') > 1;
  if (ipv6 ? ::inet_pton(AF_INET6, host.c_str(), binario) != 1
           : host.find_first_not_of("0123456789.") == std::string::npos &&
                 ::inet_pton(AF_INET, host.c_str(), binario) != 1)
    throw ErroDeUso(onde + ": endereço inválido \"" + host + "\"" +
                    (ipv6 ? " (IPv6: [endereço]:porta)." : " (IPv4: quatro números de 0 a 255)."));
  if (porta.empty()) return;
  const auto numero = NumeroDe(porta);
  if (!numero || *numero < 1 || *numero > 65535)
    throw ErroDeUso(onde + ": porta inválida \"" + porta + "\" (use 1 a 65535).");
}

std::vector<RelogioDoArquivo> LeRelogios(const std::string& caminho) {
  std::istringstream in(LeArquivo(caminho));
  std::vector<RelogioDoArquivo> r;
  std::string linha;
  size_t numero = 0;
  while (std::getline(in, linha)) {
    ++numero;
    linha = Apara(linha);
    if (linha.empty() || linha[0] == '#') continue;
    const char sep = linha.find(';') != std::string::npos ? ';' : ',';
    const auto campos = Campos(linha, sep);
    const std::string onde = caminho + ", linha " + std::to_string(numero);
    auto falha = [&](const std::string& m) { throw ErroDeUso(onde + ": " + m); };
    if (campos.size() < 2) falha("use codigo;endereço[:porta];modelo[;chave][;campo=valor...].");
    auto codigo = NumeroDe(campos[0]);
    if (!codigo || *codigo < 1 || *codigo > 32767)
      falha("código de relógio inválido \"" + campos[0] + "\".");
    auto rel = std::make_shared<quorvel::Relogio>();
    rel->Codigo(static_cast<int16_t>(*codigo));
    if (campos[1].rfind("serial:", 0) == 0) {
      int16_t porta = 0;
      try {
        porta = PortaSerialDe(campos[1].substr(7), "a porta serial");
      } catch (const ErroDeUso& e) {
        falha(e.what());
      }
      rel->TipoConexao(quorvel::ConexaoSerial);
      rel->PortaSerial(porta);
    } else {
      ConfereEndereco(campos[1], onde);
      rel->IP(campos[1]);
    }
    try {
      rel->ModeloRelogio(campos.size() >= 3 && !campos[2].empty()
                             ? ModeloDe(campos[2])
                             : quorvel::EModeloRelogio_Quorvel);
    } catch (const ErroDeUso& e) {
      falha(e.what());
    }
    for (const auto& outro : r)
      if (outro.relogio->Codigo() == rel->Codigo())
        falha("o relógio " + campos[0] + " aparece mais de uma vez.");
    const bool modeloInformado = campos.size() >= 3 && !campos[2].empty();
    RelogioDoArquivo item{std::move(rel), std::nullopt, {}, modeloInformado};
    for (size_t i = 3; i < campos.size(); ++i) {
      const auto igual = campos[i].find('=');
      if (igual == std::string::npos) {
        if (i != 3) falha("campo \"" + campos[i] + "\" sem nome (use campo=valor).");
        item.chave = campos[i];
        continue;
      }
      const std::string nome = Apara(campos[i].substr(0, igual));
      if (std::find(std::begin(kCamposAfd), std::end(kCamposAfd), nome) == std::end(kCamposAfd)) {
        std::string conhecidos;
        for (const char* c : kCamposAfd)
          conhecidos += std::string(conhecidos.empty() ? "" : ", ") + c;
        falha("campo desconhecido \"" + nome + "\" (conhecidos: " + conhecidos + ").");
      }
      item.campos[nome] = Apara(campos[i].substr(igual + 1));
    }
    r.push_back(std::move(item));
  }
  if (r.empty()) throw ErroDeUso(caminho + ": nenhum relógio no arquivo.");
  return r;
}

namespace {
constexpr int16_t kPrimeiraPortaDeDispositivo = 32000;
std::map<std::string, int16_t>& Dispositivos() {
  static std::map<std::string, int16_t> d;
  return d;
}
}  // namespace

int16_t PortaSerialDe(const std::string& texto, const std::string& onde) {
  if (!texto.empty() && texto.front() == '/') {
    if (texto.find_first_of(std::string("\0\n\r", 3)) != std::string::npos)
      throw ErroDeUso(onde + ": dispositivo inválido \"" + texto + "\".");
    auto& d = Dispositivos();
    if (auto it = d.find(texto); it != d.end()) return it->second;
    if (d.size() >= static_cast<size_t>(32767 - kPrimeiraPortaDeDispositivo + 1))
      throw ErroDeUso(onde + ": dispositivos seriais demais.");
    const auto porta = static_cast<int16_t>(kPrimeiraPortaDeDispositivo + d.size());
    ::setenv(("QUORVEL_SERIAL_" + std::to_string(porta)).c_str(), texto.c_str(), 1);
    d.emplace(texto, porta);
    return porta;
  }
  const auto n = NumeroDe(texto);
  if (!n || *n < 1 || *n >= kPrimeiraPortaDeDispositivo)
    throw ErroDeUso(onde + ": porta serial inválida \"" + texto + "\" (use um número de 1 a " +
                    std::to_string(kPrimeiraPortaDeDispositivo - 1) +
                    " ou o caminho do dispositivo, como /dev/ttyUSB0).");
  return static_cast<int16_t>(*n);
}

std::string DocumentoConferido(const std::string& texto, bool cpf, const std::string& onde) {
  const std::string digitos = quorvel::documentos::SoDigitos(texto);
  if (cpf ? quorvel::documentos::CpfValido(digitos) : quorvel::documentos::CnpjValido(digitos))
    return digitos;
  throw ErroDeUso(onde + ": " + (cpf ? "CPF" : "CNPJ") + " \"" + texto +
                  "\" inválido: " + (cpf ? kRegraCpf : kRegraCnpj));
}

std::string CnoCaepfConferido(const std::string& texto, bool empregadorCpf,
                              const std::string& empregadorDocumento, bool so12,
                              const std::string& onde) {
  if (texto.empty()) return texto;
  const std::string digitos = quorvel::documentos::SoDigitos(texto);
  const std::string inicio = onde + ": \"" + texto + "\" ";
  if (digitos.size() == 12) {
    if (quorvel::documentos::CeiValido(digitos)) return digitos;
    throw ErroDeUso(inicio + "não é um CNO/CEI válido: 12 dígitos com o dígito verificador certo.");
  }
  if (digitos.size() == 14 && !so12) {
    // The check digits of a CAEPF are not checked here: its root is, which is what ties it to
    // the employer.
    if (!empregadorCpf)
      throw ErroDeUso(inicio +
                      "tem 14 dígitos, como um CAEPF, que só existe para empregador "
                      "pessoa física (tipo cpf); um empregador com CNPJ usa o CNO, de "
                      "12 dígitos.");
    const bool mesmaRaiz =
        empregadorDocumento.size() != 11 || digitos.compare(0, 9, empregadorDocumento, 0, 9) == 0;
    if (!mesmaRaiz)
      throw ErroDeUso(inicio +
                      "não é um CAEPF deste empregador: o CAEPF começa pelos nove "
                      "primeiros dígitos do CPF do empregador (" +
                      empregadorDocumento.substr(0, 9) + ").");
    return digitos;
  }
  throw ErroDeUso(inicio + (so12 ? "não é um CEI: 12 dígitos (o leiaute 1510 não tem CAEPF)."
                                 : "não é um CNO/CEI (12 dígitos) nem um CAEPF (14 dígitos)."));
}

std::optional<std::string> DispositivoSerial(int16_t porta) {
  for (const auto& [caminho, numero] : Dispositivos())
    if (numero == porta) return caminho;
  return std::nullopt;
}

}  // namespace ponto
