// Salvage: the first half of a repair. From a damaged file it makes a salvaged view
// in which every damaged structure is consistent again, so that the compaction
// (jet/maintain/compact.h), which trusts what it reads, can turn it into a clean file.
// The view reads through to the source and differs from it only where damage was
// (those pages it holds in memory):
//   - a catalog definition (page 2) that is lost or not laid out as MSysObjects is
//     replaced by the built-in one; tables, containers and MSysObjects itself whose
//     catalog rows are lost get new rows (jet/maintain/catalog_rebuild.h), and the
//     MSysQueries rows of queries whose catalog rows are lost are dropped;
//   - a catalog row no intact catalog holds (MSysObjects' own row of another name
//     or type, a table id that names no page, a system table's columns under a
//     damaged name, a required container under another id or name) is dropped and
//     written anew; a table keeps the name its row still gave;
//   - a data page that the table's map names, whose type byte alone is damaged, gets
//     it back;
//   - a definition chain that runs off the file or loops ends at its last good page;
//     a definition damaged where its columns are intact (an index root past the end,
//     a long-value map list cut short, header counts below what the columns use) is
//     mended (ReadTableDefMending, jet/read/table_def.h), its indexes rebuilt; a table
//     whose definition still cannot be read is dropped from the catalog, and reported
//     with the rows its data pages hold;
//   - a row that does not decode (bad slot, offset into free space, broken overflow
//     pointer, bad trailer or value), or whose bookkeeping its definition does not
//     allow (jet/maintain/row_validation.h: torn and garbled rows), or whose keys
//     the entries of two indexes pointing at it both contradict, or whose key a
//     unique index's entry shows to be garbled (null where the index requires a
//     value, or another row's key), or whose null mask an entry shows to be flipped
//     (a null key column whose bytes still give the entry's key), or its end offset
//     (the key given once the gap before the trailer is closed), is marked deleted
//     and counted, never kept as an
//     all-null or garbage row (a row that fails only by a garbled column or
//     variable-column count, which the rest of its bookkeeping names, gets that count
//     back and is kept); the rows of lost pages are counted from the index
//     entries that point at them (told apart from entries whose row pointer is
//     garbled), or else from the definition's row count;
//   - a page whose row count its free space and slots contradict gets the count they
//     imply; an overflow target whose pointer row is lost is kept as that row when an
//     index entry of the lost row holds its key (or, without indexes, when pages were
//     lost and the definition counts rows not accounted for);
//   - a long value whose chain breaks, loops or runs onto a torn page ends at the
//     break (its length set to the bytes that were read), or becomes null when nothing
//     of it can be read or its memo text is zeros; a value kept in one whole LVAL
//     row whose length disagrees with that row takes the row's size (the length is
//     what is garbled), and is not counted as cut;
//   - an index the check found damaged, or of a table that lost rows, gets a new tree,
//     appended past the old end of the file: keys computed from the rows
//     (jet/write/index_key.h) when that is possible, otherwise the entries of the old
//     tree that still decode and point at live rows. The tree is left empty when
//     every key came from the rows and the index is neither a primary key nor the
//     catalog's: the compaction keys such an index from the rows itself and reads
//     no tree of it;
//   - an owned-pages map that disagrees with the pages (jet/maintain/table_pages.h) is
//     set aside in the view, so that the compaction finds the table's pages by their
//     owner field; pages of the map that are not data pages are left out and reported;
//   - the primary-key values of lost rows that the old primary-key index still holds
//     are listed, so that the user can enter those rows again.
// Everything lost is recorded in the RepairReport.
#pragma once

#include <memory>
#include <string>

#include "jet/maintain/check.h"
#include "jet/base/env.h"
#include "jet/file/page_file.h"
#include "jet/maintain/repair_report.h"
#include "jet/base/status.h"

namespace jet {

// Salvages `source`, whose check is `check`, and gives the salvaged view as a page
// file of its own, with the header `source` gives (a rebuilt one where page 0 was
// lost: readers take the header from there, never from page 0's bytes). It reads the
// pages the salvage left alone from `source`, which must outlive it and not change.
// The index sorts' scratch files go beside `scratch_beside`. kDamaged when the catalog
// cannot be read even through the built-in definition.
Status Salvage(Env* env, PageFile& source, const CheckReport& check, const std::string& scratch_beside,
               RepairReport* report, std::unique_ptr<PageFile>* salvaged);

}  // namespace jet
