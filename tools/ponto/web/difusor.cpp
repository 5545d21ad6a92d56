#include "web/difusor.h"

#include <algorithm>

namespace ponto::web {

Difusor::Difusor(Configuracao c) : c_(std::move(c)) {
  fio_ = std::thread([this] { Laco(); });
}

Difusor::~Difusor() {
  Para();
  fio_.join();
}

void Difusor::Para() {
  std::vector<std::shared_ptr<Ouvinte>> ouvintes;
  {
    std::lock_guard trava(m_);
    parar_ = true;
    ouvintes = ouvintes_;
  }
  acorda_.notify_all();
  for (auto& o : ouvintes) {
    std::lock_guard trava(o->m);
    o->fim = true;
    o->cv.notify_all();
  }
}

std::shared_ptr<Difusor::Ouvinte> Difusor::Assina() {
  std::vector<std::string> inicio;
  if (c_.inicial) {
    try {
      inicio = c_.inicial();
    } catch (const std::exception& e) {
      if (c_.falha) c_.falha(e.what());
    }
  }
  auto o = std::make_shared<Ouvinte>();
  for (auto& q : inicio) {
    o->bytes += q.size();
    o->fila.push_back(std::move(q));
  }
  std::lock_guard trava(m_);
  if (parar_ || ouvintes_.size() >= c_.maximoOuvintes) return nullptr;
  ouvintes_.push_back(o);
  acorda_.notify_all();
  return o;
}

void Difusor::Cancela(const std::shared_ptr<Ouvinte>& o) {
  std::lock_guard trava(m_);
  ouvintes_.erase(std::remove(ouvintes_.begin(), ouvintes_.end(), o), ouvintes_.end());
}

std::optional<std::string> Difusor::Proximo(Ouvinte& o, std::chrono::milliseconds espera) {
  std::unique_lock trava(o.m);
  o.cv.wait_for(trava, espera, [&] { return o.fim || !o.fila.empty(); });
  if (o.fim) return std::nullopt;
  if (o.fila.empty()) return std::string();
  std::string q = std::move(o.fila.front());
  o.fila.pop_front();
  o.bytes -= q.size();
  return q;
}

size_t Difusor::Ouvintes() const {
  std::lock_guard trava(m_);
  return ouvintes_.size();
}

size_t Difusor::Derrubados() const {
  std::lock_guard trava(m_);
  return derrubados_;
}

void Difusor::Entrega(const std::vector<std::string>& quadros) {
  size_t tamanho = 0;
  for (const auto& q : quadros) tamanho += q.size();
  std::lock_guard trava(m_);
  for (auto it = ouvintes_.begin(); it != ouvintes_.end();) {
    Ouvinte& o = **it;
    std::lock_guard t(o.m);
    if (o.bytes + tamanho > c_.maximoBytesPorOuvinte) {
      // Behind by more than the bound: the page reconnects and starts from the current state.
      o.fim = true;
      o.cv.notify_all();
      ++derrubados_;
      it = ouvintes_.erase(it);
      continue;
    }
    for (const auto& q : quadros) o.fila.push_back(q);
    o.bytes += tamanho;
    o.cv.notify_all();
    ++it;
  }
}

void Difusor::Laco() {
  bool ninguem = true;
  std::unique_lock trava(m_);
  while (!parar_) {
    if (ouvintes_.empty()) {
      ninguem = true;
      acorda_.wait(trava, [&] { return parar_ || !ouvintes_.empty(); });
      continue;
    }
    const bool recomecar = ninguem;
    ninguem = false;
    trava.unlock();
    std::vector<std::string> quadros;
    try {
      quadros = c_.le(recomecar);
    } catch (const std::exception& e) {
      if (c_.falha) c_.falha(e.what());
      if (recomecar) ninguem = true;  // start again from now once the store answers
    }
    if (!quadros.empty()) Entrega(quadros);
    trava.lock();
    acorda_.wait_for(trava, c_.intervalo, [&] { return parar_; });
  }
}

}  // namespace ponto::web
