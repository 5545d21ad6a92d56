// Feeds a mock device's punch reads from plain vectors.
#pragma once

#include <string>
#include <vector>

#include "support/mock_czkem.h"

namespace quorvel::teste {

struct LogQuorvel {
  int32_t cartao;
  int32_t modo;
  std::string dataHora;
};

struct LogTarvenix {
  std::string nsr, pis;
  int32_t ano, mes, dia, hora, minuto, segundo;
};

// Every SdkReadAllLogs reloads `logs`; SdkGetNextLog walks them. `antes` runs before each read.
inline void FornecePunches(MockCZKEM& m, std::vector<LogQuorvel> logs,
                           std::function<void()> antes = {}) {
  auto estado = std::make_shared<std::pair<std::vector<LogQuorvel>, size_t>>(std::move(logs), 0);
  ON_CALL(m, SdkReadAllLogs).WillByDefault([estado](int32_t) {
    estado->second = 0;
    return true;
  });
  ON_CALL(m, SdkGetNextLog)
      .WillByDefault([estado, antes](int32_t, int32_t& cartao, int32_t& valor, int32_t& modo,
                                     std::string& texto) {
        if (antes) antes();
        if (estado->second >= estado->first.size()) return false;
        const LogQuorvel& l = estado->first[estado->second++];
        cartao = l.cartao;
        valor = 77;
        modo = l.modo;
        texto = l.dataHora;
        return true;
      });
}

// SdkGetNextNsrLog walks `logs` once (a register clock hands each record out once).
inline void FornecePunches(MockCZKEM& m, std::vector<LogTarvenix> logs,
                           std::function<void()> antes = {}) {
  auto estado = std::make_shared<std::pair<std::vector<LogTarvenix>, size_t>>(std::move(logs), 0);
  ON_CALL(m, SdkReadAllLogs).WillByDefault([](int32_t) { return true; });
  ON_CALL(m, SdkGetNextNsrLog)
      .WillByDefault([estado, antes](int32_t, std::string& nsr, std::string& pis, int32_t& a,
                                     int32_t& me, int32_t& d, int32_t& h, int32_t& mi, int32_t& s) {
        if (antes) antes();
        if (estado->second >= estado->first.size()) return false;
        const LogTarvenix& l = estado->first[estado->second++];
        nsr = l.nsr;
        pis = l.pis;
        a = l.ano;
        me = l.mes;
        d = l.dia;
        h = l.hora;
        mi = l.minuto;
        s = l.segundo;
        return true;
      });
}

}  // namespace quorvel::teste
