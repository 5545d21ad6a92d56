# The layers of the component: the folders of each, the public headers it owns and the layers
# it stands on. The build checks every include against this table (verifica_camadas.cmake), so a
# dependency the table does not show fails the build instead of growing unseen. A layer's
# subfolders listed under another layer belong to that one.
set(QUORVEL_CAMADAS comum controle afd protocolo virtual rede backends typelib armazem
                    relogio-virtual ponto)

# The vocabulary every part shares: errors, dates, documents, the device SDK interface, the host
# interface. Stands on nothing.
set(QUORVEL_CAMADA_comum_PASTAS src/common)
set(QUORVEL_CAMADA_comum_PUBLICOS codigos.h data_hora.h documentos.h enumeracoes.h erro.h host.h
    versao.h sdk/conversao_template.h sdk/czkem.h sdk/dispositivo_nulo.h sdk/fonte_afd.h)
set(QUORVEL_CAMADA_comum_USA "")

# The control and the host's event loop: the control talks to clocks through the SDK interface
# only, never to a backend.
set(QUORVEL_CAMADA_controle_PASTAS src/control src/host src/punches src/clocktime src/employees
    src/configuration src/status)
set(QUORVEL_CAMADA_controle_PUBLICOS colecao.h comunicacao_zk.h event_loop.h fila_timers.h
    funcionario.h global.h horario.h lista_relogio.h marcacao.h relogio.h status_relogio.h
    virtual_host.h)
set(QUORVEL_CAMADA_controle_USA comum)

# The fiscal file's layout (AFD), written by the virtual register clock and by the store's export.
set(QUORVEL_CAMADA_afd_PASTAS src/afd)
set(QUORVEL_CAMADA_afd_PUBLICOS "")
set(QUORVEL_CAMADA_afd_USA comum)

# The wire format both ends share: frames, values, the call list, the key's proof.
set(QUORVEL_CAMADA_protocolo_PASTAS src/sdk/protocol)
set(QUORVEL_CAMADA_protocolo_PUBLICOS "")
set(QUORVEL_CAMADA_protocolo_USA comum)

# The virtual clock, in process, and its side of the protocol (the session a daemon serves).
set(QUORVEL_CAMADA_virtual_PASTAS src/sdk)
set(QUORVEL_CAMADA_virtual_PUBLICOS sdk/relogio_virtual.h)
set(QUORVEL_CAMADA_virtual_USA comum afd protocolo)

# The network backend: the client's side of the protocol.
set(QUORVEL_CAMADA_rede_PASTAS src/sdk/rede)
set(QUORVEL_CAMADA_rede_PUBLICOS sdk/sdk_rede.h)
set(QUORVEL_CAMADA_rede_USA comum protocolo)

# Backends by name, for hosts configured by text.
set(QUORVEL_CAMADA_backends_PASTAS src/sdk/backends)
set(QUORVEL_CAMADA_backends_PUBLICOS sdk/backends.h)
set(QUORVEL_CAMADA_backends_USA comum virtual rede)

# The type library and the C boundary for late-bound hosts.
set(QUORVEL_CAMADA_typelib_PASTAS src/typelib)
set(QUORVEL_CAMADA_typelib_PUBLICOS quorvel.h typelib.h variant.h)
set(QUORVEL_CAMADA_typelib_USA comum controle virtual rede backends)

# The punch store (SQLite, PostgreSQL): used by the tools, outside the control.
set(QUORVEL_CAMADA_armazem_PASTAS src/store)
set(QUORVEL_CAMADA_armazem_PUBLICOS "")
set(QUORVEL_CAMADA_armazem_USA comum)

# The clock daemon: virtual clocks served over the protocol (their fiscal files too), no control.
set(QUORVEL_CAMADA_relogio-virtual_PASTAS tools/relogio-virtual)
set(QUORVEL_CAMADA_relogio-virtual_PUBLICOS "")
set(QUORVEL_CAMADA_relogio-virtual_USA comum afd protocolo virtual)

# The command-line host: everything.
set(QUORVEL_CAMADA_ponto_PASTAS tools/ponto tools/ponto/web)
set(QUORVEL_CAMADA_ponto_PUBLICOS "")
set(QUORVEL_CAMADA_ponto_USA comum controle afd protocolo virtual rede backends armazem)
