// Employees and clocks read from files. Every row is checked before anything is used, and a
// bad row is reported by its number.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/funcionario.h"
#include "quorvel/relogio.h"

namespace ponto {

// CSV (';' or ',' separated, header "codigo;nome;senha;supervisor;cartao;pis;cpf;digitais",
// digitais as "dedo:template|dedo:template") or JSON (an array of objects with those fields,
// "digitais" an array of {"dedo": n, "template": "..."}), chosen by the file's extension.
// Throws ErroDeUso naming the file and the row of the first problem.
// The file must be UTF-8 (a byte-order mark is fine) unless `latin1`, which converts it first.
// Every row is checked against what a clock keeps (kLimites, kMaximoTemplate) and the file
// against what one send takes (kMaximoFuncionariosPorEnvio) before anything is used.
std::vector<std::shared_ptr<quorvel::FuncionarioCartao>> LeFuncionarios(const std::string& caminho,
                                                                        bool latin1 = false);

// What a clock keeps of each text field, in characters.
struct LimiteCampo {
  const char* campo;
  size_t maximo;
};
inline constexpr LimiteCampo kLimites[] = {
    {"nome", 52}, {"senha", 8}, {"cartao", 20}, {"pis", 11}, {"cpf", 14}};
inline constexpr size_t kMaximoTemplate = 8192;
// The control counts a send's employees in 16 bits.
inline constexpr size_t kMaximoFuncionariosPorEnvio = 32767;
std::vector<std::shared_ptr<quorvel::FuncionarioCartao>> LeFuncionariosCsv(const std::string& texto,
                                                                           const std::string& nome);
std::vector<std::shared_ptr<quorvel::FuncionarioCartao>> LeFuncionariosJson(
    const std::string& texto, const std::string& nome);

// One clock per line: "codigo;endereço[:porta];modelo[;chave]" or
// "codigo;serial:PORTA;modelo[;chave]" (modelo is quorvel or tarvenix, or empty for the model
// the clock announces when it connects; the port 4370 when not written, the key the clock's
// own communication key); blank lines and lines starting with '#' are skipped.
//
// After the key, "campo=valor" fields give what the fiscal export's header needs and the
// clock cannot tell (kCamposAfd): "1;10.0.0.5;tarvenix;;fabricacao=00004000010000123".
inline constexpr const char* kCamposAfd[] = {
    "empregador_tipo", "empregador_documento", "cno_caepf",  "razao_social", "fabricacao",
    "fabricante_tipo", "fabricante_documento", "modelo_rep", "fuso",
};
struct RelogioDoArquivo {
  std::shared_ptr<quorvel::Relogio> relogio;
  std::optional<std::string> chave;
  std::map<std::string, std::string> campos;
  bool modeloInformado = true;  // false: the clock's own announcement decides
};
std::vector<RelogioDoArquivo> LeRelogios(const std::string& caminho);

// "endereço" or "endereço:porta" (IPv6 as "[::1]:porta"); ErroDeUso naming `onde` for a port
// that is not 1..65535.
void ConfereEndereco(const std::string& endereco, const std::string& onde);

// An employer's or a maker's document as a person typed it ("11.222.333/0001-81"): its digits
// when it is a valid CNPJ (or a valid CPF, `cpf`); ErroDeUso naming `onde` and the rule
// otherwise.
std::string DocumentoConferido(const std::string& texto, bool cpf, const std::string& onde);

// The employer's second register as a person typed it: a CNO or CEI (12 digits, its check
// digit right) for any employer, or, for one identified by CPF, a CAEPF (14 digits starting
// with the nine of that CPF's root; `empregadorDocumento`, when known, is that CPF). Its
// digits, empty for empty; ErroDeUso naming `onde` and the rule otherwise. `so12`: the older
// layout, which has room for a CEI only.
std::string CnoCaepfConferido(const std::string& texto, bool empregadorCpf,
                              const std::string& empregadorDocumento, bool so12,
                              const std::string& onde);

quorvel::EModeloRelogio ModeloDe(const std::string& texto);  // ErroDeUso for anything else

// A serial line as people name it: a port number ("3") or a device ("/dev/ttyUSB0"). A device
// gets a port number of its own past the ones people use (32000 on), which the network backend
// resolves to it through QUORVEL_SERIAL_<n>, set for this process; the same device, the same
// number. ErroDeUso naming `onde` for anything else.
int16_t PortaSerialDe(const std::string& texto, const std::string& onde);
// The device behind a number PortaSerialDe gave, or nothing for a plain port number.
std::optional<std::string> DispositivoSerial(int16_t porta);

}  // namespace ponto
