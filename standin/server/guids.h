// The GUIDs the server gives: a new one for each backup set and media, and a database's own,
// the same in every backup of it.
#pragma once

#include <string>

#include "standin/sql/value.h"

namespace standin::server {

// A new GUID's text, as uniqueidentifier columns hold it.
std::string newGuid();
// The GUID of a database: the same in every backup of it (made of its name and creation date).
std::string databaseGuid(const std::string& name, const sql::DateTime& created);

}  // namespace standin::server
