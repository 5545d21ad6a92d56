// Every number a caller can meet, named once: the component's errors with their texts, the
// platform's failure numbers, the device SDK's last-error codes and the numbers its backends
// throw, the clock protocol's error codes. Code and tests name these; no number is written
// twice.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace quorvel {

// A component error: the number an `Erro` carries and the message it starts with. The full
// description adds the class and method lines (`MontaMensagemErro`). Where the message holds
// a value (a clock's code, a caught description) `{}` marks its place.
struct ErroDoComponente {
  int32_t numero;
  std::string_view texto;

  constexpr operator int32_t() const { return numero; }  // compared with `Erro::Numero()`
  // The message with `valor` in the place of `{}` (the text as it stands when it has none).
  std::string Texto(std::string_view valor = {}) const;
};
std::ostream& operator<<(std::ostream& saida, const ErroDoComponente& erro);

namespace erro {
// Any failure a public operation caught and wrapped; the caught description follows.
inline constexpr ErroDoComponente kDesconhecido{-1, "Ocorreu um erro desconhecido! - {}"};
inline constexpr ErroDoComponente kCodigoFuncionarioInvalido{
    -11, "Informe um código cujo valor seja maior que zero."};
inline constexpr ErroDoComponente kFuncionarioRepetido{
    -12,
    "Já existe um item adicionado a coleção cujo código do funcionário equivale ao código de "
    "funcionário que deseja incluir."};
inline constexpr ErroDoComponente kRelogioRepetido{-24,
                                                   "Este relógio já foi adicionado a coleção."};
inline constexpr ErroDoComponente kCodigoRelogioAusente{-31,
                                                        "O código do relógio deve ser informado."};
// -32 names what is missing for the clock's kind of connection.
inline constexpr ErroDoComponente kEnderecoIpAusente{
    -32, "O endereço IP para comunicação com o relógio deve ser informado."};
inline constexpr ErroDoComponente kPortaSerialAusente{
    -32, "A porta serial para comunicação com o relógio deve ser informada."};
inline constexpr ErroDoComponente kRemocaoRelogio{-34, "Não foi possível remover o relógio. - {}"};
inline constexpr ErroDoComponente kRelogioNaoRegistrado{
    -41, "O relógio informado não está incluso na coleção de relógios."};
// -43 has two meanings: a clock not connected (or whose link could not be brought back), and
// a send with nothing staged.
inline constexpr ErroDoComponente kRelogioDesconectado{
    -43, "O relógio {} está desconectado. A operação desejada não poderá ser realizada."};
inline constexpr ErroDoComponente kNadaParaEnviar{
    -43, "Não existem cartões de funcionários para serem enviados."};
inline constexpr ErroDoComponente kDataHoraInvalida{
    -44, "A Data e Hora informada pelo relógio é inválida."};
inline constexpr ErroDoComponente kCodigoSireneInvalido{
    -46, "Informe um código de sirene compreendido entre 1 e 50!"};
inline constexpr ErroDoComponente kModeloNaoSuportado{
    -47, "Método não suportado pelo modelo de relógio informado."};
inline constexpr ErroDoComponente kTemplateRepetido{-61,
                                                    "Já foi incluído um template para este dedo."};
// The punch store beside the control (tools), with the database's own message.
inline constexpr ErroDoComponente kArmazem{-80, "Falha no banco de marcações: {}"};
}  // namespace erro

// Failures of the platform, with its customary numbers, so that a wrapping handler can embed
// any caught description whole.
namespace erro_plataforma {
inline constexpr int32_t kArgumentoInvalido = 5;
inline constexpr int32_t kEstouro = 6;
inline constexpr int32_t kIndiceForaDoIntervalo = 9;
inline constexpr int32_t kTiposIncompativeis = 13;
inline constexpr int32_t kObjetoNaoDefinido = 91;
inline constexpr int32_t kNaoCriavel = 429;           // late binding: a class that cannot be made
inline constexpr int32_t kMembroNaoEncontrado = 438;  // late binding: no such member
inline constexpr int32_t kNumeroDeArgumentos = 450;   // late binding: wrong argument count
inline constexpr int32_t kChaveDuplicada = 457;
}  // namespace erro_plataforma

// The device SDK: what `SdkGetLastError` reports after a refusal, and what its backends throw
// when a call fails as a call.
namespace sdk::codigo {
inline constexpr int32_t kSucesso = 0;
inline constexpr int32_t kLinkPerdido = -2;  // no live link: reconnect and try again
inline constexpr int32_t kNaoEncontrado = -3;
inline constexpr int32_t kMemoriaCheia = -4;
inline constexpr int32_t kArgumentoInvalido = -5;
// The clock could not store the change (its storage refused the write): nothing changed.
inline constexpr int32_t kFalhaGravacao = -6;
inline constexpr int32_t kChaveExigida = -9;     // the clock has a key and none was proven
inline constexpr int32_t kChaveIncorreta = -10;  // the proof did not match the clock's key
// The proof was not checked: too many wrong ones came from this address within a minute.
inline constexpr int32_t kTentativasDeChave = -15;
inline constexpr int32_t kNaoSuportado = -100;  // the device has no such operation

// Thrown (as an `Erro`) by an operation that failed as a call on the clock.
inline constexpr int32_t kFalhaDeChamada = -2147467259;
// Thrown by the network backend when the clock breaks the protocol.
inline constexpr int32_t kFalhaProtocolo = -2147418113;
}  // namespace sdk::codigo

// Codes of the clock protocol's error frames. A refusal's frame carries the device's own last
// error (above); these are the protocol's own.
namespace protocol::codigo {
inline constexpr int32_t kChaveExigida = sdk::codigo::kChaveExigida;
inline constexpr int32_t kChaveIncorreta = sdk::codigo::kChaveIncorreta;
inline constexpr int32_t kPedidoMalformado = -11;
inline constexpr int32_t kVersaoNaoSuportada = -12;
inline constexpr int32_t kFalhaNaChamada = -13;  // the operation failed as a call on the clock
inline constexpr int32_t kForaDeOrdem = -14;     // a handshake step out of its turn
inline constexpr int32_t kTentativasDeChave = sdk::codigo::kTentativasDeChave;
}  // namespace protocol::codigo

}  // namespace quorvel
