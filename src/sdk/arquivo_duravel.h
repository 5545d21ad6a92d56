// Files the virtual clock's journal keeps durable: read whole, written whole, replaced so that a
// crash leaves the old file or the new one, and the folder synced after. A failure throws
// ErroDiario naming the file and the system's reason.
#pragma once

#include <string>

namespace quorvel::sdk {

// The whole file; empty with `existe` false when it cannot be opened.
std::string LeArquivo(const std::string& caminho, bool& existe);
// The system's reason for a failed file operation, said in Portuguese first (the system's own
// text, in English, follows in parentheses for whoever searches it).
std::string Motivo(int erro);
void SincronizaPasta(const std::string& caminho);
void EscreveTudo(int fd, const std::string& bytes, const std::string& caminho);
// Replaces `caminho` by `conteudo` so that a crash leaves either the old file or the new one:
// a temporary beside it, written and synced, renamed over it, and the folder synced.
void SubstituiArquivo(const std::string& caminho, const std::string& conteudo);

}  // namespace quorvel::sdk
