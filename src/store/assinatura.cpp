#include "store/assinatura.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <stdexcept>

namespace quorvel::afd {
namespace {

// The library's own reason, after ours: the person sees why in Portuguese first.
[[noreturn]] void Falha(const std::string& motivo) {
  const unsigned long erro = ERR_get_error();
  ERR_clear_error();
  std::string detalhe;
  if (erro != 0) {
    char texto[256];
    ERR_error_string_n(erro, texto, sizeof texto);
    detalhe = std::string(" (") + texto + ")";
  }
  throw std::runtime_error(motivo + detalhe);
}

std::unique_ptr<BIO, decltype(&BIO_free)> Abre(const std::string& caminho, const char* oQue) {
  std::unique_ptr<BIO, decltype(&BIO_free)> b(BIO_new_file(caminho.c_str(), "rb"), BIO_free);
  if (!b) Falha("não foi possível ler " + std::string(oQue) + " \"" + caminho + "\"");
  return b;
}

}  // namespace

Assinante Assinante::DeArquivos(const std::string& certificado, const std::string& chave) {
  Assinante a;
  {
    auto b = Abre(certificado, "o certificado");
    X509* c = PEM_read_bio_X509(b.get(), nullptr, nullptr, nullptr);
    if (!c) Falha("\"" + certificado + "\" não é um certificado em PEM");
    a.certificado_ = std::shared_ptr<void>(c, [](void* p) { X509_free(static_cast<X509*>(p)); });
  }
  {
    auto b = Abre(chave, "a chave");
    // No passphrase is asked for: a program run by a service has nobody to ask.
    EVP_PKEY* k = PEM_read_bio_PrivateKey(
        b.get(), nullptr, [](char*, int, int, void*) { return 0; }, nullptr);
    if (!k) Falha("\"" + chave + "\" não é uma chave privada em PEM sem senha");
    a.chave_ = std::shared_ptr<void>(k, [](void* p) { EVP_PKEY_free(static_cast<EVP_PKEY*>(p)); });
  }
  if (X509_check_private_key(static_cast<X509*>(a.certificado_.get()),
                             static_cast<EVP_PKEY*>(a.chave_.get())) != 1)
    Falha("a chave \"" + chave + "\" não é a do certificado \"" + certificado + "\"");
  return a;
}

std::string Assinante::Assina(std::string_view conteudo) const {
  std::unique_ptr<BIO, decltype(&BIO_free)> dados(
      BIO_new_mem_buf(conteudo.data(), static_cast<int>(conteudo.size())), BIO_free);
  // Binary: the file's CR LF are signed as they are, not turned into another line ending.
  std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
      CMS_sign(static_cast<X509*>(certificado_.get()), static_cast<EVP_PKEY*>(chave_.get()),
               nullptr, dados.get(), CMS_DETACHED | CMS_BINARY),
      CMS_ContentInfo_free);
  if (!cms) Falha("não foi possível assinar o arquivo");
  std::unique_ptr<BIO, decltype(&BIO_free)> saida(BIO_new(BIO_s_mem()), BIO_free);
  if (!saida || i2d_CMS_bio(saida.get(), cms.get()) != 1)
    Falha("não foi possível escrever a assinatura");
  char* bytes = nullptr;
  const long tamanho = BIO_get_mem_data(saida.get(), &bytes);
  return std::string(bytes, static_cast<size_t>(tamanho));
}

}  // namespace quorvel::afd
