/* A late-bound host in C: creates the control by ProgID, connects a virtual clock and
 * collects its punches by dispatch number. Build: cc -std=c11 coleta.c -lquorvel */
#include <stdio.h>
#include <string.h>

#include "quorvel/quorvel.h"

static int conectado = 0;

static void sink(void* contexto, int32_t dispid, const quorvel_variant* args, int32_t n) {
  (void)contexto;
  if (dispid == 3 && n == 1) {
    printf("evento RelogioConectado(%d)\n", (int)args[0].inteiro);
    conectado = 1;
  }
}

static int32_t dispid(quorvel_objeto* o, const char* nome) {
  int32_t d = 0;
  quorvel_erro erro;
  if (quorvel_dispid(o, nome, &d, &erro) != QUORVEL_OK) fprintf(stderr, "%s\n", erro.descricao);
  return d;
}

static quorvel_variant inteiro(int32_t v) {
  quorvel_variant x;
  memset(&x, 0, sizeof x);
  x.tipo = QUORVEL_INTEIRO32;
  x.inteiro = v;
  return x;
}

int main(void) {
  quorvel_erro erro;
  quorvel_objeto* controle = NULL;
  quorvel_define_sdk("virtual", &erro);             /* the in-process virtual clocks */
  quorvel_virtual_publica("192.0.2.8", 4370, 1, 1); /* a register clock with sample data */
  if (quorvel_cria("QUORVEL.ComunicacaoZK", &controle, &erro) != QUORVEL_OK) {
    fprintf(stderr, "erro %d: %s\n", (int)erro.numero, erro.descricao);
    return 1;
  }
  quorvel_define_sink(controle, sink, NULL, &erro);

  quorvel_variant args[3];
  memset(args, 0, sizeof args);
  args[0] = inteiro(8);
  args[1].tipo = QUORVEL_TEXTO;
  args[1].texto = "192.0.2.8";
  args[2] = inteiro(1);
  quorvel_invoca(controle, dispid(controle, "AddRelogioIP"), QUORVEL_METODO, args, 3, NULL, &erro);
  quorvel_invoca(controle, dispid(controle, "ConectarRelogio"), QUORVEL_METODO, args, 1, NULL,
                 &erro);
  for (int i = 0; i < 100 && !conectado; ++i) quorvel_processa_eventos(20);
  if (!conectado) return 1;

  /* NSR pointer 70: the records after it. */
  quorvel_variant pedido[3] = {inteiro(8), inteiro(0), inteiro(70)};
  quorvel_variant lista;
  if (quorvel_invoca(controle, dispid(controle, "ObterMarcacaoRelogio"), QUORVEL_METODO, pedido, 3,
                     &lista, &erro)) {
    fprintf(stderr, "erro %d: %s\n", (int)erro.numero, erro.descricao);
    return 1;
  }
  quorvel_variant total;
  quorvel_invoca(lista.objeto, dispid(lista.objeto, "Count"), QUORVEL_METODO, NULL, 0, &total,
                 &erro);
  for (int32_t i = 1; i <= total.inteiro; ++i) {
    quorvel_variant indice = inteiro(i), marcacao, nsr;
    quorvel_invoca(lista.objeto, dispid(lista.objeto, "Item"), QUORVEL_METODO, &indice, 1,
                   &marcacao, &erro);
    quorvel_invoca(marcacao.objeto, dispid(marcacao.objeto, "NSR"), QUORVEL_PROPGET, NULL, 0, &nsr,
                   &erro);
    printf("NSR %s\n", nsr.texto);
    quorvel_variant_limpa(&nsr);
    quorvel_variant_limpa(&marcacao);
  }
  printf("%d registros\n", (int)total.inteiro);
  quorvel_variant_limpa(&lista);
  quorvel_libera(controle);
  return DllCanUnloadNow() == 0 ? 0 : 1;
}
