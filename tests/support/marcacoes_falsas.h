// Feeds a mock device's punch reads from plain vectors.
#pragma once

#include <memory>
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
inline void ForneceMarcacoes(MockCZKEM& m, std::vector<LogQuorvel> logs,
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
inline void ForneceMarcacoes(MockCZKEM& m, std::vector<LogTarvenix> logs,
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

// A clock of either model behind the mock whose link falls after `porLink` records handed
// out on each link (0: never), and comes back on reconnect while `volta` is true. The register
// pointer names the last record collected; with `entregaOApontado` it delivers that record
// again, as some clocks do. Status 6 answers the log's size.
struct RelogioQueCai {
  std::vector<LogQuorvel> digitais;
  std::vector<LogTarvenix> registros;
  int porLink = 0;
  bool volta = true;
  bool entregaOApontado = false;
  // State.
  bool caido = false;
  int entreguesNoLink = 0;
  size_t cursor = 0;
  int32_t ultimoErro = 0;
  int conexoes = 0;
  int leiturasDoLog = 0;

  void Cai() { caido = true; }

  bool Entrega() {
    if (caido || (porLink > 0 && entreguesNoLink >= porLink)) {
      caido = true;
      ultimoErro = -2;
      return false;
    }
    return true;
  }

  // A clock installed on `m` whose log holds `n` register records (RegistrosSequenciais), or `n`
  // fingerprint punches of users 0..n-1 at one instant, on links that fall after `porLink`
  // records (0: never). Fields set afterwards still apply: the mock reads them at each call.
  static std::shared_ptr<RelogioQueCai> DeRegistros(MockCZKEM& m, int n, int porLink);
  static std::shared_ptr<RelogioQueCai> DeDigitais(MockCZKEM& m, int n, int porLink);

  static void Instala(MockCZKEM& m, const std::shared_ptr<RelogioQueCai>& r) {
    using ::testing::_;
    auto conecta = [r] {
      if (!r->volta) {
        r->ultimoErro = -2;
        return false;
      }
      r->caido = false;
      r->entreguesNoLink = 0;
      r->ultimoErro = 0;
      ++r->conexoes;
      r->cursor = r->registros.size();  // a new link reads register records from the end
      return true;
    };
    ON_CALL(m, SdkConnectNetwork).WillByDefault([conecta](const std::string&, int32_t) {
      return conecta();
    });
    ON_CALL(m, SdkGetLastError).WillByDefault([r](int32_t& c) { c = r->ultimoErro; });
    ON_CALL(m, SdkGetDeviceStatus(_, 6, _)).WillByDefault([r](int32_t, int32_t, int32_t& v) {
      if (r->caido) {
        r->ultimoErro = -2;
        return false;
      }
      v = static_cast<int32_t>(r->digitais.empty() ? r->registros.size() : r->digitais.size());
      return true;
    });
    ON_CALL(m, SdkReadAllLogs).WillByDefault([r](int32_t) {
      if (r->caido) {
        r->ultimoErro = -2;
        return false;
      }
      ++r->leiturasDoLog;
      if (!r->digitais.empty()) r->cursor = 0;
      return true;
    });
    ON_CALL(m, SdkGetNextLog)
        .WillByDefault(
            [r](int32_t, int32_t& cartao, int32_t& valor, int32_t& modo, std::string& texto) {
              if (!r->Entrega()) return false;
              if (r->cursor >= r->digitais.size()) {
                r->ultimoErro = -3;
                return false;
              }
              const LogQuorvel& l = r->digitais[r->cursor++];
              ++r->entreguesNoLink;
              cartao = l.cartao;
              valor = 0;
              modo = l.modo;
              texto = l.dataHora;
              return true;
            });
    ON_CALL(m, SdkSetLogPointer).WillByDefault([r](int32_t, int32_t p) {
      if (r->caido) {
        r->ultimoErro = -2;
        return false;
      }
      size_t i = 0;
      while (i < r->registros.size() &&
             (r->entregaOApontado ? std::stoll(r->registros[i].nsr) < p
                                  : std::stoll(r->registros[i].nsr) <= p))
        ++i;
      r->cursor = i;
      return true;
    });
    ON_CALL(m, SdkGetNextNsrLog)
        .WillByDefault([r](int32_t, std::string& nsr, std::string& pis, int32_t& a, int32_t& me,
                           int32_t& d, int32_t& h, int32_t& mi, int32_t& s) {
          if (!r->Entrega()) return false;
          if (r->cursor >= r->registros.size()) {
            r->ultimoErro = -3;
            return false;
          }
          const LogTarvenix& l = r->registros[r->cursor++];
          ++r->entreguesNoLink;
          nsr = l.nsr, pis = l.pis, a = l.ano, me = l.mes, d = l.dia, h = l.hora, mi = l.minuto,
          s = l.segundo;
          return true;
        });
  }
};

// `n` register records with NSR 1..n, one a minute from 05/03/2024 07:00.
inline std::vector<LogTarvenix> RegistrosSequenciais(int n) {
  std::vector<LogTarvenix> r;
  for (int i = 1; i <= n; ++i)
    r.push_back({std::to_string(i), "12034567899", 2024, 3, 5, 7 + i / 60, i % 60, 0});
  return r;
}

inline std::shared_ptr<RelogioQueCai> RelogioQueCai::DeRegistros(MockCZKEM& m, int n, int porLink) {
  auto r = std::make_shared<RelogioQueCai>();
  r->registros = RegistrosSequenciais(n);
  r->porLink = porLink;
  Instala(m, r);
  return r;
}

inline std::shared_ptr<RelogioQueCai> RelogioQueCai::DeDigitais(MockCZKEM& m, int n, int porLink) {
  auto r = std::make_shared<RelogioQueCai>();
  for (int i = 0; i < n; ++i) r->digitais.push_back({i, 1, "05/03/2024 08:00:00"});
  r->porLink = porLink;
  Instala(m, r);
  return r;
}

}  // namespace quorvel::teste
