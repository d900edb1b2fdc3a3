#include "bench_support.h"

namespace bvbench {

bvtest::StandinFixture& standin() {
  static bvtest::StandinFixture fixture([] {
    bvtest::StandinOptions options;
    options.serverVersion = 2019;
    return options;
  }());
  return fixture;
}

bv::db::LoginSettings sa() { return {standin().serverText(), true, "sa", standin().saPassword()}; }

namespace {

// The columns of an msdb table, joined with commas, with `replaced` put in for the named ones.
std::string columnsOf(bvtest::StandinFixture& standin, const std::string& table,
                      const std::map<std::string, std::string>& replaced, bool names) {
  std::string list;
  for (const auto& row : standin.querySqlite("msdb", "PRAGMA table_info(" + table + ")")) {
    const std::string name = row[1].value_or("");
    if (name == (table == "backupset" ? "backup_set_id" : table == "backupmediaset" ? "media_set_id" : "")) continue;
    const auto it = replaced.find(name);
    list += (list.empty() ? "" : ", ") + (names || it == replaced.end() ? name : it->second);
  }
  return list;
}

}  // namespace

void seedCopiesOfSet(bvtest::StandinFixture& standin, std::int64_t setId, const SeededCopies& copies) {
  const std::string n = "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                        std::to_string(copies.count) + ") ";
  const std::string ofSet = "(SELECT media_set_id FROM backupset WHERE backup_set_id = " + std::to_string(setId) + ")";
  const std::string base =
      standin.querySqlite("msdb", "SELECT MAX(media_set_id) FROM backupmediaset").at(0).at(0).value_or("0");
  standin.executeSqlite(
      "msdb", n + "INSERT INTO backupmediaset (" + columnsOf(standin, "backupmediaset", {}, true) + ") SELECT " +
                  columnsOf(standin, "backupmediaset", {{"media_uuid", "lower(hex(randomblob(16)))"}}, false) +
                  " FROM k, backupmediaset WHERE media_set_id = " + ofSet);
  standin.executeSqlite(
      "msdb", n + "INSERT INTO backupmediafamily (" + columnsOf(standin, "backupmediafamily", {}, true) + ") SELECT " +
                  columnsOf(standin, "backupmediafamily",
                            {{"media_set_id", base + " + i"}, {"physical_device_name", copies.devicePath}}, false) +
                  " FROM k, backupmediafamily WHERE media_set_id = " + ofSet);
  std::map<std::string, std::string> setColumns = copies.setColumns;
  setColumns.emplace("media_set_id", base + " + i");
  setColumns.emplace("backup_set_uuid", "upper(hex(randomblob(16)))");
  standin.executeSqlite("msdb", n + "INSERT INTO backupset (" + columnsOf(standin, "backupset", {}, true) + ") SELECT " +
                                    columnsOf(standin, "backupset", setColumns, false) +
                                    " FROM k, backupset WHERE backup_set_id = " + std::to_string(setId));
}

}  // namespace bvbench
