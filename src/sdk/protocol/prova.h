// The communication key's proof, the same on both ends of a link: the clock sends a challenge,
// the client answers with the proof and its nonce, and the key never travels.
#pragma once

#include <cstddef>
#include <string>

namespace quorvel::protocol {

// HMAC-SHA256 of the clock's challenge followed by the client's nonce, keyed by the
// communication key: what proves the key without sending it.
std::string Prova(const std::string& key, const std::string& challenge, const std::string& nonce);
// `n` bytes from the system's cryptographic generator (challenges and nonces).
std::string BytesAleatorios(size_t n);

}  // namespace quorvel::protocol
