// Saved queries: MSysQueries rows to Access SQL (the clause layout is in queries.h).
#include "tools/jetdb/queries.h"

#include <map>
#include <memory>

namespace jetdb {
namespace {

enum Attribute {
  kType = 1,
  kParameter = 2,
  kOptions = 3,
  kOtherDatabase = 4,
  kTable = 5,
  kColumn = 6,
  kJoin = 7,
  kWhere = 8,
  kGroupBy = 9,
  kHaving = 10,
  kOrderBy = 11,
};

enum QueryType {
  kSelect = 1,
  kMakeTable = 2,
  kAppend = 3,
  kUpdate = 4,
  kDelete = 5,
  kCrosstab = 6,
  kDataDefinition = 7,
  kPassThrough = 8,
  kUnion = 9,
};

// Options (Attribute 3) bits.
constexpr int kAllColumns = 0x01;
constexpr int kDistinct = 0x02;
constexpr int kOwnerAccess = 0x04;
constexpr int kDistinctRow = 0x08;
constexpr int kTop = 0x10;
constexpr int kTopPercent = 0x20;

// Crosstab column and grouping roles (Flag of Attributes 6 and 9).
constexpr int kPivot = 1;
constexpr int kRowHeading = 2;

// A name as Access writes it: bare when it is a plain identifier, else in brackets.
std::string Name(const std::string& name) {
  bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
  for (unsigned char c : name) plain &= std::isalnum(c) || c == '_' || c >= 0x80;
  return plain ? name : "[" + name + "]";
}

// Without the blanks, semicolons and NUL (Access ends some texts with one) at the end.
std::string Trimmed(const std::string& text) {
  const size_t end = text.find_last_not_of(std::string(" \t\r\n;\0", 6));
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (size_t n = 0; n < parts.size(); ++n) out += (n ? separator : "") + parts[n];
  return out;
}

const char* ParameterType(int type) {
  switch (type) {
    case 1: return "Bit";
    case 2: return "Byte";
    case 3: return "Short";
    case 4: return "Long";
    case 5: return "Currency";
    case 6: return "IEEESingle";
    case 7: return "IEEEDouble";
    case 8: return "DateTime";
    case 9: return "Binary";
    case 10: return "Text";
    case 11: return "LongBinary";
    case 12: return "Memo";
    case 15: return "Guid";
    case 16: return "Decimal";
    default: return "Value";
  }
}

const char* JoinWord(int flag) {
  return flag == 2 ? "LEFT JOIN" : flag == 3 ? "RIGHT JOIN" : "INNER JOIN";
}

// One item of a FROM list: a table (or a part in parentheses), or two items joined.
struct FromItem {
  std::string table;                       // a table item's text
  std::vector<std::string> names;          // the table names and aliases it holds
  std::unique_ptr<FromItem> left, right;   // a join's two sides
  int join = 0;
  std::vector<std::string> conditions;

  bool Holds(const std::string& name) const {
    for (const std::string& n : names)
      if (n == name) return true;
    return false;
  }
  std::string Text() const {
    if (!left) return table;
    const auto side = [](const FromItem& item) { return item.left ? "(" + item.Text() + ")" : item.Text(); };
    std::string on = conditions.size() == 1 ? conditions[0] : "";
    if (conditions.size() > 1) {
      std::vector<std::string> wrapped;
      for (const std::string& c : conditions) wrapped.push_back("(" + c + ")");
      on = Joined(wrapped, " AND ");
    }
    return side(*left) + " " + JoinWord(join) + " " + side(*right) + " ON " + on;
  }
};

// The FROM list: the tables, joined as the join clauses say; a joined pair goes to
// the end of the list, and another condition on the same pair joins its ON with AND.
std::string FromText(const std::vector<const QueryClause*>& tables, const std::vector<const QueryClause*>& joins) {
  std::vector<std::unique_ptr<FromItem>> items;
  for (const QueryClause* t : tables) {
    auto item = std::make_unique<FromItem>();
    const std::string& shown = t->name2.empty() ? t->name1 : t->name2;
    item->table = t->expression.empty() ? Name(t->name1) : "(" + Trimmed(t->expression) + ")";
    if (!t->name2.empty()) item->table += " AS " + Name(t->name2);
    item->names.push_back(shown);
    items.push_back(std::move(item));
  }
  const auto find = [&](const std::string& name) {
    for (size_t n = 0; n < items.size(); ++n)
      if (items[n]->Holds(name)) return int(n);
    return -1;
  };
  for (const QueryClause* j : joins) {
    const int left = find(j->name1), right = find(j->name2);
    if (left < 0 || right < 0) continue;  // names no table of the query: nothing to join
    if (left == right) {
      if (items[size_t(left)]->left) items[size_t(left)]->conditions.push_back(j->expression);
      continue;
    }
    auto joined = std::make_unique<FromItem>();
    joined->join = j->flag;
    joined->conditions.push_back(j->expression);
    joined->left = std::move(items[size_t(left)]);
    joined->right = std::move(items[size_t(right)]);
    joined->names = joined->left->names;
    joined->names.insert(joined->names.end(), joined->right->names.begin(), joined->right->names.end());
    items.erase(items.begin() + std::max(left, right));
    items.erase(items.begin() + std::min(left, right));
    items.push_back(std::move(joined));
  }
  std::vector<std::string> texts;
  for (const auto& item : items) texts.push_back(item->Text());
  return Joined(texts, ", ");
}

class SqlBuilder {
 public:
  explicit SqlBuilder(const SavedQuery& query) : query_(query) {
    for (const QueryClause& c : query.clauses) by_attribute_[c.attribute].push_back(&c);
    if (const QueryClause* o = First(kOptions)) options_ = o->flag;
  }

  std::string Build() const {
    switch (query_.type) {
      case kDataDefinition:
      case kPassThrough:
        return Trimmed(First(kType) ? First(kType)->expression : "") + ";";
      case kUnion:
        return Union();
      default:
        break;
    }
    std::string sql = Parameters();
    switch (query_.type) {
      case kMakeTable:
        sql += Select(Columns(-1)) + " INTO " + Name(Target()) + From();
        break;
      case kAppend:
        sql += "INSERT INTO " + Name(Target()) + TargetColumns() + "\n" + Select(Columns(-1)) + From();
        break;
      case kUpdate:
        sql += "UPDATE " + FromList() + "\nSET " + Assignments();
        break;
      case kDelete:
        sql += "DELETE " + (Columns(-1).empty() ? std::string("*") : Joined(Columns(-1), ", ")) + From();
        break;
      case kCrosstab:
        sql += "TRANSFORM " + Joined(Columns(0), ", ") + "\n" + Select(Columns(kRowHeading)) + From();
        break;
      default:
        sql += Select(Columns(-1)) + From();
        break;
    }
    sql += Clause("\nWHERE ", kWhere, "");
    sql += Grouping();
    sql += Clause("\nHAVING ", kHaving, "");
    sql += Ordering();
    if (query_.type == kCrosstab) {
      const std::vector<std::string> pivot = Columns(kPivot);
      if (!pivot.empty()) sql += "\nPIVOT " + Joined(pivot, ", ");
    }
    if (options_ & kOwnerAccess) sql += "\nWITH OWNERACCESS OPTION";
    return sql + ";";
  }

 private:
  const QueryClause* First(int attribute) const {
    auto it = by_attribute_.find(attribute);
    return it == by_attribute_.end() || it->second.empty() ? nullptr : it->second[0];
  }
  const std::vector<const QueryClause*>& All(int attribute) const {
    static const std::vector<const QueryClause*> kNone;
    auto it = by_attribute_.find(attribute);
    return it == by_attribute_.end() ? kNone : it->second;
  }
  std::string Target() const { return First(kType) ? First(kType)->name1 : ""; }

  std::string Parameters() const {
    std::vector<std::string> parameters;
    for (const QueryClause* p : All(kParameter)) parameters.push_back(Name(p->name1) + " " + ParameterType(p->flag));
    return parameters.empty() ? "" : "PARAMETERS " + Joined(parameters, ", ") + ";\n";
  }

  // The column expressions with their aliases; `role` -1 for all of them, else only
  // the crosstab columns of that role.
  std::vector<std::string> Columns(int role) const {
    std::vector<std::string> columns;
    for (const QueryClause* c : All(kColumn)) {
      if (role >= 0 && c->flag != role) continue;
      columns.push_back(c->expression + (c->name1.empty() ? "" : " AS " + Name(c->name1)));
    }
    return columns;
  }

  std::string Select(std::vector<std::string> columns) const {
    std::string sql = "SELECT ";
    if (options_ & (kTop | kTopPercent)) {
      sql += "TOP " + (First(kOptions) ? First(kOptions)->name1 : "") + ((options_ & kTopPercent) ? " PERCENT " : " ");
    }
    if (options_ & kDistinctRow)
      sql += "DISTINCTROW ";
    else if (options_ & kDistinct)
      sql += "DISTINCT ";
    if ((options_ & kAllColumns) || columns.empty()) columns.push_back("*");
    return sql + Joined(columns, ", ");
  }

  std::string FromList() const {
    std::string from = FromText(All(kTable), All(kJoin));
    if (const QueryClause* other = First(kOtherDatabase)) {
      from += " IN '" + other->name1 + "'";
      if (!other->expression.empty()) from += " [" + other->expression + "]";
    }
    return from;
  }
  std::string From() const {
    const std::string from = FromList();
    return from.empty() ? "" : "\nFROM " + from;
  }

  std::string TargetColumns() const {
    std::vector<std::string> targets;
    for (const QueryClause* c : All(kColumn))
      if (!c->name2.empty()) targets.push_back(c->name2);
    return targets.empty() ? "" : " (" + Joined(targets, ", ") + ")";
  }

  std::string Assignments() const {
    std::vector<std::string> sets;
    for (const QueryClause* c : All(kColumn)) sets.push_back(c->name2 + " = " + c->expression);
    return Joined(sets, ", ");
  }

  std::string Clause(const std::string& keyword, int attribute, const std::string& separator) const {
    const QueryClause* c = First(attribute);
    return c == nullptr ? "" : keyword + c->expression + separator;
  }

  std::string Grouping() const {
    std::vector<std::string> groups;
    for (const QueryClause* g : All(kGroupBy))
      if (query_.type != kCrosstab || g->flag != kPivot) groups.push_back(g->expression);
    return groups.empty() ? "" : "\nGROUP BY " + Joined(groups, ", ");
  }

  std::string Ordering() const {
    std::vector<std::string> order;
    for (const QueryClause* o : All(kOrderBy)) order.push_back(o->expression + (o->name1 == "D" ? " DESC" : ""));
    return order.empty() ? "" : "\nORDER BY " + Joined(order, ", ");
  }

  // The parts' own SQL, joined by UNION (ALL unless the options ask for distinct rows).
  std::string Union() const {
    std::vector<std::string> parts;
    for (const QueryClause* t : All(kTable))
      if (!t->expression.empty()) parts.push_back(Trimmed(t->expression));
    const std::string word = (options_ & kDistinct) ? "\nUNION\n" : "\nUNION ALL\n";
    return Joined(parts, word) + Ordering() + ";";
  }

  const SavedQuery& query_;
  std::map<int, std::vector<const QueryClause*>> by_attribute_;
  int options_ = 0;
};

}  // namespace

const char* QueryTypeName(int type) {
  switch (type) {
    case kSelect: return "select";
    case kMakeTable: return "make-table";
    case kAppend: return "append";
    case kUpdate: return "update";
    case kDelete: return "delete";
    case kCrosstab: return "crosstab";
    case kDataDefinition: return "data definition";
    case kPassThrough: return "pass-through";
    case kUnion: return "union";
    default: return "unknown";
  }
}

jet::Status ReadQueries(jet::Database& db, std::vector<SavedQuery>* queries) {
  queries->clear();
  std::map<int32_t, size_t> by_id;
  for (const jet::CatalogObject& object : db.objects()) {
    if (object.type != jet::kObjectQuery) continue;
    by_id[object.id] = queries->size();
    queries->push_back(SavedQuery{object.name, 0, {}});
  }
  if (queries->empty() || db.FindObject("MSysQueries", jet::kObjectLocalTable) == nullptr) return jet::Status::Ok();
  const jet::TableDef* def = nullptr;
  jet::Status s = db.GetTableDefByName("MSysQueries", &def);
  if (!s.ok()) return s;
  const int id_col = def->FindColumnByName("ObjectId"), attribute_col = def->FindColumnByName("Attribute"),
            flag_col = def->FindColumnByName("Flag"), name1_col = def->FindColumnByName("Name1"),
            name2_col = def->FindColumnByName("Name2"), expression_col = def->FindColumnByName("Expression");
  if (id_col < 0 || attribute_col < 0 || flag_col < 0 || name1_col < 0 || name2_col < 0 || expression_col < 0)
    return jet::Status::Error(jet::ErrorKind::kDamaged, "MSysQueries lacks one of its columns");
  const auto text = [](const jet::Value& v) { return v.type() == jet::ValueType::kText ? v.text() : std::string(); };
  return db.ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>& row) {
    auto it = by_id.find(int32_t(row[id_col].integer()));
    if (it == by_id.end()) return true;  // the rows of a query the catalog no longer lists
    QueryClause clause;
    clause.attribute = int(row[attribute_col].integer());
    clause.flag = row[flag_col].is_null() ? 0 : int(row[flag_col].integer());
    clause.name1 = text(row[name1_col]);
    clause.name2 = text(row[name2_col]);
    clause.expression = text(row[expression_col]);
    SavedQuery& query = (*queries)[it->second];
    if (clause.attribute == kType) query.type = clause.flag;
    query.clauses.push_back(std::move(clause));
    return true;
  });
}

std::string QuerySql(const SavedQuery& query) { return SqlBuilder(query).Build(); }

}  // namespace jetdb
