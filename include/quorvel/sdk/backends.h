// Device SDK backends by name: how a host that is configured by text (the C boundary's
// quorvel_define_sdk, QUORVEL_SDK) picks one, and how a new backend makes itself available.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/sdk/czkem.h"

namespace quorvel::sdk {

// Makes the factory of a backend when the backend is chosen (so a backend may read its
// settings, such as the network key in QUORVEL_CHAVE, at that moment).
using CriadorDeFabrica = std::function<FabricaCZKEM()>;

// Makes `nome` choose `criador`, replacing a backend of that name. Two are known from the
// start: "virtual" (the in-process clocks of this process) and "rede" (the network backend,
// its key from QUORVEL_CHAVE). Thread-safe.
void RegistraBackend(const std::string& nome, CriadorDeFabrica criador);

// The factory of backend `nome`; an empty one for a name nobody registered.
FabricaCZKEM FabricaDoBackend(const std::string& nome);

// The names registered, in order.
std::vector<std::string> NomesDosBackends();

// The communication key of the network clocks created from now on by the "rede" backend's
// factory (each clock takes the key in force when its SDK object is made, that is, when it is
// registered with a control). Nothing: back to QUORVEL_CHAVE. Thread-safe.
void DefineChaveDaRede(std::optional<std::string> chave);

}  // namespace quorvel::sdk
