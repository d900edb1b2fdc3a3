#include "core/maintenance/database_list.h"

#include "core/db/database.h"

namespace bv::maintenance {

std::string resolveDatabaseName(std::string_view listText, std::string_view defaultDatabase) {
  return std::string(listText == kDefaultDatabaseEntry ? defaultDatabase : listText);
}

std::vector<std::string> DatabaseList::entries() const {
  std::vector<std::string> out;
  if (defaultDatabase) out.emplace_back(kDefaultDatabaseEntry);
  out.insert(out.end(), databases.begin(), databases.end());
  return out;
}

DatabaseList readDatabaseList(const db::LoginSettings& login) {
  db::Connection connection(db::loginConnectionSettings(login));
  try {
    connection.open();
  } catch (const std::exception& error) {
    throw LoginFailed(error.what());
  }
  DatabaseList list;
  db::Query query(connection);
  query.addLine("SELECT DB_NAME() AS NAME");
  query.open();
  if (!query.eof()) list.defaultDatabase = query.fieldAsText("NAME");
  query.close();
  list.databases = connection.catalogs();
  return list;
}

}  // namespace bv::maintenance
