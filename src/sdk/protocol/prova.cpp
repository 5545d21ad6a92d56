#include "sdk/protocol/prova.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace quorvel::protocol {

std::string Prova(const std::string& key, const std::string& challenge, const std::string& nonce) {
  const std::string dados = challenge + nonce;
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int tamanho = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(dados.data()), dados.size(), mac, &tamanho))
    throw std::runtime_error("falha ao calcular a prova da chave");
  return std::string(reinterpret_cast<char*>(mac), tamanho);
}

std::string BytesAleatorios(size_t n) {
  std::string r(n, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(r.data()), static_cast<int>(n)) != 1)
    throw std::runtime_error("sem bytes aleatórios");
  return r;
}

}  // namespace quorvel::protocol
