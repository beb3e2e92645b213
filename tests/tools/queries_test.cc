// Saved queries. mdbtools' mdb-queries prints a query as one SELECT line made from
// a few of its clauses; the clauses jetdb reads, put in that form, must give the
// same line for every query of every real test file. The SQL jetdb rebuilds from all
// the clauses must be the SQL Access shows for the queries of the query test files.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "jet/read/database.h"
#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"
#include "tools/jetdb/queries.h"

namespace {

using jetdb::QueryClause;
using jetdb::SavedQuery;

std::vector<SavedQuery> Queries(const std::string& path) {
  std::unique_ptr<jet::Database> db;
  std::vector<SavedQuery> queries;
  EXPECT_TRUE(jet::Database::Open(path, &db).ok()) << path;
  if (db) {
    EXPECT_TRUE(jetdb::ReadQueries(*db, &queries).ok()) << path;
  }
  return queries;
}

// What mdb-queries (mdbtools 1.0) prints for a query: the TOP / DISTINCTROW /
// DISTINCT option, every column expression, every table's name (not its alias, no
// joins), the WHERE clause and the first ORDER BY term, nothing else.
std::string MdbQueriesLine(const SavedQuery& query) {
  std::string options, columns, tables, where, order;
  for (const QueryClause& c : query.clauses) {
    switch (c.attribute) {
      case 3:
        if (c.flag & 0x30)
          options = " TOP " + c.name1 + ((c.flag & 0x20) ? " PERCENT" : "");
        else if (c.flag & 0x08)
          options = " DISTINCTROW";
        else if (c.flag & 0x02)
          options = " DISTINCT";
        break;
      case 5: tables += (tables.empty() ? "[" : ",[") + c.name1 + "]"; break;
      case 6: columns += (columns.empty() ? "" : ",") + c.expression; break;
      case 8: where = "WHERE " + c.expression + " "; break;
      case 11:
        if (order.empty()) order = "ORDER BY " + c.expression + (c.name1 == "D" ? " DESCENDING" : "");
        break;
    }
  }
  return "SELECT" + options + " " + columns + " FROM " + tables + " " + where + order;
}

std::string TrimmedEnd(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

TEST(QueriesOracle, ClausesGiveWhatMdbQueriesPrints) {
  SKIP_WITHOUT_TESTDATA();
  if (!tools_test::OnPath("mdb-queries")) GTEST_SKIP() << "mdbtools (mdb-queries) is not installed";
  int compared = 0;
  for (const char* folder : {"jet3", "jet4", "ace"}) {
    for (const std::string& path : testing_support::TestDataFiles(folder)) {
      SCOPED_TRACE(path);
      const std::vector<SavedQuery> queries = Queries(path);
      const tools_test::ProgramResult list = tools_test::RunProgram({"mdb-queries", "-L", "-1", path});
      std::vector<std::string> their_names, our_names;
      std::istringstream lines(list.out);
      for (std::string line; std::getline(lines, line);)
        if (!line.empty()) their_names.push_back(line);
      for (const SavedQuery& q : queries) our_names.push_back(q.name);
      std::sort(our_names.begin(), our_names.end());
      std::sort(their_names.begin(), their_names.end());
      EXPECT_EQ(our_names, their_names);
      for (const SavedQuery& q : queries) {
        const std::string theirs = TrimmedEnd(tools_test::RunProgram({"mdb-queries", path, q.name}).out);
        // mdb-queries finds a query's rows by the first catalog object of its name;
        // where a form or report of the same name comes first it finds none.
        if (theirs == "SELECT  FROM") continue;
        EXPECT_EQ(TrimmedEnd(MdbQueriesLine(q)), theirs) << q.name;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 50);
}

TEST(QueriesSql, IsTheSqlAccessShows) {
  SKIP_WITHOUT_TESTDATA();
  const std::map<std::string, std::string> expected = {
      {"SelectQuery",
       "SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\n"
       "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON "
       "(Table3.col1 = Table2.col1) AND (Table3.col1 = Table2.col2)\n"
       "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\n"
       "ORDER BY Table2.col1;"},
      {"DeleteQuery",
       "DELETE Table1.col1, Table1.col2, Table1.col3\nFROM Table1\nWHERE (((Table1.col1)>\"blah\"));"},
      {"MakeTableQuery",
       "SELECT Max(Table2.col1) AS MaxOfcol1, Table2.col2, Table3.col2 INTO Table4\n"
       "FROM (Table2 INNER JOIN Table1 ON Table2.col1 = Table1.col2) RIGHT JOIN Table3 ON Table1.col2 = Table3.col3\n"
       "GROUP BY Table2.col2, Table3.col2\n"
       "HAVING (((Max(Table2.col1))=\"buzz\") AND ((Table2.col2)<>\"blah\"));"},
      {"CrosstabQuery",
       "TRANSFORM Count([Table2].[col2]) AS CountOfcol2\n"
       "SELECT Table2_1.col1, [Table2].[col3], Avg(Table2_1.col2) AS AvgOfcol2\n"
       "FROM (Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1]) INNER JOIN Table2 AS Table2_1 ON "
       "[Table2].[col1]=Table2_1.col3\n"
       "WHERE ((([Table1].[col1])>\"10\") And ((Table2_1.col1) Is Not Null) And ((Avg(Table2_1.col2))>\"10\"))\n"
       "GROUP BY Table2_1.col1, [Table2].[col3]\n"
       "ORDER BY [Table2].[col3]\n"
       "PIVOT [Table1].[col1];"},
      {"UpdateQuery",
       "PARAMETERS [User Name] Text;\nUPDATE Table1\n"
       "SET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], [Table2].[col1] = [User Name]\n"
       "WHERE ((([Table2].[col1]) Is Not Null));"},
      {"DataDefinitionQuery", "CREATE TABLE Table5 (col1 CHAR, col2 CHAR);"},
      {"PassthroughQuery", "ALTER TABLE Table4 DROP COLUMN col5;"},
  };
  for (const char* file : {"/jet3/jk_query.mdb", "/jet4/jk_query_2000.mdb"}) {
    SCOPED_TRACE(file);
    std::map<std::string, std::string> types;
    for (const SavedQuery& q : Queries(testing_support::TestDataDir() + file)) {
      types[q.name] = jetdb::QueryTypeName(q.type);
      auto it = expected.find(q.name);
      if (it != expected.end()) {
        EXPECT_EQ(jetdb::QuerySql(q), it->second) << q.name;
      }
    }
    EXPECT_EQ(types.size(), 9u);
    EXPECT_EQ(types["AppendQuery"], "append");
    EXPECT_EQ(types["UnionQuery"], "union");
  }
}

}  // namespace
