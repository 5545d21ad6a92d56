// The device SDK: every byte that reaches a clock goes through this interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "quorvel/codigos.h"

namespace quorvel {

// One SDK object serves one clock. `m` is the machine number (the clock's code).
//
// Answers: true when done; for the next-item reads (SdkGetNext…), false at the end. A refusal
// is a false answer and SdkGetLastError tells why, by the numbers of `sdk::codigo`:
// kLinkPerdido (-2, no live link: reconnect and try again), kNaoEncontrado (-3, no such user,
// template or option; end of a list), kMemoriaCheia (-4), kArgumentoInvalido (-5),
// kFalhaGravacao (-6, the clock's storage refused; nothing changed), kChaveExigida /
// kChaveIncorreta (-9/-10, a connection refused for its communication key), kNaoSuportado
// (-100, the device has no such operation, or it belongs to the other clock model).
// A call that fails *as a call* throws an `Erro` with the backend's own number
// (codigo::kFalhaDeChamada; the network backend's codigo::kFalhaProtocolo for a clock that
// breaks the protocol).
// Out-parameters are references; a call that fails leaves them as they were unless the
// operation says otherwise. No operation yields to the host's event loop; the network
// backend blocks the calling thread for at most its answer time-out. One object is used from
// one thread at a time.
class CZKEM {
 public:
  virtual ~CZKEM() = default;

  // ---- Connection ------------------------------------------------------------------------
  // Opens a link to `ip` on TCP port `porta` (4370 for the clocks here), closing any open
  // one first. False: unreachable (-2) or the key refused (-9/-10).
  virtual bool SdkConnectNetwork(const std::string& ip, int32_t porta) = 0;
  // Opens serial port `porta` at `baud` (115200 only; another speed: false with -5).
  virtual bool SdkConnectSerial(int32_t porta, int32_t m, int32_t baud) = 0;
  // Closes the link; every later call but a connect answers false with -2.
  virtual void SdkDisconnect() = 0;
  // The code of the last refusal (0 after a success). Never fails, never throws.
  virtual void SdkGetLastError(int32_t& codigo) = 0;

  // ---- Device ----------------------------------------------------------------------------
  // Enables (true) or disables (false) the clock for its users.
  virtual bool SdkEnableDevice(int32_t m, bool habilita) = 0;
  // Makes the clock reload what was written to it.
  virtual bool SdkRefreshData(int32_t m) = 0;
  // One count of the clock: 1 administrators, 2 users, 3 templates, 4 passwords, 5 (always
  // 0), 6 punches in the log, 7/8/9 the template, user and record capacities. Another code:
  // false with -5.
  virtual bool SdkGetDeviceStatus(int32_t m, int32_t codigo, int32_t& valor) = 0;
  // Writes a device item: item 1 with value 1 applies the options written; item 35 is the
  // verification mode (1: one-to-one, 0: one-to-many).
  virtual bool SdkSetDeviceInfo(int32_t m, int32_t item, int32_t valor) = 0;
  // The clock's date and time as six numbers (year with four digits). On false they are left
  // as they were.
  virtual bool SdkGetDeviceTime(int32_t m, int32_t& ano, int32_t& mes, int32_t& dia, int32_t& hora,
                                int32_t& minuto, int32_t& segundo) = 0;
  // Sets the clock's date and time; an impossible date is false with -5.
  virtual bool SdkSetDeviceTime(int32_t m, int32_t ano, int32_t mes, int32_t dia, int32_t hora,
                                int32_t minuto, int32_t segundo) = 0;
  // The firmware's version text.
  virtual bool SdkGetFirmwareVersion(int32_t m, std::string& versao) = 0;
  // The model the clock says it is (an EModeloRelogio value), as it announced itself when the
  // link was opened; still answered after the link closed, until another one opens. False with
  // -100 from a device that does not say (then only the host knows the model).
  virtual bool SdkGetDeviceModel(int32_t m, int32_t& modelo) = 0;
  // A named option's text ("mrpversion": the register model's firmware, which decides whether
  // the log pointer is an NSR or a count). Unknown name: false with -3.
  virtual bool SdkGetSysOption(int32_t m, const std::string& nome, std::string& valor) = 0;
  // Writes a named option; read-only ones ("mrpversion") are false with -5.
  virtual bool SdkSetSysOption(int32_t m, const std::string& nome, const std::string& valor) = 0;
  // Makes the clock take the options written.
  virtual bool SdkRefreshOptions(int32_t m) = 0;
  // Daylight saving on (1) or off (0) between two eight-digit period texts.
  virtual bool SdkSetDaylight(int32_t m, int32_t ligado, const std::string& inicio,
                              const std::string& fim) = 0;
  // Erases every user, template and punch (fingerprint model; the register model keeps its
  // log: false with -100).
  virtual bool SdkClearAllData(int32_t m) = 0;
  // The device's self-test.
  virtual bool SdkTestOperation(int32_t argumento) = 0;
  // The employer's record (register model; the fingerprint model answers -100).
  // `tipoDocumento`: 0 CNPJ, 1 CPF.
  virtual bool SdkSetEmployer(int32_t m, const std::string& nome, int32_t tipoDocumento,
                              const std::string& documento, const std::string& cei,
                              const std::string& endereco) = 0;

  // ---- Punch logs ------------------------------------------------------------------------
  // Fingerprint model: marks the log as it is now, to be walked from its start with
  // SdkGetNextLog (punches recorded later wait for the next mark). On the register model it
  // does not move the read position.
  virtual bool SdkReadAllLogs(int32_t m) = 0;
  // The next punch of the marked log: user number, in/out state (0 in, 1 out), mode (1
  // fingerprint, 0 password, 2 card) and the date-time text "yyyy-MM-dd hh:mm:ss". False at
  // the end (-3), or -2 when the link fell mid-walk (the rest was not read).
  virtual bool SdkGetNextLog(int32_t m, int32_t& cartao, int32_t& valor, int32_t& modo,
                             std::string& dataHora) = 0;
  // The next register record after the read position: NSR, PIS and six date numbers. A new
  // link starts at the end of the log. False at the end (-3) or when the link fell (-2).
  virtual bool SdkGetNextNsrLog(int32_t m, std::string& nsr, std::string& pis, int32_t& ano,
                                int32_t& mes, int32_t& dia, int32_t& hora, int32_t& minuto,
                                int32_t& segundo) = 0;
  // Names the last register record already collected: reading resumes right after it. An
  // NSR from firmware "2.1.12" on, a record count below it; 0 reads from the first record.
  virtual bool SdkSetLogPointer(int32_t m, int32_t ponteiro) = 0;
  // Erases the fingerprint model's punch log (the register model: false with -100).
  virtual bool SdkClearLogs(int32_t m) = 0;

  // ---- Users and templates ---------------------------------------------------------------
  // Takes a snapshot of the users, to be walked in id order by the next-user reads.
  virtual bool SdkReadAllUserIds(int32_t m) = 0;
  // Writes a fingerprint-model user (created or replaced). Privilege 2 is an administrator.
  virtual bool SdkSetUserInfo(int32_t m, int32_t usuario, const std::string& nome,
                              const std::string& senha, int32_t privilegio, bool habilitado) = 0;
  // The next user of the snapshot; false at its end (-3).
  virtual bool SdkGetNextUserInfo(int32_t m, int32_t& usuario, std::string& nome,
                                  std::string& senha, int32_t& privilegio, bool& habilitado) = 0;
  // Writes a register-model user with the card set by the last SdkSetCardNumber. A PIS that
  // is neither empty nor 11 digits with a valid check digit: false with -5.
  virtual bool SdkSetUserInfoWithPis(int32_t m, const std::string& usuario, const std::string& nome,
                                     const std::string& senha, int32_t privilegio, bool habilitado,
                                     const std::string& pis, const std::string& cpf) = 0;
  // The next register-model user of the snapshot; false at its end (-3).
  virtual bool SdkGetNextUserInfoWithPis(int32_t m, std::string& usuario, std::string& nome,
                                         std::string& senha, int32_t& privilegio, bool& habilitado,
                                         std::string& pis, std::string& cpf) = 0;
  // Finds a user by `nome` (in/out, like the other three); false with -3 when none has it.
  virtual bool SdkQueryUserInfo(int32_t m, std::string& nome, std::string& texto, int32_t& numero,
                                bool& flag) = 0;
  // The card number the next SdkSetUserInfoWithPis stores (a setting of this object).
  virtual bool SdkSetCardNumber(const std::string& cartao) = 0;
  // The card number a register-model user was written with (empty when none): false with -3
  // for no such user, -100 on the fingerprint model. Backends that cannot read a card back
  // keep this default, which answers false (their last error is theirs to tell).
  virtual bool SdkGetUserCardByTextId(int32_t m, const std::string& usuario, std::string& cartao) {
    (void)m, (void)usuario, (void)cartao;
    return false;
  }
  // Removes enrolled data of a user: `dado` 0 or 12 the whole user with its templates, 1–9
  // one finger, 10 the password, 11 every fingerprint. `m2` repeats the machine number.
  virtual bool SdkDeleteEnrollData(int32_t m, int32_t usuario, int32_t m2, int32_t dado) = 0;
  virtual bool SdkDeleteEnrollDataByTextId(int32_t m, const std::string& usuario, int32_t dado) = 0;
  // A user's template of finger 0–9 as text; false with -3 when the finger has none.
  virtual bool SdkGetUserTemplate(int32_t m, int32_t usuario, int32_t dedo, std::string& texto,
                                  int32_t& tamanho) = 0;
  // Stores a converted template (SdkConvertTemplate's text; another text: false with -5). The
  // user must exist (-3).
  virtual bool SdkSetUserTemplate(int32_t m, int32_t usuario, int32_t dedo,
                                  const std::string& texto) = 0;
  // Removes one finger's template; false with -3 when there is none.
  virtual bool SdkDeleteUserTemplate(int32_t m, int32_t usuario, int32_t dedo) = 0;
  // The register model's forms of the three above, by user number text; its templates are
  // stored as given (unconverted), `flag` 1.
  virtual bool SdkGetUserTemplateByTextId(int32_t m, const std::string& usuario, int32_t dedo,
                                          int32_t& flag, std::string& texto, int32_t& tamanho) = 0;
  virtual bool SdkSetUserTemplateByTextId(int32_t m, const std::string& usuario, int32_t dedo,
                                          int32_t flag, const std::string& texto) = 0;
  virtual bool SdkDeleteUserTemplateByTextId(int32_t m, const std::string& usuario,
                                             int32_t dedo) = 0;
  // Converts a template text for SdkSetUserTemplate; a computation of the SDK itself, no clock
  // and no link needed. A text that does not convert: false with -5 and an empty result.
  virtual bool SdkConvertTemplate(const std::string& entrada, std::string& saida,
                                  int32_t& tamanho) = 0;
};

// Whether a register clock's firmware takes SdkSetLogPointer's pointer as an NSR (version
// "2.1.12" on) or as a record count (earlier). Versions compare as text, after upper-casing,
// removing every "VER" and trimming blanks: "Ver 2.1.12 " is "2.1.12", and "2.1.9" counts as
// later than "2.1.12".
bool PonteiroPorNsr(std::string versaoFirmware);

// Makes one SDK object for each clock the control registers.
using FabricaCZKEM = std::function<std::shared_ptr<CZKEM>()>;

}  // namespace quorvel
