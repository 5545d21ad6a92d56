#include "quorvel/erro.h"

#include <limits>
#include <ostream>

namespace quorvel {

std::string MontaMensagemErro(std::string_view mensagem, std::string_view classe,
                              std::string_view metodo) {
  static constexpr std::string_view kClasse = "\r\nClasse: ";
  static constexpr std::string_view kMetodo = "\r\nMétodo: ";
  std::string texto;
  texto.reserve(mensagem.size() + classe.size() + metodo.size() + kClasse.size() + kMetodo.size());
  texto.append(mensagem).append(kClasse).append(classe).append(kMetodo).append(metodo);
  return texto;
}

void LancaErro(int32_t numero, std::string_view mensagem, std::string_view classe,
               std::string_view metodo) {
  throw Erro(numero, MontaMensagemErro(mensagem, classe, metodo));
}

void LancaErro(const ErroDoComponente& erro, std::string_view classe, std::string_view metodo,
               std::string_view valor) {
  LancaErro(erro.numero, erro.Texto(valor), classe, metodo);
}

std::string ErroDoComponente::Texto(std::string_view valor) const {
  const size_t lugar = texto.find("{}");
  if (lugar == std::string_view::npos) return std::string(texto);
  std::string resultado;
  resultado.reserve(texto.size() + valor.size());
  resultado.append(texto.substr(0, lugar)).append(valor).append(texto.substr(lugar + 2));
  return resultado;
}

std::ostream& operator<<(std::ostream& saida, const ErroDoComponente& erro) {
  return saida << erro.numero;
}

namespace {
std::string ComDetalhe(std::string base, std::string_view detalhe) {
  if (!detalhe.empty()) base.append(" (").append(detalhe).append(")");
  return base;
}
}  // namespace

void LancaEstouro() {
  throw Erro(erro_plataforma::kEstouro,
             "Estouro de capacidade: o valor não cabe no tipo numérico.");
}

void LancaTiposIncompativeis(std::string_view detalhe) {
  throw Erro(erro_plataforma::kTiposIncompativeis,
             ComDetalhe("Tipos incompatíveis: o valor não pode ser convertido.", detalhe));
}

void LancaArgumentoInvalido(std::string_view detalhe) {
  throw Erro(erro_plataforma::kArgumentoInvalido,
             ComDetalhe("Chamada de procedimento ou argumento inválido.", detalhe));
}

void LancaIndiceForaDoIntervalo() {
  throw Erro(erro_plataforma::kIndiceForaDoIntervalo, "Índice fora do intervalo.");
}

void LancaObjetoNaoDefinido() {
  throw Erro(erro_plataforma::kObjetoNaoDefinido, "Variável de objeto não definida.");
}

std::string DescricaoDaExcecaoAtual() {
  try {
    throw;
  } catch (const Erro& e) {
    return e.Descricao();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Falha não identificada.";
  }
}

int32_t NumeroDaExcecaoAtual() {
  try {
    throw;
  } catch (const Erro& e) {
    return e.Numero();
  } catch (...) {
    return -1;
  }
}

int16_t Para16Bits(int64_t valor) {
  if (valor < std::numeric_limits<int16_t>::min() || valor > std::numeric_limits<int16_t>::max())
    LancaEstouro();
  return static_cast<int16_t>(valor);
}

}  // namespace quorvel
