// Every test gets a state folder of its own: the embedded clocks of the ponto it runs remember
// what they hold between commands, and one test must not see another's clocks (all the tests
// of a program run in one process when it is run by hand) nor the person's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace {

class EstadoIsolado : public ::testing::EmptyTestEventListener {
 public:
  EstadoIsolado() {
    const char* tmp = std::getenv("TMPDIR");
    std::string modelo = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvel-estado-XXXXXX";
    if (::mkdtemp(modelo.data()) != nullptr) pasta_ = modelo;
    Novo();
  }
  ~EstadoIsolado() override {
    std::error_code ignorado;
    if (!pasta_.empty()) std::filesystem::remove_all(pasta_, ignorado);
  }
  void OnTestStart(const ::testing::TestInfo&) override { Novo(); }

 private:
  void Novo() {
    if (pasta_.empty()) return;
    const std::string pasta = pasta_ + "/" + std::to_string(++testes_);
    std::error_code ignorado;
    std::filesystem::create_directories(pasta, ignorado);
    ::setenv("XDG_STATE_HOME", pasta.c_str(), 1);
  }
  std::string pasta_;
  int testes_ = 0;
};

// Registered before main: gtest owns the listener from here on and deletes it at exit.
const bool g_registrado = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new EstadoIsolado);
  return true;
}();

}  // namespace
