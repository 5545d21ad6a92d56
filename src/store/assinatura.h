// The detached signature of a fiscal file: CMS (PKCS #7) signed data in DER, the .p7s that goes
// beside the file, made with the employer's certificate and private key.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace quorvel::afd {

class Assinante {
 public:
  // The certificate and its private key from PEM files (the key unencrypted). Throws
  // std::runtime_error with a Portuguese reason when a file cannot be read, is not what it
  // should be, or the key is not the certificate's.
  static Assinante DeArquivos(const std::string& certificado, const std::string& chave);

  // The DER of a detached CMS signature over exactly these bytes.
  std::string Assina(std::string_view conteudo) const;

 private:
  std::shared_ptr<void> certificado_, chave_;  // X509, EVP_PKEY
};

}  // namespace quorvel::afd
