// The registration store late-bound hosts find the library's classes in: a JSON file of
// libraries, classes and ProgIDs, at QUORVEL_REGISTRO, else $XDG_CONFIG_HOME/quorvel/registro.json,
// else ~/.config/quorvel/registro.json. It is replaced whole, never seen half written.
#pragma once

#include <filesystem>
#include <string>

#include "quorvel/typelib.h"

namespace quorvel::registro {

std::filesystem::path Caminho();

// Writes the library, each of its classes and their ProgIDs, naming `arquivo` (the shared
// library that serves them); entries of other libraries are kept. Throws when the store cannot
// be written.
void Registra(const Biblioteca& biblioteca, const std::string& arquivo);

// Removes what Registra wrote; a store that does not exist is left so. Throws when the store
// cannot be written.
void Remove(const Biblioteca& biblioteca);

}  // namespace quorvel::registro
