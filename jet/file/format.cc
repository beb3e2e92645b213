// Format: the layout constants of Jet 3 and Jet 4 / ACE, and version names.
#include "jet/file/format.h"

namespace jet {
namespace {

constexpr Format MakeJet3() {
  Format f{};
  f.version = Version::kJet3;
  f.page_size = 2048;
  f.header_mask_size = 126;
  f.data_row_count = 8;
  f.data_header_size = 10;
  f.tdef_row_count = 12;
  f.tdef_autonumber = 16;
  f.tdef_table_type = 20;
  f.tdef_max_columns = 21;
  f.tdef_var_columns = 23;
  f.tdef_column_count = 25;
  f.tdef_logical_indexes = 27;
  f.tdef_real_indexes = 31;
  f.tdef_owned_map = 35;
  f.tdef_free_map = 39;
  f.tdef_header_end = 43;
  f.real_index_stat_size = 8;
  f.column_def_size = 18;
  f.real_index_def_size = 39;
  f.logical_index_def_size = 20;
  f.name_length_size = 1;
  f.row_column_count_size = 1;
  f.max_row_size = 2012;
  f.index_prev_page = 8;
  f.index_next_page = 12;
  f.index_tail_page = 16;
  f.index_prefix_length = 20;
  f.index_node_flag = 21;
  f.index_bitmap = 22;
  f.index_entries = 248;
  return f;
}

constexpr Format MakeJet4(Version version) {
  Format f{};
  f.version = version;
  f.page_size = 4096;
  f.header_mask_size = 128;
  f.data_row_count = 12;
  f.data_header_size = 14;
  f.tdef_row_count = 16;
  f.tdef_autonumber = 20;
  f.tdef_table_type = 40;
  f.tdef_max_columns = 41;
  f.tdef_var_columns = 43;
  f.tdef_column_count = 45;
  f.tdef_logical_indexes = 47;
  f.tdef_real_indexes = 51;
  f.tdef_owned_map = 55;
  f.tdef_free_map = 59;
  f.tdef_header_end = 63;
  f.real_index_stat_size = 12;
  f.column_def_size = 25;
  f.real_index_def_size = 52;
  f.logical_index_def_size = 28;
  f.name_length_size = 2;
  f.row_column_count_size = 2;
  f.max_row_size = 4060;
  f.index_prev_page = 12;
  f.index_next_page = 16;
  f.index_tail_page = 20;
  f.index_prefix_length = 24;
  f.index_node_flag = 26;
  f.index_bitmap = 27;
  f.index_entries = 480;
  return f;
}

constexpr Format kFormats[] = {
    MakeJet3(),
    MakeJet4(Version::kJet4),
    MakeJet4(Version::kAce12),
    MakeJet4(Version::kAce14),
    MakeJet4(Version::kAce15),
    MakeJet4(Version::kAce16),
    MakeJet4(Version::kAce17),
};

}  // namespace

const Format& FormatFor(Version version) {
  size_t i = static_cast<size_t>(version);
  if (i >= sizeof kFormats / sizeof kFormats[0]) i = 0;
  return kFormats[i];
}

const char* VersionName(Version version) {
  switch (version) {
    case Version::kJet3: return "Jet 3";
    case Version::kJet4: return "Jet 4";
    case Version::kAce12: return "ACE 12 (Access 2007)";
    case Version::kAce14: return "ACE 14 (Access 2010)";
    case Version::kAce15: return "ACE 15 (Access 2013)";
    case Version::kAce16: return "ACE 16 (Access 2016)";
    case Version::kAce17: return "ACE 17 (Access 2019)";
  }
  return "unknown";
}

}  // namespace jet
