// The commands that talk to clocks, as the command table calls them: each opens its session of
// clocks (the ones the options name, or the embedded virtual ones) and returns the exit code.
#pragma once

#include "opcoes.h"

namespace ponto {

int Coletar(const Opcoes& o);
int Monitorar(const Opcoes& o);
int Status(const Opcoes& o);
int DataHoraDosRelogios(const Opcoes& o);
int Funcionarios(const Opcoes& o);
int Empregador(const Opcoes& o);
int AfdDoProprioRelogio(const Opcoes& o);
int Sirene(const Opcoes& o);
int HorarioVerao(const Opcoes& o);
int Verificacao(const Opcoes& o);
int ApagarMarcacoes(const Opcoes& o);
int Limpar(const Opcoes& o);
int Habilitar(const Opcoes& o);
int Desabilitar(const Opcoes& o);
int Embutidos(const Opcoes& o);

}  // namespace ponto
