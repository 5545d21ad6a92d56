// The device SDK: every byte that reaches a clock goes through this interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "quorvel/codigos.h"

namespace quorvel {

// One SDK object serves one clock. `m` is the machine number (the clock's code). Each
// operation answers true when done (for the next-item reads: false at the end); a refusal is
// a false answer and SdkGetLastError tells why (-2: the link was lost). A call that fails *as
// a call* throws (an `Erro` with the backend's own number). Out-parameters are references;
// a call that fails leaves them as they were unless the operation says otherwise.
class CZKEM {
 public:
  virtual ~CZKEM() = default;

  // Connection
  virtual bool SdkConnectNetwork(const std::string& ip, int32_t porta) = 0;
  virtual bool SdkConnectSerial(int32_t porta, int32_t m, int32_t baud) = 0;
  virtual void SdkDisconnect() = 0;
  virtual void SdkGetLastError(int32_t& codigo) = 0;

  // Device
  virtual bool SdkEnableDevice(int32_t m, bool habilita) = 0;
  virtual bool SdkRefreshData(int32_t m) = 0;
  virtual bool SdkGetDeviceStatus(int32_t m, int32_t codigo, int32_t& valor) = 0;
  virtual bool SdkSetDeviceInfo(int32_t m, int32_t item, int32_t valor) = 0;
  virtual bool SdkGetDeviceTime(int32_t m, int32_t& ano, int32_t& mes, int32_t& dia, int32_t& hora,
                                int32_t& minuto, int32_t& segundo) = 0;
  virtual bool SdkSetDeviceTime(int32_t m, int32_t ano, int32_t mes, int32_t dia, int32_t hora,
                                int32_t minuto, int32_t segundo) = 0;
  virtual bool SdkGetFirmwareVersion(int32_t m, std::string& versao) = 0;
  virtual bool SdkGetSysOption(int32_t m, const std::string& nome, std::string& valor) = 0;
  virtual bool SdkSetSysOption(int32_t m, const std::string& nome, const std::string& valor) = 0;
  virtual bool SdkRefreshOptions(int32_t m) = 0;
  virtual bool SdkSetDaylight(int32_t m, int32_t ligado, const std::string& inicio,
                              const std::string& fim) = 0;
  virtual bool SdkClearAllData(int32_t m) = 0;
  virtual bool SdkTestOperation(int32_t argumento) = 0;
  virtual bool SdkSetEmployer(int32_t m, const std::string& nome, int32_t tipoDocumento,
                              const std::string& documento, const std::string& cei,
                              const std::string& endereco) = 0;

  // Punch logs
  virtual bool SdkReadAllLogs(int32_t m) = 0;
  virtual bool SdkGetNextLog(int32_t m, int32_t& cartao, int32_t& valor, int32_t& modo,
                             std::string& dataHora) = 0;
  virtual bool SdkGetNextNsrLog(int32_t m, std::string& nsr, std::string& pis, int32_t& ano,
                                int32_t& mes, int32_t& dia, int32_t& hora, int32_t& minuto,
                                int32_t& segundo) = 0;
  virtual bool SdkSetLogPointer(int32_t m, int32_t ponteiro) = 0;
  virtual bool SdkClearLogs(int32_t m) = 0;

  // Users and templates
  virtual bool SdkReadAllUserIds(int32_t m) = 0;
  virtual bool SdkSetUserInfo(int32_t m, int32_t usuario, const std::string& nome,
                              const std::string& senha, int32_t privilegio, bool habilitado) = 0;
  virtual bool SdkGetNextUserInfo(int32_t m, int32_t& usuario, std::string& nome,
                                  std::string& senha, int32_t& privilegio, bool& habilitado) = 0;
  virtual bool SdkSetUserInfoWithPis(int32_t m, const std::string& usuario, const std::string& nome,
                                     const std::string& senha, int32_t privilegio, bool habilitado,
                                     const std::string& pis, const std::string& cpf) = 0;
  virtual bool SdkGetNextUserInfoWithPis(int32_t m, std::string& usuario, std::string& nome,
                                         std::string& senha, int32_t& privilegio, bool& habilitado,
                                         std::string& pis, std::string& cpf) = 0;
  virtual bool SdkQueryUserInfo(int32_t m, std::string& nome, std::string& texto, int32_t& numero,
                                bool& flag) = 0;
  virtual bool SdkSetCardNumber(const std::string& cartao) = 0;
  virtual bool SdkDeleteEnrollData(int32_t m, int32_t usuario, int32_t m2, int32_t dado) = 0;
  virtual bool SdkDeleteEnrollDataByTextId(int32_t m, const std::string& usuario, int32_t dado) = 0;
  virtual bool SdkGetUserTemplate(int32_t m, int32_t usuario, int32_t dedo, std::string& texto,
                                  int32_t& tamanho) = 0;
  virtual bool SdkSetUserTemplate(int32_t m, int32_t usuario, int32_t dedo,
                                  const std::string& texto) = 0;
  virtual bool SdkDeleteUserTemplate(int32_t m, int32_t usuario, int32_t dedo) = 0;
  virtual bool SdkGetUserTemplateByTextId(int32_t m, const std::string& usuario, int32_t dedo,
                                          int32_t& flag, std::string& texto, int32_t& tamanho) = 0;
  virtual bool SdkSetUserTemplateByTextId(int32_t m, const std::string& usuario, int32_t dedo,
                                          int32_t flag, const std::string& texto) = 0;
  virtual bool SdkDeleteUserTemplateByTextId(int32_t m, const std::string& usuario,
                                             int32_t dedo) = 0;
  virtual bool SdkConvertTemplate(const std::string& entrada, std::string& saida,
                                  int32_t& tamanho) = 0;
};

// Makes one SDK object for each clock the control registers.
using FabricaCZKEM = std::function<std::shared_ptr<CZKEM>()>;

}  // namespace quorvel
