// The virtual clock's summer time: the period SdkSetDaylight gave moves the clock's own time an
// hour ahead while it lasts, and a register clock records each move (type 4) in its fiscal
// record, as a real one does.
#include <nlohmann/json.hpp>
#include <optional>

#include "quorvel/sdk/relogio_virtual.h"
#include "sdk/virtual_interno.h"

namespace quorvel::sdk {

using namespace virtual_interno;

namespace {

constexpr int64_t kHora = 3600;

// A month-day-hour-minute (as the period texts give it) in a given year, as an instant. A day
// the month lacks that year (29 February, 31 April) is the month's last day. Nothing for a year
// a clock cannot show.
std::optional<int64_t> NoAno(int32_t ano, int32_t mmddhhmm) {
  const int32_t mes = mmddhhmm / 1000000, hora = mmddhhmm / 100 % 100, minuto = mmddhhmm % 100;
  int32_t dia = mmddhhmm / 10000 % 100;
  while (dia > 28 && !DataHora::PartesValidas(ano, mes, dia, hora, minuto, 0)) --dia;
  if (!DataHora::PartesValidas(ano, mes, dia, hora, minuto, 0)) return std::nullopt;
  return DataHora::DePartes(ano, mes, dia, hora, minuto).Segundos();
}

bool PartesDoPeriodoValidas(int32_t mmddhhmm) {
  const int32_t mes = mmddhhmm / 1000000, dia = mmddhhmm / 10000 % 100, hora = mmddhhmm / 100 % 100,
                minuto = mmddhhmm % 100;
  return mes >= 1 && mes <= 12 && dia >= 1 && dia <= 31 && hora <= 23 && minuto <= 59;
}

}  // namespace

std::optional<PeriodoDeVerao> PeriodoDeVerao::DasOpcoes(
    const std::unordered_map<std::string, std::string>& opcoes, EModeloRelogio modelo) {
  // A register clock follows the period only while its option says so.
  if (modelo == EModeloRelogio_Tarvenix) {
    const auto ligado = opcoes.find("DaylightSavingTimeOn");
    if (ligado == opcoes.end() || ligado->second != "1") return std::nullopt;
  }
  const auto it = opcoes.find("~DaylightPeriod");
  // "1:MMDDhhmm-MMDDhhmm", as SdkSetDaylight keeps it.
  if (it == opcoes.end() || it->second.size() != 19 || it->second.compare(0, 2, "1:") != 0 ||
      it->second[10] != '-')
    return std::nullopt;
  const std::string inicio = it->second.substr(2, 8), fim = it->second.substr(11, 8);
  if (!TextoPeriodoValido(inicio) || !TextoPeriodoValido(fim)) return std::nullopt;
  PeriodoDeVerao p{std::stoi(inicio), std::stoi(fim)};
  // A period cleared ("00000000"), impossible or of no length moves nothing.
  if (!PartesDoPeriodoValidas(p.inicio) || !PartesDoPeriodoValidas(p.fim) || p.inicio == p.fim)
    return std::nullopt;
  return p;
}

bool PeriodoDeVerao::Contem(int64_t padrao) const {
  const int32_t ano = DataHora::DeSegundos(padrao).Partes().ano;
  const auto comeca = NoAno(ano, inicio), fimNoVerao = NoAno(ano, fim);
  if (!comeca || !fimNoVerao) return false;
  // The end is read on summer time: on standard time it comes an hour earlier.
  const int64_t termina = *fimNoVerao - kHora;
  if (inicio < fim) return padrao >= *comeca && padrao < termina;
  return padrao >= *comeca || padrao < termina;  // across the new year
}

int64_t PeriodoDeVerao::UltimaMudanca(int64_t padrao, bool entrada) const {
  const int32_t ano = DataHora::DeSegundos(padrao).Partes().ano;
  int64_t ultima = padrao;
  bool achou = false;
  for (int32_t a = ano - 1; a <= ano; ++a) {
    const auto quando = NoAno(a, entrada ? inicio : fim);
    if (!quando) continue;
    const int64_t m = entrada ? *quando : *quando - kHora;
    if (m <= padrao && (!achou || m > ultima)) ultima = m, achou = true;
  }
  return ultima;
}

int64_t DispositivoVirtual::PadraoSemTrava() const {
  return fonteTempo_().Segundos() + deslocamentoSegundos_;
}

bool DispositivoVirtual::NoVeraoSemTrava(int64_t padrao) const {
  return verao_ && verao_->Contem(padrao);
}

DataHora DispositivoVirtual::AgoraSemTrava() const {
  const int64_t padrao = PadraoSemTrava();
  return DataHora::DeSegundos(padrao + (NoVeraoSemTrava(padrao) ? kHora : 0));
}

int64_t DispositivoVirtual::PadraoDoMostradoSemTrava(DataHora mostrado) const {
  // Within the summer period the clock shows its standard time an hour ahead.
  const int64_t padrao = mostrado.Segundos() - kHora;
  return NoVeraoSemTrava(padrao) ? padrao : mostrado.Segundos();
}

void DispositivoVirtual::ReleVeraoSemTrava() {
  verao_ = PeriodoDeVerao::DasOpcoes(opcoes_, modelo_);
}

void DispositivoVirtual::DefineOpcaoSemTrava(const std::string& nome, const std::string& valor) {
  // A move the old options made and nobody recorded yet comes first, at its own moment.
  AcompanhaVeraoSemTrava();
  Anota([&] { return nlohmann::json{{"t", "op"}, {"k", nome}, {"v", valor}}; });
  opcoes_[nome] = valor;
  ReleVeraoSemTrava();
  AcompanhaVeraoSemTrava(true);
}

void DispositivoVirtual::AcompanhaVeraoSemTrava(bool mudouAgora) {
  // Without a period and with nothing recorded there is nothing to follow (and the time source,
  // which may be slow to ask, is not asked at every punch).
  if (modelo_ != EModeloRelogio_Tarvenix || (!verao_ && !veraoRegistrado_)) return;
  const int64_t padrao = PadraoSemTrava();
  const bool noVerao = NoVeraoSemTrava(padrao);
  if (noVerao == veraoRegistrado_) return;
  // When the period was crossed, the move is recorded at the moment it happened, whenever the
  // clock next records something; a period set or cleared moves the time at once.
  const int64_t momento = mudouAgora || !verao_ ? padrao : verao_->UltimaMudanca(padrao, noVerao);
  RegistroFiscalVirtual f;
  f.tipo = 4;
  f.mudancaDeVerao = true;
  f.veraoDepois = noVerao;
  f.ajustado = DataHora::DeSegundos(momento + (noVerao ? kHora : 0));
  RegistraFiscal(std::move(f), {}, DataHora::DeSegundos(momento + (noVerao ? 0 : kHora)));
}

void DispositivoVirtual::GuardaFiscal(RegistroFiscalVirtual f) {
  if (f.tipo == 4) veraoRegistrado_ = f.veraoDepois;
  fiscais_.push_back(std::move(f));
}

}  // namespace quorvel::sdk
