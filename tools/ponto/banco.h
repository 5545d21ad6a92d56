// The commands that use the punch store: coletar --banco, exportar, relatorio, servico.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <set>

#include "opcoes.h"
#include "saida.h"
#include "sessao.h"
#include "store/armazem.h"

namespace ponto {

// Exit codes shared by every command.
inline constexpr int kOk = 0, kErroComponente = 1, kErroUso = 2, kRecusado = 3, kInacessivel = 4,
                     kCancelado = 130;

// Connects every clock it can; each one it cannot is named on stderr ("não coletado"), makes
// `codigoSaida` kInacessivel, and is returned.
std::set<int16_t> ConectaParaColetar(Sessao& s, int& codigoSaida);

int ColetarParaBanco(const Opcoes& o, Sessao& s);
int Exportar(const Opcoes& o);
int Relatorio(const Opcoes& o);
int Servico(const Opcoes& o);

// --de, --ate and --relogio as every reader of the store takes them: a date alone means the
// whole day (from its start, up to its last second).
quorvel::armazem::Filtro FiltroDe(const Opcoes& o);

// The AFD `ponto exportar afd` writes, made from its options (the command's, or a page's):
// bad options raise ErroDeUso before the store is opened (`abre`); warnings and refusals go
// to `avisos` worded as the command prints them. `codigo` kErroComponente: no file to write.
struct Afd {
  int codigo = kOk;
  int16_t relogio = 0;
  std::string texto;
  size_t marcacoes = 0, omitidas = 0;
  size_t doRelogio = 0;  // employer, clock-set and employee records carried from the clock
};
Afd GeraAfd(const Opcoes& o,
            const std::function<std::unique_ptr<quorvel::armazem::Armazem>()>& abre,
            std::ostream& avisos);

// The punch columns `exportar` prints, and one punch as their row.
extern const std::vector<std::string> kColunasMarcacao, kChavesMarcacao;
Linha LinhaDeMarcacao(const quorvel::armazem::MarcacaoArmazenada& m, Formato f);
// The punches that pass `filtro` as `exportar` prints them; returns how many.
size_t ExportaMarcacoes(std::ostream& out, quorvel::armazem::Armazem& banco,
                        const quorvel::armazem::Filtro& filtro, Formato f, bool bom);

// The clocks' states as `servico --estado` shows them, one row per clock.
Tabela TabelaDeEstados(const std::vector<quorvel::armazem::EstadoRelogio>& estados, Formato f);

// The store named by --banco (or the default), this process as its collector.
std::string EnderecoBanco(const Opcoes& o);
std::string NomeColetor(const Opcoes& o);

}  // namespace ponto
