#include "standin/server/registry.h"

#include <stdexcept>

#include "standin/base/text.h"

namespace standin::server {

void Statements::addReading(Reading reading) {
  grammar_.add(std::move(reading.first), std::move(reading.second), reading.reader);
}

void Statements::insert(std::type_index type, Kind kind) {
  if (!kinds_.emplace(type, std::move(kind)).second)
    throw std::logic_error(std::string("statement kind registered twice: ") + type.name());
}

const Statements::Kind& Statements::kindOf(const sql::Statement& statement) const {
  const auto it = kinds_.find(typeid(statement));
  if (it == kinds_.end())
    throw std::logic_error(std::string("a statement of a kind not registered: ") + typeid(statement).name());
  return it->second;
}

bool reachesFrom(const Procedure& procedure, std::string_view database) {
  return procedure.everyDatabase || base::equalsIgnoreCase(database, procedure.database);
}

void Procedures::add(Procedure procedure) {
  if (!procedure.call) throw std::logic_error("procedure " + procedure.name + " has no call");
  for (const auto& p : all_)
    if (p.name == procedure.name) throw std::logic_error("procedure " + procedure.name + " registered twice");
  all_.push_back(std::move(procedure));
}

const Procedure* Procedures::find(std::string_view name, int year) const {
  for (const auto& p : all_)
    if (p.name == name && year >= p.since) return &p;
  return nullptr;
}

void SystemObjects::add(SystemObject object) {
  if (!object.rows || object.columns.empty())
    throw std::logic_error("system object " + object.name + " has no rows or no columns");
  for (const auto& o : all_)
    if (o.name == object.name) throw std::logic_error("system object " + object.name + " registered twice");
  all_.push_back(std::move(object));
}

SystemObjects::Found SystemObjects::find(int year, std::string_view schema, std::string_view name,
                                         std::string_view database) const {
  const std::string wanted = base::toLowerAscii(name);
  const SystemObject* object = nullptr;
  for (const auto& o : all_)
    if (o.name == wanted) object = &o;
  const std::string owner = base::toLowerAscii(schema);
  if (owner == "sys") {
    if (year == 2000) return {Lookup::Missing, nullptr};  // 2000 has no sys schema
    if (!object) return {Lookup::Unsupported, nullptr};
    if (year < object->sysSince) return {Lookup::Missing, nullptr};
    return {Lookup::Found, object};
  }
  if ((owner.empty() || owner == "dbo") && object && object->compatibilityView) {
    // 2000 keeps them in master only; later releases have them as views in every database.
    if (year == 2000 && !base::equalsIgnoreCase(database, "master")) return {Lookup::Missing, nullptr};
    return {Lookup::Found, object};
  }
  return {Lookup::NotSystem, nullptr};
}

}  // namespace standin::server
