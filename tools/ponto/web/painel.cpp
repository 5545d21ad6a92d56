#include "web/painel.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "arquivos.h"
#include "banco.h"
#include "comandos.h"
#include "quorvel/erro.h"
#include "saida.h"
#include "sessao.h"
#include "web/difusor.h"
#include "web/recursos.h"

namespace ponto::web {

using namespace quorvel;
using armazem::Armazem;
using armazem::MarcacaoArmazenada;
using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

namespace {

constexpr size_t kTokenMinimo = 16;
constexpr size_t kPorPaginaMaximo = 500;
constexpr size_t kRecentesPorLeitura = 500;
// How far back a watcher looks for punches stored by a collector whose clock is behind.
constexpr int kJanelaSegundos = 10;

// ---- Options --------------------------------------------------------------------------------

bool Loopback(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  in_addr a{};
  return ::inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

std::string LeToken(const std::string& caminho) {
  std::ifstream f(caminho);
  if (!f) throw ErroDeUso("não foi possível ler o token em \"" + caminho + "\".");
  std::string token;
  std::getline(f, token);
  while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
  while (!token.empty() && token.front() == ' ') token.erase(token.begin());
  if (token.size() < kTokenMinimo)
    throw ErroDeUso("o token em \"" + caminho + "\" é curto demais (mínimo " +
                    std::to_string(kTokenMinimo) + " caracteres na primeira linha).");
  for (unsigned char c : token)
    if (c < 0x21 || c > 0x7e)
      throw ErroDeUso("o token em \"" + caminho + "\" deve ter só letras, dígitos e sinais.");
  return token;
}

// ---- Answers --------------------------------------------------------------------------------

void Responde(httplib::Response& res, int status, const Json& corpo) {
  res.status = status;
  res.set_content(corpo.dump(-1, ' ', false, Json::error_handler_t::replace),
                  "application/json; charset=utf-8");
}

void Falha(httplib::Response& res, int status, const std::string& mensagem) {
  Responde(res, status, Json{{"erro", mensagem}});
}

// A token compared in a time that does not tell how much of it was right.
bool IguaisEmTempoConstante(const std::string& dado, const std::string& token) {
  if (dado.size() != token.size()) return false;
  unsigned char diferenca = 0;
  for (size_t i = 0; i < token.size(); ++i)
    diferenca |= static_cast<unsigned char>(dado[i] ^ token[i]);
  return diferenca == 0;
}

// "aaaa-mm-dd", or ErroDeUso naming the parameter.
DataHora Dia(const std::string& texto, const std::string& nome) {
  int a = 0, m = 0, d = 0;
  char resto = 0;
  if (texto.size() != 10 || std::sscanf(texto.c_str(), "%4d-%2d-%2d%c", &a, &m, &d, &resto) != 3 ||
      !DataHora::PartesValidas(a, m, d, 0, 0, 0))
    throw ErroDeUso("\"" + nome + "\" deve ser uma data aaaa-mm-dd.");
  return DataHora::DePartes(a, m, d);
}

// Today by this machine's calendar, "aaaa-mm-dd".
std::string Hoje() {
  const std::time_t agora = std::time(nullptr);
  std::tm l{};
  localtime_r(&agora, &l);
  char texto[16];
  std::strftime(texto, sizeof texto, "%Y-%m-%d", &l);
  return texto;
}

long long Inteiro(const httplib::Request& req, const std::string& nome, long long padrao,
                  long long minimo, long long maximo) {
  if (!req.has_param(nome.c_str())) return padrao;
  const auto n = NumeroDe(req.get_param_value(nome.c_str()));
  if (!n || *n < minimo || *n > maximo)
    throw ErroDeUso("\"" + nome + "\" deve ser um número de " + std::to_string(minimo) + " a " +
                    std::to_string(maximo) + ".");
  return *n;
}

// "aaaa-mm-ddThh:mm:ssZ" moved back by `segundos`.
std::string UtcMenos(const std::string& utc, int segundos) {
  std::tm tm{};
  const char* fim = strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
  if (!fim || *fim) return utc;
  std::time_t t = timegm(&tm) - segundos;
  gmtime_r(&t, &tm);
  char texto[32];
  std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return texto;
}

std::string PorCento(const std::string& texto) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  for (unsigned char c : texto) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      r += static_cast<char>(c);
    } else {
      r += '%';
      r += kHex[c >> 4];
      r += kHex[c & 15];
    }
  }
  return r;
}

std::string Identidade(const MarcacaoArmazenada& m) {
  return std::to_string(m.relogio) + "/" + std::to_string(m.nsr) + "/" + std::to_string(m.cartao) +
         "/" + m.momento.FormataIso() + "/" + std::to_string(m.ordem);
}

std::string Quadro(const char* evento, const Json& dados) {
  return std::string("event: ") + evento +
         "\ndata: " + dados.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n";
}

// What `exportar` writes, straight into an HTTP response a block at a time.
class SaidaHttp final : public std::streambuf {
 public:
  explicit SaidaHttp(httplib::DataSink& sink) : sink_(sink) { setp(buf_, buf_ + sizeof buf_); }
  struct Fechou {};  // the browser went away: the export stops
  int sync() override {
    const auto n = static_cast<size_t>(pptr() - pbase());
    if (n && !sink_.write(pbase(), n)) throw Fechou{};
    setp(buf_, buf_ + sizeof buf_);
    return 0;
  }

 private:
  int_type overflow(int_type c) override {
    sync();
    if (c != traits_type::eof()) {
      *pptr() = static_cast<char>(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  httplib::DataSink& sink_;
  char buf_[64 * 1024];
};

}  // namespace

Configuracao ConfiguracaoDe(const Opcoes& o) {
  Configuracao c;
  const auto web = o.Valor("--web");
  if (!web) {
    if (o.Tem("--web-token")) throw ErroDeUso("--web-token só vale com --web ENDEREÇO:PORTA.");
    throw ErroDeUso(
        "informe onde servir a página: --web ENDEREÇO:PORTA (por exemplo "
        "127.0.0.1:8080).");
  }
  std::string host, porta;
  if (!web->empty() && (*web)[0] == '[') {
    const size_t fecha = web->find("]:");
    if (fecha == std::string::npos)
      throw ErroDeUso("--web: use ENDEREÇO:PORTA ou [IPv6]:PORTA, não \"" + *web + "\".");
    host = web->substr(1, fecha - 1);
    porta = web->substr(fecha + 2);
  } else {
    const size_t dois = web->rfind(':');
    if (dois == std::string::npos || web->find(':') != dois)
      throw ErroDeUso("--web: use ENDEREÇO:PORTA ou [IPv6]:PORTA, não \"" + *web + "\".");
    host = web->substr(0, dois);
    porta = web->substr(dois + 1);
  }
  if (host.empty()) host = "127.0.0.1";
  const auto p = NumeroDe(porta);
  if (!p || *p < 0 || *p > 65535)
    throw ErroDeUso("--web: porta inválida \"" + porta + "\" (0 a 65535; 0 escolhe uma livre).");
  if (host != "localhost")
    ConfereEndereco(host.find(':') != std::string::npos ? "[" + host + "]" : host, "--web");
  c.host = host;
  c.porta = static_cast<int>(*p);
  c.loopback = Loopback(host);
  if (auto t = o.Valor("--web-token")) c.token = LeToken(*t);
  if (!c.loopback && !c.token)
    throw ErroDeUso("--web em " + host +
                    " serve a página fora desta máquina: exige --web-token ARQUIVO.");
  c.banco = EnderecoBanco(o);
  c.arquivoRelogios = o.Valor("--relogios");
  return c;
}

// ---- The server -------------------------------------------------------------------------------

struct Painel::Impl {
  Configuracao c;
  httplib::Server http;
  std::thread fio;
  std::string url;

  // Readers of the store, kept for the next request.
  std::mutex mLeitores;
  std::vector<std::unique_ptr<Armazem>> leitores;

  // What the watchers were last told, and the store's names for PIS (refreshed now and then).
  std::mutex mEstado;
  std::map<int16_t, std::string> relogiosVistos;  // by code: the row without its countdown
  Json relogiosAtuais;
  std::chrono::steady_clock::time_point relogiosLidosEm{};
  std::chrono::steady_clock::time_point funcionariosLidosEm{};
  Funcionarios funcionarios;
  std::string marca;                          // the newest `recebida_em` seen
  std::map<std::string, std::string> vistos;  // identity -> recebida_em, within the window
  std::chrono::steady_clock::time_point ultimaLeituraRelogios{};

  std::unique_ptr<Difusor> difusor;

  explicit Impl(Configuracao config) : c(std::move(config)) {}

  void Registra(const std::string& linha) {
    if (c.registra) c.registra(linha);
  }

  template <class F>
  auto ComBanco(F&& f) {
    std::unique_ptr<Armazem> a;
    {
      std::lock_guard t(mLeitores);
      if (!leitores.empty()) {
        a = std::move(leitores.back());
        leitores.pop_back();
      }
    }
    if (!a) a = Armazem::Abre(c.banco, "painel", armazem::Acesso::Leitura);
    // A reader whose statement failed may have lost its connection: not kept.
    auto r = f(*a);
    std::lock_guard t(mLeitores);
    if (leitores.size() < 8) leitores.push_back(std::move(a));
    return r;
  }

  // Names of the PIS the store knows, read again at most every 5 s and only when a PIS is
  // unknown or a minute went by.
  const Funcionarios& Nomes(Armazem& banco, const std::vector<MarcacaoArmazenada>& ms) {
    bool falta = false;
    for (const auto& m : ms)
      if (!m.pis.empty() && !funcionarios.count(m.pis)) falta = true;
    return Cadastro(banco, falta ? 5s : 60s);
  }

  // The store's employees, read again when the copy is older than `idade` (mEstado held).
  const Funcionarios& Cadastro(Armazem& banco, std::chrono::seconds idade) {
    const auto agora = std::chrono::steady_clock::now();
    if (agora - funcionariosLidosEm > idade) {
      funcionarios = banco.Funcionarios();
      funcionariosLidosEm = agora;
    }
    return funcionarios;
  }

  Json LeRelogios(Armazem& banco) { return Relogios(banco.Estados(true), c.relogios); }

  // The watchers' reader fails twice a second while the store is away: one line when it goes,
  // one when it is back.
  std::atomic<bool> leituraFalhando{false};
  void FalhaDeLeitura(const std::string& e) {
    if (!leituraFalhando.exchange(true))
      Registra("painel: o banco de dados não responde (" + e.substr(0, e.find("\r\n")) +
               "); as páginas esperam");
  }

  // ---- What the watchers are sent ----

  std::vector<std::string> Novidades(bool recomecar) {
    return ComBanco([&](Armazem& banco) {
      std::vector<std::string> quadros;
      std::lock_guard t(mEstado);
      if (recomecar) {
        // From now on: what is already stored is what the page searched or counted.
        vistos.clear();
        marca = armazem::AgoraUtc();
        for (const auto& m :
             banco.RecebidasDesde(UtcMenos(marca, kJanelaSegundos), kRecentesPorLeitura)) {
          vistos[Identidade(m)] = m.recebidaEm;
          marca = std::max(marca, m.recebidaEm);
        }
      } else {
        const auto recentes =
            banco.RecebidasDesde(UtcMenos(marca, kJanelaSegundos), kRecentesPorLeitura);
        const auto& nomes = Nomes(banco, recentes);
        // Newest first from the store; the page is told oldest first.
        for (auto it = recentes.rbegin(); it != recentes.rend(); ++it) {
          if (!vistos.emplace(Identidade(*it), it->recebidaEm).second) continue;
          quadros.push_back(Quadro("marcacao", Marcacao(*it, nomes)));
          marca = std::max(marca, it->recebidaEm);
        }
        const std::string limite = UtcMenos(marca, kJanelaSegundos);
        for (auto it = vistos.begin(); it != vistos.end();)
          it = it->second < limite ? vistos.erase(it) : std::next(it);
      }
      // Clocks once a second: each row that changed (its countdown aside) is sent alone.
      const auto agora = std::chrono::steady_clock::now();
      if (recomecar || agora - ultimaLeituraRelogios >= 1s) {
        ultimaLeituraRelogios = agora;
        Json lista = LeRelogios(banco);
        for (const auto& r : lista) {
          Json semContagem = r;
          semContagem.erase("arrendamento_segundos");
          std::string chave = semContagem.dump();
          auto& anterior = relogiosVistos[r["relogio"].get<int16_t>()];
          if (anterior != chave) {
            if (!recomecar) quadros.push_back(Quadro("relogio", r));
            anterior = std::move(chave);
          }
        }
        relogiosAtuais = std::move(lista);
        relogiosLidosEm = agora;
      }
      if (leituraFalhando.exchange(false)) Registra("painel: banco de dados de volta");
      return quadros;
    });
  }

  std::vector<std::string> Inicio() {
    Json lista;
    {
      std::lock_guard t(mEstado);
      if (std::chrono::steady_clock::now() - relogiosLidosEm < 2s) lista = relogiosAtuais;
    }
    if (lista.is_null()) lista = ComBanco([&](Armazem& banco) { return LeRelogios(banco); });
    return {"retry: 2000\n\n", Quadro("relogios", lista)};
  }

  // ---- Requests ----

  // Runs a handler; bad input is 400 with its message, a store that cannot answer 503.
  template <class F>
  void Trata(httplib::Response& res, F&& f) {
    try {
      f();
    } catch (const ErroDeUso& e) {
      Falha(res, 400, e.what());
    } catch (const Erro& e) {
      const std::string& d = e.Descricao();
      Falha(res, e.Numero() == erro::kArmazem ? 503 : 500,
            (e.Numero() == erro::kArmazem ? "banco de dados inacessível: " : "") +
                d.substr(0, d.find("\r\n")));
    } catch (const std::exception& e) {
      Falha(res, 500, std::string("falha inesperada: ") + e.what());
    }
  }

  // Reads only: a token where one is set; without one (loopback) the Host must be this
  // machine's, so a page elsewhere cannot reach the API through a name it points here.
  httplib::Server::HandlerResponse Porteiro(const httplib::Request& req, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; style-src 'self'; script-src 'self'; img-src 'self' data:;"
                   " frame-ancestors 'none'");
    if (req.path.rfind("/api/", 0) != 0) return httplib::Server::HandlerResponse::Unhandled;
    res.set_header("Cache-Control", "no-store");
    if (c.token) {
      const std::string a = req.get_header_value("Authorization");
      if (a.rfind("Bearer ", 0) != 0 || !IguaisEmTempoConstante(a.substr(7), *c.token)) {
        res.set_header("WWW-Authenticate", "Bearer realm=\"ponto\"");
        Falha(res, 401, "token ausente ou inválido: informe o token do painel.");
        return httplib::Server::HandlerResponse::Handled;
      }
    } else {
      std::string host = req.get_header_value("Host");
      if (!host.empty() && host[0] == '[')
        host = host.substr(1, host.find(']') - 1);
      else
        host = host.substr(0, host.rfind(':'));
      if (!Loopback(host) && host != c.host) {
        Falha(res, 403, "endereço \"" + host + "\" não é desta máquina.");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    if (req.method == "POST") {
      if (!c.token) {
        Falha(res, 403, "ações pelo painel exigem um token: inicie com --web-token ARQUIVO.");
        return httplib::Server::HandlerResponse::Handled;
      }
      // A header no form of another site can send: this POST comes from the page.
      if (req.get_header_value("X-Quorvel") != "1") {
        Falha(res, 403, "pedido sem o cabeçalho X-Quorvel: 1.");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  // de, ate, relogio (one or a list) and funcionario, as `exportar` takes them; `extras` are
  // read elsewhere; anything else, or one given twice, is bad input.
  armazem::Filtro FiltroDaBusca(const httplib::Request& req, Armazem& banco,
                                const std::set<std::string>& extras) {
    std::multimap<std::string, std::string> datas;
    std::map<std::string, std::string> vistos;
    for (const auto& [nome, valor] : req.params) {
      if (extras.count(nome)) continue;
      if (nome != "de" && nome != "ate" && nome != "relogio" && nome != "funcionario")
        throw ErroDeUso("parâmetro desconhecido \"" + nome + "\".");
      if (!vistos.emplace(nome, valor).second)
        throw ErroDeUso("parâmetro \"" + nome + "\" repetido.");
      if ((nome == "de" || nome == "ate") && !valor.empty()) datas.emplace(nome, valor);
    }
    armazem::Filtro f = FiltroDe(OpcoesDe(datas, {"--de", "--ate"}));
    if (!vistos["relogio"].empty()) f.relogios = ListaDeRelogios(vistos["relogio"], "relogio");
    // A blank employee (an empty search box) filters nothing.
    if (vistos["funcionario"].find_first_not_of(' ') != std::string::npos) {
      std::lock_guard t(mEstado);
      f.funcionario = FuncionarioDe(vistos["funcionario"], Cadastro(banco, 5s));
    }
    return f;
  }

  void Marcacoes(const httplib::Request& req, httplib::Response& res) {
    Trata(res, [&] {
      const auto pagina = Inteiro(req, "pagina", 1, 1, 1000000);
      const auto porPagina = Inteiro(req, "por_pagina", 50, 1, kPorPaginaMaximo);
      Responde(res, 200, ComBanco([&](Armazem& banco) {
                 const auto f = FiltroDaBusca(req, banco, {"pagina", "por_pagina"});
                 const size_t total = banco.Conta(f);
                 const auto ms = banco.Pagina(f, static_cast<size_t>((pagina - 1) * porPagina),
                                              static_cast<size_t>(porPagina));
                 Json lista = Json::array();
                 {
                   std::lock_guard t(mEstado);
                   const auto& nomes = Nomes(banco, ms);
                   for (const auto& m : ms) lista.push_back(Marcacao(m, nomes));
                 }
                 const size_t pp = static_cast<size_t>(porPagina);
                 return Json{{"total", total},
                             {"pagina", pagina},
                             {"por_pagina", porPagina},
                             {"paginas", (total + pp - 1) / pp},
                             {"marcacoes", std::move(lista)}};
               }));
    });
  }

  void MarcacoesCsv(const httplib::Request& req, httplib::Response& res) {
    Trata(res, [&] {
      // The filter is checked (and the store reached) before the answer starts.
      auto filtro = ComBanco([&](Armazem& banco) { return FiltroDaBusca(req, banco, {}); });
      res.set_header("Content-Disposition", "attachment; filename=\"marcacoes.csv\"");
      res.set_chunked_content_provider(
          "text/csv; charset=utf-8", [this, filtro](size_t, httplib::DataSink& sink) {
            SaidaHttp saida(sink);
            std::ostream out(&saida);
            out.exceptions(std::ios::badbit);  // a browser gone stops the export (Fechou)
            try {
              ComBanco([&](Armazem& banco) {
                return ExportaMarcacoes(out, banco, filtro, Formato::Csv, false);
              });
              out.flush();
              sink.done();
              return true;
            } catch (const SaidaHttp::Fechou&) {
              return false;
            } catch (const std::exception& e) {
              Registra(std::string("painel: exportação CSV interrompida: ") + e.what());
              return false;
            }
          });
    });
  }

  void Contagens(const httplib::Request& req, httplib::Response& res) {
    Trata(res, [&] {
      const std::string periodo =
          req.has_param("periodo") ? req.get_param_value("periodo") : "hora";
      if (periodo != "hora" && periodo != "dia")
        throw ErroDeUso("\"periodo\" deve ser hora ou dia.");
      for (const auto& [nome, valor] : req.params)
        if (nome != "periodo" && nome != "relogio" && nome != (periodo == "hora" ? "dia" : "ate") &&
            !(periodo == "dia" && nome == "dias"))
          throw ErroDeUso("parâmetro \"" + nome + "\" desconhecido para periodo=" + periodo + ".");
      armazem::Filtro f;
      Json relogios;
      if (req.has_param("relogio") && !req.get_param_value("relogio").empty()) {
        f.relogios = ListaDeRelogios(req.get_param_value("relogio"), "relogio");
        relogios = f.relogios;
      }
      Json r{{"periodo", periodo}, {"relogios", relogios}};
      if (periodo == "hora") {
        const std::string dia = req.has_param("dia") ? req.get_param_value("dia") : Hoje();
        f.de = Dia(dia, "dia");
        f.ate = DataHora::DeSegundos(f.de->Segundos() + 86399);
        const auto grupos =
            ComBanco([&](Armazem& b) { return b.ContaPor(f, armazem::Periodo::Hora); });
        std::array<int64_t, 24> porHora{};
        for (const auto& [hora, n] : grupos) porHora[std::stoi(hora.substr(11, 2))] = n;
        Json lista = Json::array();
        for (int h = 0; h < 24; ++h) lista.push_back({{"hora", h}, {"marcacoes", porHora[h]}});
        r["dia"] = dia;
        r["contagens"] = std::move(lista);
      } else {
        const std::string ate = req.has_param("ate") ? req.get_param_value("ate") : Hoje();
        const auto dias = Inteiro(req, "dias", 30, 1, 366);
        f.ate = DataHora::DeSegundos(Dia(ate, "ate").Segundos() + 86399);
        f.de = DataHora::DeSegundos(Dia(ate, "ate").Segundos() - (dias - 1) * 86400);
        const auto grupos =
            ComBanco([&](Armazem& b) { return b.ContaPor(f, armazem::Periodo::Dia); });
        std::map<std::string, int64_t> porDia(grupos.begin(), grupos.end());
        Json lista = Json::array();
        for (long long i = 0; i < dias; ++i) {
          const std::string dia =
              DataHora::DeSegundos(f.de->Segundos() + i * 86400).FormataIso().substr(0, 10);
          lista.push_back({{"dia", dia}, {"marcacoes", porDia.count(dia) ? porDia[dia] : 0}});
        }
        r["de"] = f.de->FormataIso().substr(0, 10);
        r["ate"] = ate;
        r["contagens"] = std::move(lista);
      }
      Responde(res, 200, r);
    });
  }

  void ExportaAfd(const httplib::Request& req, httplib::Response& res) {
    Trata(res, [&] {
      // The export's own options that take one value, but the files of the server's: the page
      // downloads, it never writes a file there nor signs one.
      std::set<std::string> aceitos = {"--relogio"}, marcas;
      for (const Opcao& opcao : ComandoDe("exportar")->opcoes) {
        if (opcao.argumento == Argumento::Valor) aceitos.insert(opcao.nome);
        if (opcao.argumento == Argumento::Marcador) marcas.insert(opcao.nome);
      }
      aceitos.erase("--banco");
      aceitos.erase("--saida");
      Opcoes o = OpcoesDe({req.params.begin(), req.params.end()}, aceitos, marcas);
      if (c.arquivoRelogios) o.valores["--relogios"] = *c.arquivoRelogios;
      std::ostringstream avisos;
      ponto::Afd afd;
      try {
        afd = GeraAfd(
            o, [&] { return Armazem::Abre(c.banco, "painel", armazem::Acesso::Leitura); }, avisos);
      } catch (const ErroDeUso& e) {
        // As the command would print it.
        throw ErroDeUso(std::string("ponto: ") + e.what());
      }
      if (afd.codigo != kOk) return Falha(res, 422, avisos.str());
      res.status = 200;
      res.set_header("Content-Disposition", "attachment; filename=\"AFD_relogio_" +
                                                std::to_string(afd.relogio) + ".txt\"");
      // The command's warnings (header fields left blank), percent-encoded UTF-8.
      if (!avisos.str().empty()) res.set_header("X-Quorvel-Avisos", PorCento(avisos.str()));
      res.set_content(afd.texto, "text/plain; charset=iso-8859-1");
    });
  }

  void Atualizar(const httplib::Request& req, httplib::Response& res) {
    Trata(res, [&] {
      const auto n = NumeroDe(req.matches[1]);
      if (!n || *n < 1 || *n > 32767) throw ErroDeUso("código de relógio inválido.");
      if (!c.atualizar)
        return Falha(res, 409,
                     "este painel só mostra o banco (ponto web): peça a atualização no painel do "
                     "serviço que coleta o relógio.");
      const std::string motivo = c.atualizar(static_cast<int16_t>(*n));
      if (!motivo.empty()) return Falha(res, 409, motivo);
      Responde(res, 202, Json{{"relogio", *n}, {"pedido", "aceito"}});
    });
  }

  void Eventos(const httplib::Request&, httplib::Response& res) {
    auto o = difusor->Assina();
    if (!o) return Falha(res, 503, "páginas abertas demais; tente de novo em instantes.");
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        // Exactly this type: the server compresses any other text, holding events back.
        "text/event-stream",
        [this, o](size_t, httplib::DataSink& sink) {
          auto q = difusor->Proximo(*o, 15s);
          if (!q) {
            sink.done();
            return true;
          }
          if (q->empty()) *q = ": vivo\n\n";
          return sink.write(q->data(), q->size());
        },
        [this, o](bool) { difusor->Cancela(o); });
  }

  void Rotas() {
    http.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return Porteiro(req, res); });
    auto recurso = [this](const char* caminho, const Recurso& r) {
      http.Get(caminho, [&r](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(r.conteudo), r.tipo);
      });
    };
    recurso("/", kPaginaHtml);
    recurso("/pagina.css", kPaginaCss);
    recurso("/pagina.js", kPaginaJs);
    http.Get("/api/relogios", [this](const httplib::Request&, httplib::Response& res) {
      Trata(res, [&] { Responde(res, 200, ComBanco([&](Armazem& b) { return LeRelogios(b); })); });
    });
    http.Get("/api/marcacoes",
             [this](const httplib::Request& q, httplib::Response& r) { Marcacoes(q, r); });
    http.Get("/api/marcacoes.csv",
             [this](const httplib::Request& q, httplib::Response& r) { MarcacoesCsv(q, r); });
    http.Get("/api/contagens",
             [this](const httplib::Request& q, httplib::Response& r) { Contagens(q, r); });
    http.Get("/api/afd",
             [this](const httplib::Request& q, httplib::Response& r) { ExportaAfd(q, r); });
    http.Get("/api/eventos",
             [this](const httplib::Request& q, httplib::Response& r) { Eventos(q, r); });
    http.Post(R"(/api/relogios/(\d+)/atualizar)",
              [this](const httplib::Request& q, httplib::Response& r) { Atualizar(q, r); });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty())
        Falha(res, res.status, res.status == 404 ? "não encontrado." : "pedido inválido.");
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                  std::exception_ptr) { Falha(res, 500, "falha inesperada."); });
  }
};

Painel::Painel(Configuracao c) : impl_(std::make_unique<Impl>(std::move(c))) {
  Impl& i = *impl_;
  // Each watching page holds a thread of its own while it watches: room for them and for the
  // requests beside them.
  i.http.new_task_queue = [] { return new httplib::ThreadPool(56); };
  i.http.set_read_timeout(10, 0);
  i.http.set_write_timeout(5, 0);
  i.http.set_payload_max_length(64 * 1024);
  i.http.set_keep_alive_max_count(100);
  // Accepted sockets inherit the listener's send buffer: a fixed one (the kernel would grow it
  // to megabytes for a page that never reads) bounds what waits for a slow page, so its write
  // blocks, times out, and the page is let go.
  // SO_REUSEADDR and not the library's SO_REUSEPORT: a second page on the same port is an error
  // to tell, not a silent sharing of the port.
  i.http.set_socket_options([](int sock) {
    const int sim = 1, envio = 128 * 1024;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &sim, sizeof sim);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &envio, sizeof envio);
  });
  Difusor::Configuracao d;
  d.le = [&i](bool recomecar) { return i.Novidades(recomecar); };
  d.inicial = [&i] { return i.Inicio(); };
  d.falha = [&i](const std::string& e) { i.FalhaDeLeitura(e); };
  d.maximoOuvintes = 48;
  i.difusor = std::make_unique<Difusor>(std::move(d));
  i.Rotas();
  int porta = i.c.porta;
  const bool ligado = porta == 0 ? (porta = i.http.bind_to_any_port(i.c.host)) > 0
                                 : i.http.bind_to_port(i.c.host, porta);
  if (!ligado)
    throw ErroDeUso("não foi possível servir a página em " + i.c.host + ":" +
                    std::to_string(i.c.porta) + " (endereço em uso ou inexistente).");
  const bool v6 = i.c.host.find(':') != std::string::npos;
  i.url = "http://" + (v6 ? "[" + i.c.host + "]" : i.c.host) + ":" + std::to_string(porta) + "/";
  i.fio = std::thread([&i] { i.http.listen_after_bind(); });
}

Painel::~Painel() {
  // The watchers first: their threads leave the server's pool, which stop() then drains; the
  // difusor itself outlives every thread that may still ask it for a frame.
  impl_->difusor->Para();
  impl_->http.stop();
  if (impl_->fio.joinable()) impl_->fio.join();
  impl_->difusor.reset();
}

std::string Painel::Url() const { return impl_->url; }

int Web(const Opcoes& o) {
  if (o.posicionais.size() > 1)
    throw ErroDeUso("argumento inesperado \"" + o.posicionais[1] + "\" para web.");
  Configuracao c = ConfiguracaoDe(o);
  // The page shows a store that exists: a mistyped name is told now, not as an empty page.
  Armazem::Abre(c.banco, "painel", armazem::Acesso::Leitura);
  if (c.arquivoRelogios)
    for (const auto& r : LeRelogios(*c.arquivoRelogios))
      c.relogios.push_back(
          {r.relogio->Codigo(), NomeModelo(r.relogio->ModeloRelogio()), Sessao::Onde(*r.relogio)});
  c.registra = [](const std::string& l) { std::cerr << l << "\n"; };
  // Ctrl-C and SIGTERM are waited for here, not taken by whichever thread they reach.
  sigset_t sinais;
  sigemptyset(&sinais);
  sigaddset(&sinais, SIGINT);
  sigaddset(&sinais, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &sinais, nullptr);
  Painel p(std::move(c));
  std::cerr << "Painel em " << p.Url() << " (Ctrl-C encerra).\n";
  int sinal = 0;
  sigwait(&sinais, &sinal);
  std::cerr << "Painel encerrado.\n";
  return kOk;
}

}  // namespace ponto::web
