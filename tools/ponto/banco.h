// The commands that use the punch store: coletar --banco, exportar, relatorio, servico.
#pragma once

#include <set>

#include "opcoes.h"
#include "sessao.h"

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

// The store named by --banco (or the default), this process as its collector.
std::string EnderecoBanco(const Opcoes& o);
std::string NomeColetor(const Opcoes& o);

}  // namespace ponto
