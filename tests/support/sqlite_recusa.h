// A SQLite store made to refuse some of its writes, as a full disk or a broken database would:
// a trigger that aborts the insert with `mensagem`.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace quorvel::teste {

// Inserts into `tabela` of the store at `arquivo` fail from now on (only those where `quando`
// holds, when it is given).
inline void RecusaInsercoes(const std::string& arquivo, const std::string& tabela,
                            const std::string& mensagem, const std::string& quando = "") {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(arquivo.c_str(), &db), SQLITE_OK);
  const std::string gatilho = "CREATE TRIGGER recusa BEFORE INSERT ON " + tabela +
                              (quando.empty() ? "" : " WHEN " + quando) +
                              " BEGIN SELECT RAISE(ABORT, '" + mensagem + "'); END";
  EXPECT_EQ(sqlite3_exec(db, gatilho.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace quorvel::teste
