#include "sdk/diario_virtual.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>

#include "sdk/arquivo_duravel.h"
#include "sdk/protocol/protocol.h"

namespace quorvel::sdk {

namespace {

// The record at the head of every journal naming the clock it belongs to.
constexpr std::string_view kInicioIdentidade = R"({"t":"id","v":")";

bool EhIdentidade(std::string_view json) {
  return json.substr(0, kInicioIdentidade.size()) == kInicioIdentidade;
}

// The identity in such a record: hex digits only; empty when it is not one.
std::string IdentidadeDe(std::string_view json) {
  if (json.size() < kInicioIdentidade.size() + 3 || json.substr(json.size() - 2) != "\"}")
    return {};
  const std::string_view v =
      json.substr(kInicioIdentidade.size(), json.size() - kInicioIdentidade.size() - 2);
  if (v.empty() || v.size() > 64 ||
      v.find_first_not_of("0123456789abcdef") != std::string_view::npos)
    return {};
  return std::string(v);
}

std::string NovaIdentidade() {
  std::random_device aleatorio;
  const uint64_t v = (static_cast<uint64_t>(aleatorio()) << 32) | aleatorio();
  char b[17];
  std::snprintf(b, sizeof b, "%016llx", static_cast<unsigned long long>(v));
  return b;
}

std::string Hex8(uint32_t v) {
  char b[9];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

// One journal line, without its end: checksum, sequence and record, or why it does not hold.
struct Linha {
  uint64_t sequencia = 0;  // 0: a record from before checksums (accepted as it is)
  std::string_view json;
};

bool Decifra(std::string_view linha, Linha& l, std::string& motivo) {
  if (!linha.empty() && linha.front() == '{') {
    l.json = linha;
    return true;
  }
  const auto espaco1 = linha.find(' ');
  const auto espaco2 = espaco1 == std::string_view::npos ? espaco1 : linha.find(' ', espaco1 + 1);
  if (espaco1 != 8 || espaco2 == std::string_view::npos) {
    motivo = "registro sem soma de verificação";
    return false;
  }
  uint32_t crc = 0;
  for (char c : linha.substr(0, 8)) {
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) {
      motivo = "soma de verificação ilegível";
      return false;
    }
    crc = crc << 4 | static_cast<uint32_t>(d);
  }
  const std::string_view corpo = linha.substr(9);
  if (protocol::Crc32c(corpo.data(), corpo.size()) != crc) {
    motivo = "a soma de verificação não confere";
    return false;
  }
  uint64_t sequencia = 0;
  for (char c : linha.substr(9, espaco2 - 9)) {
    if (c < '0' || c > '9' || sequencia > UINT64_MAX / 10 - 10) {
      motivo = "número de sequência inválido";
      return false;
    }
    sequencia = sequencia * 10 + static_cast<uint64_t>(c - '0');
  }
  l.sequencia = sequencia;
  l.json = linha.substr(espaco2 + 1);
  return true;
}

}  // namespace

DiarioVirtual::DiarioVirtual(std::string caminho, std::shared_ptr<DispositivoVirtual> dispositivo,
                             OpcoesDiario opcoes, std::vector<std::string>& relatorio)
    : caminho_(std::move(caminho)), dispositivo_(std::move(dispositivo)), opcoes_(opcoes) {
  Recupera(relatorio);
  // A new clock (or one whose files are older than identities) gets one now; it reaches the
  // disk with the first write, at the head of the journal, never as a write of the start.
  if (dispositivo_->Identidade().empty()) dispositivo_->DefineIdentidade(NovaIdentidade());
  identidade_ = dispositivo_->Identidade();  // kept here: records are written under its lock
  identidadePendente_ = tamanho_ == 0;
  fd_ = ::open(caminho_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw ErroDiario("não foi possível abrir " + caminho_ + ": " + Motivo(errno));
  dispositivo_->DefineDiario([this](const std::string& registros) { Grava(registros); });
  // On a full disk the repaired state stays in the journal until a compaction can be made.
  if (compactarAoAbrir_) CompactaSeConvem();
}

DiarioVirtual::~DiarioVirtual() {
  dispositivo_->DefineDiario({});
  try {
    Sincroniza();
  } catch (...) {
    // Nothing waits for an answer any more; what did not reach the disk was not acknowledged.
  }
  if (fd_ >= 0) ::close(fd_);
}

void DiarioVirtual::Recupera(std::vector<std::string>& relatorio) {
  // Leftovers of a compaction cut short: the files they would have replaced are whole.
  std::remove((caminho_ + ".tmp").c_str());
  std::remove((caminho_ + ".instantaneo.tmp").c_str());

  uint64_t doInstantaneo = 0;
  bool existe = false;
  const std::string imagem = LeArquivo(caminho_ + ".instantaneo", existe);
  if (existe) {
    try {
      doInstantaneo = dispositivo_->CarregaInstantaneo(imagem);
    } catch (const std::exception& e) {
      throw ErroDiario(caminho_ + ".instantaneo: " + e.what() + ".");
    }
    retomados_ = dispositivo_->Versao().tamanho + dispositivo_->Usuarios().size();
  }
  sequencia_ = doInstantaneo;
  const bool temInstantaneo = existe;
  bool juntou = false;

  std::string texto = LeArquivo(caminho_, existe);
  if (!existe) return;
  // A last record without its end of line was being written when the machine stopped: it was
  // never acknowledged, so it is cut off and the next write starts on a clean line.
  const size_t inteiro = texto.empty() ? 0 : texto.rfind('\n') + 1;
  if (inteiro < texto.size()) {
    const size_t cortados = texto.size() - inteiro;
    if (::truncate(caminho_.c_str(), static_cast<off_t>(inteiro)) != 0)
      throw ErroDiario("não foi possível cortar o fim de " + caminho_);
    texto.resize(inteiro);
    relatorio.push_back(std::to_string(cortados) + " bytes descartados do fim de " + caminho_ +
                        " (registro incompleto).");
  }
  tamanho_ = texto.size();

  std::string danificados, bons;
  size_t quantosDanificados = 0, inicio = 0, numero = 0;
  while (inicio < texto.size()) {
    const size_t fim = texto.find('\n', inicio);
    const std::string_view linha(texto.data() + inicio, fim - inicio);
    ++numero;
    Linha l;
    std::string motivo;
    bool boa = true;
    if (!linha.empty()) {
      boa = Decifra(linha, l, motivo);
      // The first record past the snapshot continues it: a gap means the two are not a pair
      // (an older snapshot beside a newer journal, one of them another clock's, or a snapshot
      // gone), and loading them would silently lose what happened in between.
      if (boa && l.sequencia > doInstantaneo && !juntou) {
        juntou = true;
        if (l.sequencia != doInstantaneo + 1)
          throw ErroDiario(
              (temInstantaneo
                   ? caminho_ + ".instantaneo termina no registro " + std::to_string(doInstantaneo)
                   : "não há " + caminho_ + ".instantaneo") +
              " e " + caminho_ + " continua no registro " + std::to_string(l.sequencia) +
              ": os dois não se encaixam (falta o que houve entre eles). Nada foi servido; "
              "restaure o par certo ou remova os dois para começar vazio.");
      }
      // Whose records these are: checked even where the snapshot already holds them, since a
      // journal wholly older than another clock's snapshot would otherwise just be skipped.
      if (boa && EhIdentidade(l.json)) {
        const std::string dela = IdentidadeDe(l.json);
        const std::string conhecida = dispositivo_->Identidade();
        if (dela.empty()) {
          boa = false;
          motivo = "registro de identidade ilegível";
        } else if (conhecida.empty()) {
          dispositivo_->DefineIdentidade(dela);
        } else if (conhecida != dela) {
          throw ErroDiario(
              (temInstantaneo ? caminho_ + ".instantaneo" : "o início de " + caminho_) +
              " é do relógio " + conhecida + " e " + caminho_ + ", linha " +
              std::to_string(numero) + ", do relógio " + dela +
              ": são de relógios diferentes. Nada foi servido; restaure o par certo ou remova "
              "os dois para começar vazio.");
        }
      } else if (boa && (l.sequencia == 0 || l.sequencia > doInstantaneo)) {
        boa = dispositivo_->Reaplica(std::string(l.json), &motivo), retomados_ += boa ? 1 : 0;
      }
    }
    if (!boa) {
      if (!opcoes_.reparar)
        throw ErroDiario(caminho_ + ", linha " + std::to_string(numero) + " (byte " +
                         std::to_string(inicio) + "): " + motivo +
                         ". Nada foi servido; \"--reparar\" move os registros danificados para " +
                         caminho_ + ".danificado e continua.");
      ++quantosDanificados;
      danificados.append(linha).push_back('\n');
    } else {
      bons.append(linha).push_back('\n');
      if (l.sequencia > sequencia_) sequencia_ = l.sequencia;
    }
    inicio = fim + 1;
  }
  if (quantosDanificados > 0) {
    const std::string lado = caminho_ + ".danificado";
    const int fd = ::open(lado.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) throw ErroDiario("não foi possível criar " + lado);
    EscreveTudo(fd, danificados, lado);
    ::fsync(fd);
    ::close(fd);
    SubstituiArquivo(caminho_, bons);
    tamanho_ = bons.size();
    relatorio.push_back(std::to_string(quantosDanificados) + " registros danificados de " +
                        caminho_ + " movidos para " + lado + ".");
    // What was moved out leaves a gap in the numbering: the repaired state is compacted at
    // once, so the next start finds a snapshot and a journal that join.
    compactarAoAbrir_ = true;
    // A damaged record may have been a punch already handed out: its NSR is not issued again.
    const int64_t nsr = dispositivo_->RetomaNsrAposReparo();
    if (dispositivo_->Modelo() == EModeloRelogio_Tarvenix)
      relatorio.push_back("a próxima marcação terá NSR " + std::to_string(nsr + 1) +
                          " (depois de todos os que podem ter sido emitidos).");
  }
}

void DiarioVirtual::Grava(const std::string& registros) {
  std::string linhas;
  uint64_t sequencia = sequencia_;
  auto linha = [&](std::string_view json) {
    const std::string corpo = std::to_string(++sequencia) + " " + std::string(json);
    linhas += Hex8(protocol::Crc32c(corpo.data(), corpo.size()));
    linhas.push_back(' ');
    linhas += corpo;
    linhas.push_back('\n');
  };
  const bool comIdentidade = identidadePendente_;
  if (comIdentidade) linha(std::string(kInicioIdentidade) + identidade_ + "\"}");
  size_t inicio = 0;
  bool limpa = false;
  while (inicio <= registros.size()) {
    size_t fim = registros.find('\n', inicio);
    if (fim == std::string::npos) fim = registros.size();
    const std::string_view json(registros.data() + inicio, fim - inicio);
    inicio = fim + 1;
    if (json.empty()) continue;
    linha(json);
    limpa = limpa || json == R"({"t":"cl"})" || json == R"({"t":"ca"})";
  }
  if (emLote_) {
    pendente_ += linhas;
    if (pendente_.size() >= (1u << 20)) {
      Escreve(pendente_);
      pendente_.clear();
    }
  } else {
    Escreve(linhas);  // throws: the change is refused and the sequence not taken
  }
  sequencia_ = sequencia;
  limpou_ = limpou_ || limpa;
  if (comIdentidade) identidadePendente_ = false;
}

void DiarioVirtual::Escreve(const std::string& bytes) {
  if (opcoes_.falharEscritaApos >= 0 && escritas_ >= opcoes_.falharEscritaApos)
    Recusada("falha de escrita simulada em " + caminho_);
  ++escritas_;
  size_t feito = 0;
  while (feito < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + feito, bytes.size() - feito);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string erro = Motivo(n < 0 ? errno : ENOSPC);
      // A part of a record must not stay: the next write starts where the last whole one ended.
      if (::ftruncate(fd_, static_cast<off_t>(tamanho_)) != 0) {
      }
      Recusada("falha ao gravar " + caminho_ + ": " + erro);
    }
    feito += static_cast<size_t>(n);
  }
  tamanho_ += bytes.size();
  sujo_ = true;
  if (gravacaoFalhando_) avisos_.push_back("gravação em " + caminho_ + " retomada");
  gravacaoFalhando_ = false;
}

void DiarioVirtual::Recusada(const std::string& motivo) {
  // Told once per episode: a clock on a full disk is asked to write at every punch.
  if (!gravacaoFalhando_)
    avisos_.push_back(motivo +
                      "; alterações recusadas (o relógio só lê) até a gravação voltar a funcionar");
  gravacaoFalhando_ = true;
  throw ErroDiario(motivo);
}

void DiarioVirtual::EmLote(bool emLote) {
  emLote_ = emLote;
  if (!emLote) Sincroniza();
}

void DiarioVirtual::Sincroniza() {
  if (!pendente_.empty()) {
    std::string p = std::move(pendente_);
    pendente_.clear();
    Escreve(p);
  }
  if (!sujo_) return;
  if (::fdatasync(fd_) != 0)
    throw ErroDiario("falha ao sincronizar " + caminho_ + ": " + Motivo(errno));
  sujo_ = false;
}

bool DiarioVirtual::CompactaSeConvem() {
  if (tamanho_ < opcoes_.compactarApos && !(limpou_ && tamanho_ > 0) && !compactarAoAbrir_)
    return false;
  const auto agora = std::chrono::steady_clock::now();
  if (agora < proximaCompactacao_) return false;
  try {
    Compacta();
  } catch (const ErroDiario& e) {
    // The journal still holds everything (a compaction replaces files only once their copies
    // are whole): the clock goes on from it, and the compaction is tried again later.
    if (!compactacaoFalhando_)
      avisos_.push_back(std::string(e.what()) +
                        "; a compactação falhou e o diário segue; nova tentativa a cada " +
                        std::to_string(kEsperaCompactacao.count()) + " s");
    compactacaoFalhando_ = true;
    proximaCompactacao_ = agora + kEsperaCompactacao;
    return false;
  }
  if (compactacaoFalhando_) avisos_.push_back("compactação de " + caminho_ + " retomada");
  compactacaoFalhando_ = false;
  return true;
}

std::vector<std::string> DiarioVirtual::TomaAvisos() {
  return std::exchange(avisos_, std::vector<std::string>());
}

void DiarioVirtual::Compacta() {
  if (opcoes_.falharEscritaApos >= 0 && escritas_ >= opcoes_.falharEscritaApos)
    throw ErroDiario("falha de escrita simulada ao compactar " + caminho_);
  Sincroniza();
  // The snapshot first: until the journal is replaced, its records up to the snapshot's
  // sequence are skipped at a restart, so neither order of a crash loses or doubles anything.
  SubstituiArquivo(caminho_ + ".instantaneo", dispositivo_->Instantaneo(sequencia_));
  SubstituiArquivo(caminho_, {});
  ::close(fd_);
  fd_ = ::open(caminho_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw ErroDiario("não foi possível reabrir " + caminho_);
  tamanho_ = 0;
  limpou_ = false;
  compactarAoAbrir_ = false;
  identidadePendente_ = true;  // the new journal names its clock with its first record
}

}  // namespace quorvel::sdk
