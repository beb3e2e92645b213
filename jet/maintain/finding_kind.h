// Finding kinds: every kind of problem the integrity check reports, each with its
// stable name (what `jetdb check` prints and scripts match on), its severity and what
// a repair does about it. This table is the only place a kind's name is written: the
// check reports kinds, and the salvage and the repair choose what to do from a kind's
// repair action, never from its name.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace jet {

// "harmless" is what real Access files carry anyway (pages no structure reaches,
// stale statistics, odd but readable bytes); "damage" is anything a reader or a
// writer would get wrong (a row that does not decode, an index entry that points
// nowhere, a row count that disagrees with the rows, a set "needs repair" state).
enum class CheckSeverity : uint8_t { kHarmless, kDamage };

// "harmless" / "damage".
const char* CheckSeverityName(CheckSeverity severity);

// What a repair does about a finding beyond rebuilding the file from what still
// reads (which mends every kind of damage: rows, long values, maps, counts).
enum class RepairAction : uint8_t {
  kNone,
  kClearCommitState,  // as the only damage: cleared in place, without a rebuild
  kRebuildIndex,      // the index the finding names gets a new tree
};

enum class FindingKind : uint8_t {
  // The file and page 0.
  kPartialPage,
  kCommitState,
  kEncoded,
  kSortOrder,
  kHeaderField,
  kPageUnreadable,
  kGlobalMap,
  kPageMultiplyOwned,
  kPageType,
  kFreeMapReachable,
  kUnreachablePages,
  // The catalog.
  kCatalogUnreadable,
  kCatalogDuplicateId,
  kCatalogSelf,
  kCatalogTablePage,
  kCatalogQueryObject,
  kCatalogContainer,
  kCatalogAceObject,
  kCatalogRelationshipTable,
  kCatalogParent,
  kCatalogFlags,
  // Table definitions and their page maps.
  kTdefUnreadable,
  kTdefColumnNumber,
  kTdefVarIndex,
  kTdefFixedOverlap,
  kTdefIndexColumn,
  kTdefColumnRecord,
  kTdefRelatedTable,
  kOwnedMap,
  kOwnedMapForeignPage,
  kOwnedMapWrongPage,
  kOwnedMapMissingPage,
  kMapPastEnd,
  kFreeSpaceMap,
  kFreeMapNotOwned,
  kLongValueMap,
  kLongValueMapForeignPage,
  kRowCount,
  kRowCountSystem,
  // Data pages and rows.
  kDataPage,
  kDataPageFreeSpace,
  kRowSlot,
  kOverflowPointer,
  kRowUndecodable,
  kRowInvalid,
  kRowValue,
  kLongValueBroken,
  // Indexes.
  kIndexMap,
  kIndexTree,
  kIndexPage,
  kIndexNodeEntry,
  kIndexLinks,
  kIndexOrder,
  kIndexUnique,
  kIndexDanglingEntry,
  kIndexDuplicateEntry,
  kIndexExtraEntry,
  kIndexKey,
  kIndexMissingRows,
  kIndexRowsDiffer,  // only where the comparison entry by entry is not asked for
  kIndexStatistics,
};

struct FindingKindInfo {
  FindingKind kind;
  const char* name;  // stable: "row-undecodable", "index-dangling-entry", ...
  CheckSeverity severity;
  RepairAction repair;
};

// Every kind, in the order declared above.
std::span<const FindingKindInfo> AllFindingKinds();
const FindingKindInfo& FindingKindInfoOf(FindingKind kind);
inline const char* FindingKindName(FindingKind kind) { return FindingKindInfoOf(kind).name; }
// False when `name` is no kind's name.
bool ParseFindingKind(std::string_view name, FindingKind* kind);

}  // namespace jet
