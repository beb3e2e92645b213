// Index drop: see index_drop.h. The records cut out, in the logical definition:
//   real-index statistics   tdef_header_end + real * (8 | 12)
//   real index definition   its def_offset, (39 | 52) bytes
//   logical index record    its def_offset, (20 | 28) bytes; real index at 4 | 8
//   logical index name      after the last logical record, (1 | 2)-byte length first
#include "jet/maintain/index_drop.h"

#include <algorithm>
#include <utility>

#include "jet/base/byte_order.h"

namespace jet {

Status DefinitionWithoutIndex(const Format& format, const TableDef& def, size_t real, std::vector<uint8_t>* logical,
                              std::vector<std::string>* names) {
  const auto invalid = [](const std::string& why) { return Status::Error(ErrorKind::kInvalidArgument, why); };
  if (real >= def.real_indexes.size()) return invalid("no such real index");
  const size_t length = std::min<size_t>(def.tdef_length, def.buffer.size());
  std::vector<uint8_t> buffer(def.buffer.begin(), def.buffer.begin() + length);
  const bool jet3 = IsJet3(format.version);
  std::vector<std::pair<size_t, size_t>> cut;  // [from, to)
  const RealIndex& index = def.real_indexes[real];
  cut.emplace_back(index.stat_offset, index.stat_offset + format.real_index_stat_size);
  cut.emplace_back(index.def_offset, index.def_offset + format.real_index_def_size);
  size_t name_at = def.logical_indexes.empty()
                       ? 0
                       : def.logical_indexes.back().def_offset + format.logical_index_def_size;
  uint32_t logical_cut = 0;
  for (const LogicalIndex& l : def.logical_indexes) {
    if (name_at + format.name_length_size > buffer.size()) return invalid("a logical index name lies outside the definition");
    const size_t name_size =
        format.name_length_size + (format.name_length_size == 1 ? buffer[name_at] : LoadLe16(buffer.data() + name_at));
    if (l.real_index == real) {
      if (l.related_table_type != 0 || l.related_table != 0 || l.index_type == kLogicalIndexForeignKey)
        return invalid("index \"" + l.name + "\" is part of a relationship");
      cut.emplace_back(l.def_offset, l.def_offset + format.logical_index_def_size);
      cut.emplace_back(name_at, name_at + name_size);
      names->push_back(l.name);
      ++logical_cut;
    } else if (l.real_index > real) {
      const size_t field = l.def_offset + (jet3 ? 4 : 8);
      if (field + 4 > buffer.size()) return invalid("a logical index lies outside the definition");
      StoreLe32(buffer.data() + field, l.real_index - 1);
    }
    name_at += name_size;
  }
  std::sort(cut.begin(), cut.end());
  for (size_t i = 0; i < cut.size(); ++i)
    if (cut[i].second > buffer.size() || (i > 0 && cut[i].first < cut[i - 1].second))
      return invalid("an index record lies outside the definition");
  logical->clear();
  size_t at = 0;
  for (const auto& [from, to] : cut) {
    logical->insert(logical->end(), buffer.begin() + at, buffer.begin() + from);
    at = to;
  }
  logical->insert(logical->end(), buffer.begin() + at, buffer.end());
  StoreLe32(logical->data() + kTdefLengthOffset, uint32_t(logical->size()));
  StoreLe32(logical->data() + format.tdef_real_indexes, uint32_t(def.real_indexes.size() - 1));
  StoreLe32(logical->data() + format.tdef_logical_indexes, uint32_t(def.logical_indexes.size() - logical_cut));
  return Status::Ok();
}

}  // namespace jet
