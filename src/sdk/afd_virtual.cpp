// The virtual register clock's own fiscal file: its punches and its other fiscal records in one
// NSR sequence, written part by part so a file of millions of records never sits whole in
// memory nor in one frame.
#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "afd/afd.h"
#include "quorvel/sdk/relogio_virtual.h"

namespace quorvel::sdk {
namespace {

// A part ends at the first whole record past this size: a frame holds it with room to spare.
constexpr size_t kTamanhoDaParte = 1u << 20;

int64_t NsrDe(const MarcacaoVirtual& m) {
  int64_t v = 0;
  for (char c : m.nsr) v = v * 10 + (c - '0');
  return v;
}

int32_t DiaDe(DataHora d) {
  const auto p = d.Partes();
  return p.ano * 10000 + p.mes * 100 + p.dia;
}

}  // namespace

void DispositivoVirtual::DefineIdentificacaoRep(IdentificacaoRep i) {
  std::lock_guard l(mutex_);
  identificacao_ = std::move(i);
}

ParteAfd DispositivoVirtual::ParteDoAfd(const PedidoAfd& pedido) const {
  std::lock_guard l(mutex_);
  return ParteDoAfdSemTrava(pedido);
}

int32_t DispositivoVirtual::LeParteDoAfdSemTrava(const PedidoAfd& pedido, ParteAfd& parte) const {
  if (modelo_ != EModeloRelogio_Tarvenix) return codigo::kNaoSuportado;
  const auto dia = [](int32_t v) {
    return v == 0 || DataHora::PartesValidas(v / 10000, v / 100 % 100, v % 100, 0, 0, 0);
  };
  if (!dia(pedido.de) || !dia(pedido.ate) ||
      (pedido.de != 0 && pedido.ate != 0 && pedido.de > pedido.ate) || pedido.depois < 0 ||
      pedido.limite < 0)
    return codigo::kArgumentoInvalido;
  parte = ParteDoAfdSemTrava(pedido);
  return codigo::kSucesso;
}

int32_t DispositivoVirtual::DefineEmpregadorSemTrava(EmpregadorVirtual e) {
  if (modelo_ != EModeloRelogio_Tarvenix) return codigo::kNaoSuportado;
  if (e.tipoDocumento != 0 && e.tipoDocumento != 1) return codigo::kArgumentoInvalido;
  RegistroFiscalVirtual f;
  f.tipo = 2;
  f.empregador = e;
  RegistraFiscal(std::move(f), [&] {
    return std::vector<nlohmann::json>{{{"t", "em"},
                                        {"n", e.nome},
                                        {"d", e.documento},
                                        {"c", e.cei},
                                        {"e", e.endereco},
                                        {"k", e.tipoDocumento}}};
  });
  empregador_ = std::move(e);
  return codigo::kSucesso;
}

// The clock's time is kept as an offset from the time source's; a register clock records the
// new time (type 4) in the same write.
void DispositivoVirtual::AjustaHoraSemTrava(DataHora novo) {
  const int64_t padrao = PadraoDoMostradoSemTrava(novo);
  const int64_t deslocamento = padrao - fonteTempo_().Segundos();
  RegistroFiscalVirtual f;
  f.tipo = 4;
  f.ajustado = novo;
  f.veraoDepois = NoVeraoSemTrava(padrao);
  RegistraFiscal(std::move(f), [&] {
    return std::vector<nlohmann::json>{{{"t", "tm"}, {"v", deslocamento}}};
  });
  deslocamentoSegundos_ = deslocamento;
}

ParteAfd DispositivoVirtual::ParteDoAfdSemTrava(const PedidoAfd& pedido) const {
  ParteAfd parte;
  parte.limite = pedido.depois == 0 ? ultimoNsr_ : std::min(pedido.limite, ultimoNsr_);
  const auto noPeriodo = [&](DataHora d) {
    const int32_t dia = DiaDe(d);
    return (pedido.de == 0 || dia >= pedido.de) && (pedido.ate == 0 || dia <= pedido.ate);
  };
  // Summer time moves the offset an hour east while it lasts: each record is written in the
  // offset in force when the clock made it, as its type-4 records tell.
  afd::Opcoes padrao, verao;
  padrao.crc = verao.crc = afd::Crc::Modbus;
  padrao.fuso = afd::Fuso::Fixo(identificacao_.fusoMinutos);
  verao.fuso = afd::Fuso::Fixo(identificacao_.fusoMinutos + 60);
  bool noVerao = false;
  const auto opcoesAgora = [&]() -> const afd::Opcoes& { return noVerao ? verao : padrao; };

  // Register punches only (a fingerprint clock's log has no NSR), both runs in NSR order.
  const auto marcacaoApos = [&](int64_t nsr) {
    return std::partition_point(log_.begin(), log_.end(), [&](const MarcacaoVirtual& m) {
      return m.nsr.empty() || NsrDe(m) <= nsr;
    });
  };
  const auto fiscalApos = [&](int64_t nsr) {
    return std::partition_point(fiscais_.begin(), fiscais_.end(),
                                [&](const RegistroFiscalVirtual& f) { return f.nsr <= nsr; });
  };

  if (pedido.depois == 0) {
    std::optional<DataHora> primeira, ultima;
    const auto conta = [&](DataHora d) {
      if (!noPeriodo(d)) return;
      primeira = std::min(primeira.value_or(d), d);
      ultima = std::max(ultima.value_or(d), d);
    };
    for (auto it = log_.begin(); it != marcacaoApos(parte.limite); ++it)
      if (!it->nsr.empty()) conta(it->momento);
    for (auto it = fiscais_.begin(); it != fiscalApos(parte.limite); ++it) conta(it->momento);
    afd::Cabecalho c;
    c.empregadorCpf = empregador_.tipoDocumento == 1;
    c.empregadorDocumento = empregador_.documento;
    c.cnoCaepf = empregador_.cei;
    c.razaoSocial = empregador_.nome;
    c.numeroFabricacao = identificacao_.fabricacao;
    c.fabricanteDocumento = identificacao_.fabricante;
    c.modelo = identificacao_.modelo;
    c.geradoEm = AgoraSemTrava();
    const afd::Opcoes& opcoes = NoVeraoSemTrava(PadraoSemTrava()) ? verao : padrao;
    parte.texto += afd::RegistroCabecalho(c, primeira.value_or(c.geradoEm),
                                          ultima.value_or(c.geradoEm), opcoes) +
                   "\r\n";
  }

  // The CPF each identifier stood for at each moment, from the employee records before the
  // part: a punch carries the CPF of its own time, not one corrected later.
  std::map<std::string, std::string> cpfDe;
  const auto anota = [&](const RegistroFiscalVirtual& f) {
    if (f.tipo == 4) noVerao = f.veraoDepois;
    if (f.tipo != 5 || f.identificador.empty()) return;
    // The record's identifier is the CPF, or the PIS of an employee without one.
    const bool temCpf = f.identificador != f.pis;
    if (!f.pis.empty()) cpfDe[f.pis] = temCpf ? f.identificador : "";
    if (temCpf) cpfDe[f.identificador] = f.identificador;
  };
  auto fiscal = fiscais_.begin();
  const auto fimFiscal = fiscalApos(parte.limite);
  for (; fiscal != fimFiscal && fiscal->nsr <= pedido.depois; ++fiscal) anota(*fiscal);
  // Employees set up without a record of their own (sample data) are found as they are now,
  // or, once removed, by the first record that names them.
  std::map<std::string, std::string> cpfAtual, cpfMaisTarde;
  for (const auto& [id, u] : usuarios_)
    if (!u.pis.empty() && !u.cpf.empty()) cpfAtual[u.pis] = u.cpf;
  for (auto it = fiscais_.begin(); it != fimFiscal; ++it)
    if (it->tipo == 5 && !it->pis.empty() && it->identificador != it->pis)
      cpfMaisTarde.emplace(it->pis, it->identificador);
  const auto cpfDoPonto = [&](const std::string& identificador) -> std::string {
    if (auto it = cpfDe.find(identificador); it != cpfDe.end() && !it->second.empty())
      return it->second;
    if (auto it = cpfAtual.find(identificador); it != cpfAtual.end()) return it->second;
    if (auto it = cpfMaisTarde.find(identificador); it != cpfMaisTarde.end()) return it->second;
    // An employee with a CPF and no PIS: the clock recorded the CPF itself.
    return identificador;
  };

  auto marcacao = marcacaoApos(pedido.depois);
  const auto fimMarcacao = marcacaoApos(parte.limite);
  int64_t ultimoLido = pedido.depois;
  while (parte.texto.size() < kTamanhoDaParte && (marcacao != fimMarcacao || fiscal != fimFiscal)) {
    const bool ehFiscal =
        fiscal != fimFiscal && (marcacao == fimMarcacao || fiscal->nsr < NsrDe(*marcacao));
    if (ehFiscal) {
      const RegistroFiscalVirtual& f = *fiscal++;
      ultimoLido = f.nsr;
      const afd::Opcoes& antes = opcoesAgora();
      anota(f);
      if (!noPeriodo(f.momento)) continue;
      const std::string& quem = identificacao_.responsavel;
      if (f.tipo == 2) {
        afd::Empresa e{f.empregador.tipoDocumento == 1, f.empregador.documento, f.empregador.cei,
                       f.empregador.nome, f.empregador.endereco};
        parte.texto += afd::RegistroEmpresa(f.nsr, f.momento, quem, e, antes);
      } else if (f.tipo == 4) {
        parte.texto += afd::RegistroAjuste(f.nsr, f.momento, antes.fuso, f.ajustado,
                                           opcoesAgora().fuso, quem, antes);
      } else {
        parte.texto += afd::RegistroEmpregado(f.nsr, f.momento, f.operacao, f.identificador, f.nome,
                                              quem, antes);
      }
    } else {
      const MarcacaoVirtual& m = *marcacao++;
      if (m.nsr.empty()) continue;
      ultimoLido = NsrDe(m);
      if (!noPeriodo(m.momento)) continue;
      afd::Punch p;
      p.nsr = ultimoLido;
      p.momento = m.momento;
      p.cpf = cpfDoPonto(m.pis);
      parte.texto += afd::RegistroMarcacao(p, opcoesAgora());
    }
    parte.texto += "\r\n";
  }
  if (marcacao != fimMarcacao || fiscal != fimFiscal) {
    parte.proximo = ultimoLido;
    return parte;
  }

  // The end: the trailer counts what the whole file holds.
  afd::Contagem n;
  for (auto it = log_.begin(); it != fimMarcacao; ++it)
    if (!it->nsr.empty() && noPeriodo(it->momento)) ++n.marcacoes;
  for (auto it = fiscais_.begin(); it != fimFiscal; ++it) {
    if (!noPeriodo(it->momento)) continue;
    if (it->tipo == 2) ++n.empresa;
    if (it->tipo == 4) ++n.ajustes;
    if (it->tipo == 5) ++n.empregados;
  }
  parte.texto += afd::RegistroTrailer(n, padrao) + "\r\n";
  parte.proximo = 0;
  return parte;
}

bool LeAfd(FonteDoAfd& fonte, int32_t de, int32_t ate,
           const std::function<void(std::string_view)>& escreve,
           const std::function<bool()>& continua) {
  PedidoAfd pedido;
  pedido.de = de;
  pedido.ate = ate;
  for (;;) {
    if (continua && !continua()) return false;
    ParteAfd parte;
    if (!fonte.LeParteDoAfd(pedido, parte)) return false;
    escreve(parte.texto);
    if (parte.proximo == 0) return true;
    // A part that does not move on would ask for itself forever.
    if (parte.proximo <= pedido.depois) return false;
    pedido.depois = parte.proximo;
    pedido.limite = parte.limite;
  }
}

}  // namespace quorvel::sdk
