// The late-bound engine: identities by text, classes by name or identity, objects made by their
// class's factory, members found by name and invoked by dispatch number with the platform's
// argument rules. What the classes are is data (typelib/classes*.cpp, typelib/biblioteca.cpp).
#include <cctype>
#include <cstdio>

#include "typelib/classes.h"

namespace quorvel {

namespace {

std::string Minusculas(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// Coerces an argument to the parameter's type, the way the platform does.
Variant Converte(const Variant& v, const Parametro& p) {
  switch (p.tipo) {
    case TipoDado::Booleano:
      return Variant(v.ParaBooleano());
    case TipoDado::Inteiro16:
      return Variant(v.ParaInteiro16());
    case TipoDado::Inteiro32:
      return Variant(v.ParaInteiro32());
    case TipoDado::Duplo:
      return Variant(v.ParaDuplo());
    case TipoDado::Texto:
      return Variant(v.ParaTexto());
    case TipoDado::Data:
      return Variant(v.ParaData());
    case TipoDado::Objeto: {
      if (v.EhVazio()) return Variant(RefObjeto{});
      if (!v.Eh<RefObjeto>()) LancaTiposIncompativeis("esperava um objeto " + p.tipoNome);
      const RefObjeto& r = v.Como<RefObjeto>();
      if (r.objeto && r.classe && !p.tipoNome.empty() && r.classe->nome != p.tipoNome)
        LancaTiposIncompativeis("esperava um objeto " + p.tipoNome + ", recebeu " + r.classe->nome);
      return v;
    }
    case TipoDado::Qualquer:
    case TipoDado::Vazio:
      return v;
  }
  return v;
}

}  // namespace

std::string Guid::Texto() const {
  char t[40];
  std::snprintf(t, sizeof t, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", d1, d2, d3,
                d4[0], d4[1], d4[2], d4[3], d4[4], d4[5], d4[6], d4[7]);
  return t;
}

std::optional<Guid> Guid::DeTexto(std::string_view t) {
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
    return std::nullopt;
  auto hex = [&](size_t i, size_t n, uint64_t& saida) {
    saida = 0;
    for (size_t k = i; k < i + n; ++k) {
      const char c = t[k];
      int v = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (v < 0) return false;
      saida = saida * 16 + static_cast<uint64_t>(v);
    }
    return true;
  };
  Guid g;
  uint64_t v = 0;
  if (!hex(0, 8, v)) return std::nullopt;
  g.d1 = static_cast<uint32_t>(v);
  if (!hex(9, 4, v)) return std::nullopt;
  g.d2 = static_cast<uint16_t>(v);
  if (!hex(14, 4, v)) return std::nullopt;
  g.d3 = static_cast<uint16_t>(v);
  const size_t posicoes[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; ++i) {
    if (!hex(posicoes[i], 2, v)) return std::nullopt;
    g.d4[i] = static_cast<uint8_t>(v);
  }
  return g;
}

const ClasseDespacho* ProcuraClasse(std::string_view nome) {
  const std::string alvo = Minusculas(nome);
  for (const ClasseDespacho* c : BibliotecaQuorvel().classes)
    if (Minusculas(c->progid) == alvo || Minusculas(c->nome) == alvo) return c;
  return nullptr;
}

const ClasseDespacho* ProcuraClasse(const Guid& clsid) {
  for (const ClasseDespacho* c : BibliotecaQuorvel().classes)
    if (c->clsid == clsid) return c;
  return nullptr;
}

RefObjeto CriaObjeto(const ClasseDespacho& c) {
  if (!c.fabrica)
    throw Erro(erro_plataforma::kNaoCriavel, "A classe " + c.nome + " não pode ser criada.");
  return RefObjeto{&c, c.fabrica()};
}

int32_t ProcuraDispId(const ClasseDespacho& c, std::string_view nome) {
  const std::string alvo = Minusculas(nome);
  for (const Membro& m : c.membros)
    if (Minusculas(m.nome) == alvo) return m.dispid;
  throw Erro(
      erro_plataforma::kMembroNaoEncontrado,
      "O objeto não dá suporte para esta propriedade ou método (" + std::string(nome) + ").");
}

Variant Invoca(const RefObjeto& objeto, int32_t dispid, TipoMembro tipo,
               std::vector<Variant> args) {
  if (!objeto.classe || !objeto.objeto) LancaObjetoNaoDefinido();
  const ClasseDespacho& c = *objeto.classe;
  if (!c.invocador)
    throw Erro(erro_plataforma::kMembroNaoEncontrado,
               "O objeto não dá suporte para esta propriedade ou método.");
  auto it = c.invocador->acoes.find({dispid, tipo});
  // A property put that the class declares as put-by-reference answers a plain put too.
  if (it == c.invocador->acoes.end() && tipo == TipoMembro::PropPut)
    it = c.invocador->acoes.find({dispid, TipoMembro::PropPutRef});
  if (it == c.invocador->acoes.end())
    throw Erro(erro_plataforma::kMembroNaoEncontrado,
               "O objeto não dá suporte para esta propriedade ou método.");
  const Membro& m = c.membros[it->second.first];
  size_t obrigatorios = 0;
  for (const Parametro& p : m.parametros)
    if (!p.opcional) ++obrigatorios;
  if (args.size() < obrigatorios || args.size() > m.parametros.size())
    throw Erro(erro_plataforma::kNumeroDeArgumentos,
               "Número de argumentos incorreto ou atribuição de propriedade inválida.");
  for (size_t i = 0; i < m.parametros.size(); ++i) {
    const Parametro& p = m.parametros[i];
    if (i >= args.size()) args.push_back(Variant::Omitido());
    if (args[i].EhAusente()) {
      if (!p.opcional)
        throw Erro(erro_plataforma::kNumeroDeArgumentos,
                   "Número de argumentos incorreto ou atribuição de propriedade inválida.");
      if (!p.padrao.EhAusente()) args[i] = p.padrao;
      continue;
    }
    args[i] = Converte(args[i], p);
  }
  return it->second.second(objeto.objeto.get(), args);
}

}  // namespace quorvel
