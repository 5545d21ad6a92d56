// The page's own files, built into the program from web/pagina/ (no CDN, works offline).
#pragma once

#include <string_view>

namespace ponto::web {

struct Recurso {
  std::string_view conteudo;
  const char* tipo;  // Content-Type
};

extern const Recurso kPaginaHtml, kPaginaCss, kPaginaJs;

}  // namespace ponto::web
