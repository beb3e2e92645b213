// Header rebuild: page 0 as a repair reads it. A page 0 that decodes, whose fields all
// hold values Jet writes and whose database key decodes the pages, is taken as it is.
// Otherwise the header is rebuilt from evidence, field by field:
//   format      the page size at which the file's table definition pages appear
//               (Jet 3 2 KB pages carry "VC", Jet 4 4 KB pages the 1625 constant);
//   code page,  what the text columns of the catalog's definition carry, else
//   sort order  1252 and General;
//   key         none, when the pages read as Jet pages without one;
//   code page   Jet 4: from the sort order's language (2052 Chinese PRC: 936) when
//               page 0 is lost, else 1252;
//   password,   kept when its field is sound, else none, reported as lost / taken
//   date        from the password field's mask (a Jet 4 field without a password is
//               the date's mask repeated).
// A stored value that is impossible is damage, not a setting; every value the
// rebuild had to take without evidence is an assumption.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/page_file.h"

namespace jet {

struct HeaderRebuild {
  bool rebuilt = false;                  // the file is read through a rebuilt page 0
  std::vector<std::string> damage;       // what was wrong with the stored page 0
  std::vector<std::string> assumptions;  // what the rebuilt page 0 takes without evidence
  // The database password went with page 0 (lost, or its field damaged within the
  // password): the repaired file has none, which the user has to know.
  bool password_lost = false;
};

// Opens `path` for a repair, through a rebuilt page 0 when the stored one is lost or
// impossible. kNotJetDatabase when no page shows a Jet structure; kUnsupportedFormat
// when the pages are RC4-encoded and the key went with page 0 (the pages cannot be
// read without it), and for the formats PageFile::Open refuses.
Status OpenForRepair(const std::string& path, std::unique_ptr<PageFile>* file, HeaderRebuild* rebuild);

}  // namespace jet
