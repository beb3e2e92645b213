// Finding kinds: the table of names, severities and repair actions.
#include "jet/maintain/finding_kind.h"

#include <cstddef>
#include <iterator>

namespace jet {
namespace {

// In the order of FindingKind, one row per kind.
constexpr FindingKindInfo kFindingKinds[] = {
    {FindingKind::kPartialPage, "partial-page", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kCommitState, "commit-state", CheckSeverity::kDamage, RepairAction::kClearCommitState},
    {FindingKind::kEncoded, "encoded", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kSortOrder, "sort-order", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kHeaderField, "header-field", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kPageUnreadable, "page-unreadable", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kGlobalMap, "global-map", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kPageMultiplyOwned, "page-multiply-owned", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kPageType, "page-type", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kFreeMapReachable, "free-map-reachable", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kUnreachablePages, "unreachable-pages", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kCatalogUnreadable, "catalog-unreadable", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kCatalogDuplicateId, "catalog-duplicate-id", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kCatalogSelf, "catalog-self", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kCatalogTablePage, "catalog-table-page", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kCatalogQueryObject, "catalog-query-object", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kCatalogContainer, "catalog-container", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kCatalogAceObject, "catalog-ace-object", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kCatalogRelationshipTable, "catalog-relationship-table", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kCatalogParent, "catalog-parent", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kCatalogFlags, "catalog-flags", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kTdefUnreadable, "tdef-unreadable", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kTdefColumnNumber, "tdef-column-number", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kTdefVarIndex, "tdef-var-index", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kTdefFixedOverlap, "tdef-fixed-overlap", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kTdefIndexColumn, "tdef-index-column", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kTdefColumnRecord, "tdef-column-record", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kTdefRelatedTable, "tdef-related-table", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kOwnedMap, "owned-map", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kOwnedMapForeignPage, "owned-map-foreign-page", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kOwnedMapWrongPage, "owned-map-wrong-page", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kOwnedMapMissingPage, "owned-map-missing-page", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kMapPastEnd, "map-past-end", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kFreeSpaceMap, "free-space-map", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kFreeMapNotOwned, "free-map-not-owned", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kLongValueMap, "long-value-map", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kLongValueMapForeignPage, "long-value-map-foreign-page", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kRowCount, "row-count", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kRowCountSystem, "row-count-system", CheckSeverity::kHarmless, RepairAction::kNone},
    {FindingKind::kDataPage, "data-page", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kDataPageFreeSpace, "data-page-free-space", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kRowSlot, "row-slot", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kOverflowPointer, "overflow-pointer", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kRowUndecodable, "row-undecodable", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kRowInvalid, "row-invalid", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kRowValue, "row-value", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kLongValueBroken, "long-value-broken", CheckSeverity::kDamage, RepairAction::kNone},
    {FindingKind::kIndexMap, "index-map", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexTree, "index-tree", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexPage, "index-page", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexNodeEntry, "index-node-entry", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexLinks, "index-links", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexOrder, "index-order", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexUnique, "index-unique", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexDanglingEntry, "index-dangling-entry", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexDuplicateEntry, "index-duplicate-entry", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexExtraEntry, "index-extra-entry", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexKey, "index-key", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexMissingRows, "index-missing-rows", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexRowsDiffer, "index-rows-differ", CheckSeverity::kDamage, RepairAction::kRebuildIndex},
    {FindingKind::kIndexStatistics, "index-statistics", CheckSeverity::kHarmless, RepairAction::kNone},
};

constexpr bool InDeclarationOrder() {
  for (size_t i = 0; i < std::size(kFindingKinds); ++i)
    if (size_t(kFindingKinds[i].kind) != i) return false;
  return std::size(kFindingKinds) == size_t(FindingKind::kIndexStatistics) + 1;
}
static_assert(InDeclarationOrder(), "kFindingKinds must list every FindingKind in declaration order");

}  // namespace

const char* CheckSeverityName(CheckSeverity severity) {
  return severity == CheckSeverity::kHarmless ? "harmless" : "damage";
}

std::span<const FindingKindInfo> AllFindingKinds() { return kFindingKinds; }

const FindingKindInfo& FindingKindInfoOf(FindingKind kind) { return kFindingKinds[size_t(kind)]; }

bool ParseFindingKind(std::string_view name, FindingKind* kind) {
  for (const FindingKindInfo& info : kFindingKinds)
    if (name == info.name) {
      *kind = info.kind;
      return true;
    }
  return false;
}

}  // namespace jet
