// Reading back the employees and templates a clock holds.
#include "control/interno.h"

namespace quorvel {

using interno::kClasseControle;

namespace {
constexpr int32_t kDedos = 10;
}

std::shared_ptr<ListaFuncionarioCartao> ComunicacaoZK::ObterListaFuncionarioCartaoRelogio(
    int16_t parCodigoRelogio) {
  const auto entrada = RelogioConectado(parCodigoRelogio);
  return EnvolveErro(kClasseControle, "ObterListaFuncionarioCartaoRelogio", [&] {
    auto resultado = std::make_shared<ListaFuncionarioCartao>();
    const std::shared_ptr<CZKEM> czkem = entrada->CZKEM();
    CZKEM& sdk = *czkem;
    const int32_t maquina = parCodigoRelogio;
    if (!sdk.SdkReadAllUserIds(maquina)) return resultado;

    std::string nome, senha, texto;
    int32_t privilegio = 0, tamanho = 0;
    bool habilitado = false;
    const auto adicionaTemplate = [](FuncionarioCartao& f, int32_t dedo, const std::string& t) {
      auto modelo = std::make_shared<Template>();
      modelo->Texto(t);
      modelo->Dedo(dedo);
      f.AddTemplate(modelo);
    };

    if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Quorvel) {
      int32_t usuario = 0;
      while (sdk.SdkGetNextUserInfo(maquina, usuario, nome, senha, privilegio, habilitado)) {
        auto funcionario = std::make_shared<FuncionarioCartao>();
        funcionario->Codigo(usuario);
        funcionario->Nome(nome);
        funcionario->Senha(senha);
        funcionario->Supervisor(privilegio == 2);
        for (int32_t dedo = 0; dedo < kDedos; ++dedo) {
          texto.clear();
          if (sdk.SdkGetUserTemplate(maquina, funcionario->Codigo(), dedo, texto, tamanho))
            adicionaTemplate(*funcionario, dedo, texto);
        }
        resultado->Add(funcionario);
      }
    } else {
      std::string usuario, pis, cpf, id;
      int32_t flag = 0;
      for (;;) {
        usuario.clear();
        nome.clear();
        senha.clear();
        pis.clear();
        cpf.clear();
        if (!sdk.SdkGetNextUserInfoWithPis(maquina, usuario, nome, senha, privilegio, habilitado,
                                           pis, cpf))
          break;
        auto funcionario = std::make_shared<FuncionarioCartao>();
        funcionario->Codigo(interno::TextoParaInteiro32(usuario));
        funcionario->Nome(nome);
        funcionario->Senha(senha);
        funcionario->PIS(pis);
        funcionario->CPF(cpf);
        funcionario->Supervisor(privilegio == 2);
        // Templates are asked for under the code as we read it ("0012" becomes "12").
        id = std::to_string(funcionario->Codigo());
        for (int32_t dedo = 0; dedo < kDedos; ++dedo) {
          texto.clear();
          if (sdk.SdkGetUserTemplateByTextId(maquina, id, dedo, flag, texto, tamanho))
            adicionaTemplate(*funcionario, dedo, texto);
        }
        resultado->Add(funcionario);
      }
    }
    return resultado;
  });
}

std::shared_ptr<ColecaoTemplates> ComunicacaoZK::ObterListaTemplatesCartaoRelogio(
    int16_t parCodigoRelogio, int32_t parCodigoFuncionarioCartao) {
  return EnvolveErro(kClasseControle, "ObterListaTemplatesCartaoRelogio", [&] {
    const auto entrada = RelogioConectado(parCodigoRelogio);
    const std::shared_ptr<CZKEM> czkem = entrada->CZKEM();
    auto resultado = std::make_shared<ColecaoTemplates>();
    const std::string id = std::to_string(parCodigoFuncionarioCartao);
    std::string texto;
    int32_t tamanho = 0, flag = 0;
    for (int32_t dedo = 0; dedo < kDedos; ++dedo) {
      bool ok;
      if (entrada->Relogio()->ModeloRelogio() == EModeloRelogio_Quorvel) {
        texto.clear();
        ok = czkem->SdkGetUserTemplate(parCodigoRelogio, parCodigoFuncionarioCartao, dedo, texto,
                                       tamanho);
      } else {
        ok = interno::ExecutaComRetentativa(host_, *entrada, [&](CZKEM& sdk) {
          texto.clear();
          return sdk.SdkGetUserTemplateByTextId(parCodigoRelogio, id, dedo, flag, texto, tamanho);
        });
      }
      if (!ok) continue;  // no template for that finger
      auto modelo = std::make_shared<Template>();
      modelo->Texto(texto);
      modelo->Dedo(dedo);
      resultado->Add(std::move(modelo));
    }
    return resultado;
  });
}

}  // namespace quorvel
