// Sample employees and punches for demos, and a timer that keeps punches coming.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <utility>

#include "quorvel/erro.h"
#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

std::unique_ptr<Timer> GeraMarcacoes(Host& host, std::shared_ptr<DispositivoVirtual> d,
                                     int32_t intervaloMs, uint32_t semente) {
  auto gerador = std::make_shared<std::mt19937>(semente);
  auto timer = host.CriaTimer([d, gerador] {
    const auto usuarios = d->Usuarios();
    if (usuarios.empty()) {
      d->AdicionaMarcacao(1, 2);
      return;
    }
    const auto& u = usuarios[(*gerador)() % usuarios.size()];
    if (d->Modelo() == EModeloRelogio_Tarvenix)
      d->AdicionaRegistro(IdentificadorDoPonto(u));
    else
      d->AdicionaMarcacao(std::stoi(u.id), (*gerador)() % 2 == 0 ? 1 : 0);
  });
  timer->Intervalo(intervaloMs);
  timer->Habilitado(true);
  return timer;
}

void SemeiaExemplo(DispositivoVirtual& d) {
  struct Exemplo {
    const char* nome;
    const char* senha;
    int32_t privilegio;
    const char* pisBase;
    const char* cpf;
    int32_t dedos;
  };
  static constexpr Exemplo kExemplos[] = {
      {"Ana Souza", "1234", 2, "1203456789", "52998224725", 2},
      {"Bruno Lima", "", 0, "1309876543", "11144477735", 1},
      {"Carla Dias", "4321", 0, "1701928374", "39053344705", 0},
      {"Diego Alves", "", 0, "2045678123", "27100251834", 2},
      {"Elisa Rocha", "9876", 0, "1288776655", "61680284045", 1},
  };
  const bool tarvenix = d.Modelo() == EModeloRelogio_Tarvenix;
  int32_t codigo = 1;
  for (const Exemplo& e : kExemplos) {
    UsuarioVirtual u;
    u.id = std::to_string(codigo);
    u.nome = e.nome;
    u.senha = e.senha;
    u.privilegio = e.privilegio;
    if (tarvenix) {
      u.pis = ComDigitoPis(e.pisBase);
      u.cpf = e.cpf;
      u.cartao = std::to_string(1000 + codigo);
    }
    d.AdicionaUsuario(u);
    ++codigo;
  }
  int32_t c = 1;
  for (const Exemplo& e : kExemplos) {
    for (int32_t f = 0; f < e.dedos; ++f) {
      const std::string bruto =
          "QVZSLUV4ZW1wbG8t" + std::to_string(c) + "x" + std::to_string(f * 5 + 1);
      d.AdicionaTemplate(std::to_string(c), f * 5 + 1, tarvenix ? bruto : "V10:" + bruto);
    }
    ++c;
  }
  // Four punches a day for the last five days, up to now.
  const DataHora agora = d.Agora();
  const PartesDataHora hoje = agora.Partes();
  const int64_t inicioHoje = DataHora::DePartes(hoje.ano, hoje.mes, hoje.dia).Segundos();
  static constexpr int32_t kHorarios[4][2] = {{8, 0}, {12, 0}, {13, 0}, {17, 30}};
  const auto usuarios = d.Usuarios();
  for (int64_t dia = 4; dia >= 0; --dia) {
    for (const auto& h : kHorarios) {
      int32_t n = 0;
      for (const auto& u : usuarios) {
        const int64_t s = inicioHoje - dia * 86400 + h[0] * 3600 + (h[1] + n * 3) * 60 + 7 * n;
        ++n;
        const DataHora momento = DataHora::DeSegundos(s);
        if (momento > agora) continue;
        if (tarvenix)
          d.AdicionaRegistro(u.pis, momento);
        else
          d.AdicionaMarcacao(std::stoi(u.id), n % 3 == 0 ? 0 : 1, momento);
      }
    }
  }
}

}  // namespace quorvel::sdk
