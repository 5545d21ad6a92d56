# Writes OUT, a C++ source holding the page's files (from DIR) as raw string literals: the
# page is served from the binary, nothing to install beside it, nothing fetched.
file(WRITE ${OUT} "// Made at build time by web/embute.cmake from web/pagina/: edit those files.\n"
                  "#include \"web/recursos.h\"\n\nnamespace ponto::web {\n\n")
foreach(par "kPaginaHtml;pagina.html;text/html; charset=utf-8"
            "kPaginaCss;pagina.css;text/css; charset=utf-8"
            "kPaginaJs;pagina.js;text/javascript; charset=utf-8")
  list(GET par 0 nome)
  list(GET par 1 arquivo)
  list(SUBLIST par 2 -1 tipo)
  list(JOIN tipo ";" tipo)
  file(READ ${DIR}/${arquivo} conteudo)
  string(FIND "${conteudo}" ")QRVL\"" delimitador)
  if(NOT delimitador EQUAL -1)
    message(FATAL_ERROR "${arquivo} contém o delimitador )QRVL\"")
  endif()
  file(APPEND ${OUT} "const Recurso ${nome}{R\"QRVL(${conteudo})QRVL\", \"${tipo}\"};\n\n")
endforeach()
file(APPEND ${OUT} "}  // namespace ponto::web\n")
