// Sending the staging list to one clock and to all clocks.
#include <vector>

#include "control/interno.h"

namespace quorvel {

using interno::kClasseControle;

std::shared_ptr<ListaFuncionarioNaoEnviado> ComunicacaoZK::EnviarListaFuncionarioCartaoRelogio(
    int32_t parCodigoRelogio) {
  static constexpr std::string_view kMetodo = "EnviarListaFuncionarioCartaoRelogio";
  if (funcionarios_.Count() == 0) LancaErro(erro::kNadaParaEnviar, kClasseControle, kMetodo);
  const auto entrada = RelogioConectado(Para16Bits(parCodigoRelogio));

  return EnvolveErro(kClasseControle, kMetodo, [&] {
    auto naoEnviados = std::make_shared<ListaFuncionarioNaoEnviado>();
    const std::string codigoRelogio = std::to_string(parCodigoRelogio);
    // Kept alive here: the host may remove the clock while the send yields.
    const std::shared_ptr<CZKEM> czkem = entrada->CZKEM();
    const std::shared_ptr<Relogio> relogio = entrada->Relogio();
    CZKEM& sdk = *czkem;

    // A refusal by the clock carries the clock's own reason, read right after the refused call.
    const auto anota = [&](const std::shared_ptr<FuncionarioCartao>& funcionario,
                           EFalhaEnvioFuncionario motivo) {
      auto registro = std::make_shared<FuncionarioNaoEnviado>();
      registro->CodigoRelogio(codigoRelogio);
      registro->FuncionarioCartao(funcionario);
      registro->MotivoFalha(motivo);
      if (motivo != NaoPossuiSenhaOuTemplate) registro->ErroRelogio(interno::UltimoErro(sdk));
      naoEnviados->Anota(registro);
    };

    std::string convertido;
    std::string usuario;
    const int32_t total = funcionarios_.Count();
    for (int32_t i = 1; i <= total; ++i) {
      host_.Cede();
      const std::shared_ptr<FuncionarioCartao> funcionario = funcionarios_.Item(i);
      const ColecaoTemplates& templates = *funcionario->Template();
      if (funcionario->Senha().empty() && templates.Count() == 0) {
        anota(funcionario, NaoPossuiSenhaOuTemplate);
        continue;
      }
      const int32_t privilegio = funcionario->Supervisor() ? 2 : 0;

      if (relogio->ModeloRelogio() == EModeloRelogio_Quorvel) {
        if (!sdk.SdkSetUserInfo(parCodigoRelogio, funcionario->Codigo(), funcionario->Nome(),
                                funcionario->Senha(), privilegio, true)) {
          anota(funcionario, RelogioRecusou);
          continue;
        }
        for (int32_t t = 1; t <= templates.Count(); ++t) {
          const Template& modelo = *templates.Item(t);
          sdk.SdkDeleteUserTemplate(parCodigoRelogio, funcionario->Codigo(), modelo.Dedo());
          // Emptied first: a conversion that delivers nothing must never send the text left
          // over from the template before it.
          convertido.clear();
          int32_t tamanho = 0;
          sdk.SdkConvertTemplate(modelo.Texto(), convertido, tamanho);
          if (convertido.empty() || !sdk.SdkSetUserTemplate(parCodigoRelogio, funcionario->Codigo(),
                                                            modelo.Dedo(), convertido))
            anota(funcionario, RelogioRecusouTemplate);
        }
      } else {
        usuario = std::to_string(funcionario->Codigo());
        const bool gravou = interno::ExecutaComRetentativa(host_, *entrada, [&](CZKEM& s) {
          s.SdkSetCardNumber(funcionario->Cartao());
          return s.SdkSetUserInfoWithPis(parCodigoRelogio, std::to_string(funcionario->Codigo()),
                                         funcionario->Nome(), funcionario->Senha(),
                                         funcionario->Supervisor() ? 2 : 0, true,
                                         funcionario->PIS(), funcionario->CPF());
        });
        // A record still refused after the last attempt is reported whatever the reason,
        // a lost link included: the host must learn the employee is not on the clock.
        if (!gravou) {
          anota(funcionario, RelogioRecusou);
          continue;
        }
        for (int32_t t = 1; t <= templates.Count(); ++t) {
          const Template& modelo = *templates.Item(t);
          sdk.SdkDeleteUserTemplateByTextId(parCodigoRelogio, usuario, modelo.Dedo());
          if (!sdk.SdkSetUserTemplateByTextId(parCodigoRelogio, usuario, modelo.Dedo(), 1,
                                              modelo.Texto()))
            anota(funcionario, RelogioRecusouTemplate);
        }
      }
    }
    return naoEnviados;
  });
}

std::shared_ptr<ListaFuncionarioNaoEnviado>
ComunicacaoZK::EnviaListaFuncionarioCartaoTodosRelogios() {
  const int32_t total = relogios_.Count();
  std::vector<std::shared_ptr<ListaFuncionarioNaoEnviado>> porRelogio;
  porRelogio.reserve(static_cast<size_t>(total));
  for (int32_t i = 1; i <= total; ++i)
    porRelogio.push_back(
        EnviarListaFuncionarioCartaoRelogio(relogios_.Item(i)->Relogio()->Codigo()));

  auto resultado = std::make_shared<ListaFuncionarioNaoEnviado>();
  for (const auto& lista : porRelogio) {
    for (int32_t j = 1; j <= lista->Count(); ++j) {
      const auto origem = lista->Item(j);
      auto copia = std::make_shared<FuncionarioNaoEnviado>();
      copia->CodigoRelogio(origem->CodigoRelogio());
      copia->FuncionarioCartao(origem->FuncionarioCartao());
      copia->MotivoFalha(origem->MotivoFalha());
      copia->ErroRelogio(origem->ErroRelogio());
      resultado->Anota(copia);
    }
  }
  return resultado;
}

}  // namespace quorvel
