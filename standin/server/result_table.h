// Result sets whose columns depend on the release: each column with the first release that has
// it, and rows given as name -> value (a column a row gives no value is NULL), so that a release
// gets exactly its own columns in their order.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "standin/sql/results.h"

namespace standin::server {

struct ResultColumn {
  const char* name;
  sql::SqlType type;
  int since = 2000;
  bool nullable = true;
};

class ResultTable {
 public:
  ResultTable(const std::vector<ResultColumn>& all, int year) {
    for (const auto& c : all)
      if (c.since <= year) rs_.columns.push_back(sql::Column{c.name, c.type, c.nullable});
  }
  void add(const std::vector<std::pair<std::string_view, sql::Value>>& values) {
    sql::Row row(rs_.columns.size());
    for (const auto& [name, value] : values) {
      const int i = rs_.columnIndex(std::string(name));
      if (i >= 0) row[static_cast<std::size_t>(i)] = value;
    }
    rs_.rows.push_back(std::move(row));
  }
  sql::ResultSet take() { return std::move(rs_); }

 private:
  sql::ResultSet rs_;
};

}  // namespace standin::server
