// Saved queries: their definitions as MSysQueries keeps them, one row per clause,
// and the Access SQL rebuilt from those rows.
//
// MSysQueries columns: ObjectId (the query's MSysObjects Id), Attribute (which
// clause), Flag, Name1, Name2, Expression, Order. By Attribute:
//   0  start of the definition          255  its end
//   1  type: Flag 1 select, 2 make-table, 3 append, 4 update, 5 delete, 6 crosstab,
//      7 data definition, 8 pass-through, 9 union; Name1 the target table (make-table,
//      append) or connect string (pass-through), Expression the SQL text of
//      data-definition and pass-through queries
//   2  parameter: Name1 its name, Flag its type (a column type code; 0 "Value")
//   3  options: Flag 1 all columns (*), 2 DISTINCT, 4 WITH OWNERACCESS OPTION,
//      8 DISTINCTROW, 16 TOP Name1, 32 TOP Name1 PERCENT; in a union query 1 is ALL
//   4  other database: Name1 its path, Expression a connect string
//   5  table: Name1 table or query, Name2 alias; in a union query Expression is a
//      part's SQL text
//   6  column: Expression, Name1 alias; in an append or update query Name2 is the
//      target column; in a crosstab Flag 1 is the PIVOT column, 2 a row heading
//   7  join: Name1 and Name2 the two tables (or aliases), Expression the condition,
//      Flag 1 INNER, 2 LEFT, 3 RIGHT
//   8  WHERE Expression          9  GROUP BY Expression (crosstab: Flag as for 6)
//   10 HAVING Expression         11 ORDER BY Expression, Name1 "D" for descending
#pragma once

#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/read/database.h"

namespace jetdb {

struct QueryClause {
  int attribute = 0;
  int flag = 0;
  std::string name1;
  std::string name2;
  std::string expression;
};

struct SavedQuery {
  std::string name;
  int type = 0;                      // Flag of the Attribute 1 row; 0 when absent
  std::vector<QueryClause> clauses;  // in storage order
};

// "select", "make-table", "append", ..., "unknown".
const char* QueryTypeName(int type);

// Every saved query (MSysObjects Type 5) in catalog order, with its clauses. A file
// without MSysQueries has none.
jet::Status ReadQueries(jet::Database& db, std::vector<SavedQuery>* queries);

// The query as Access SQL, ending in ";".
std::string QuerySql(const SavedQuery& query);

}  // namespace jetdb
