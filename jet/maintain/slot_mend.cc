// Slot mend: finding the one changed offset of a data page's slot table.
#include "jet/maintain/slot_mend.h"

#include <vector>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/maintain/row_validation.h"

namespace jet {
namespace {

// The most offsets out of order that are judged one by one as flipped bytes.
constexpr size_t kMaxChangedSlots = 4;

// Whether every live row of `page` has a well-formed extent apart from the others'.
bool LiveExtentsSound(const Format& format, const uint8_t* page, const DataPageHeader& header) {
  for (unsigned i = 0; i < header.row_count; ++i) {
    RowSlot slot;
    if (!GetRowSlot(format, page, header, i, &slot).ok()) return false;
  }
  const std::vector<unsigned> holding = RowsHoldingOtherRows(format, page, header);
  return holding.empty() && RowsSharingBytes(format, page, header, holding).empty();
}

// How slot `row` of `page`, as it now stands, bears on the page: against it (no
// well-formed extent, an overflow pointer, or a live row that is not tight), not at
// all (deleted), or for it (a live row that is tight).
enum class Evidence { kAgainst, kNone, kFor };
Evidence RowEvidence(const Format& format, const TableDef& table, const uint8_t* page, const DataPageHeader& header,
                     unsigned row) {
  RowSlot slot;
  if (!GetRowSlot(format, page, header, row, &slot).ok()) return Evidence::kAgainst;
  if (slot.deleted) return Evidence::kNone;
  const bool tight =
      !slot.overflow && slot.size() > 0 && RowIsTight(format, table, page + slot.start, slot.size());
  return tight ? Evidence::kFor : Evidence::kAgainst;
}

}  // namespace

bool FindChangedSlotOffset(const Format& format, const TableDef& table, const uint8_t* page, unsigned* slot,
                           uint16_t* value) {
  DataPageHeader header;
  if (!ParseDataPage(format, page, &header).ok() || header.row_count == 0) return false;
  const unsigned n = header.row_count;
  std::vector<uint8_t> copy;
  // offset(i) for i in -1..n: the page's end above slot 0, the slot table's end below
  // the last slot. A sound page's offsets never rise from slot to slot, and offsets
  // that never rise bound extents that are sound and apart: every sound page ends
  // here, after one pass.
  const auto offset = [&](int i) -> uint32_t {
    if (i < 0) return format.page_size;
    if (i >= int(n)) return format.data_header_size + 2u * n;
    return LoadLe16((copy.empty() ? page : copy.data()) + format.data_header_size + 2 * i) & kSlotOffsetMask;
  };
  bool in_order = true;
  for (int i = 0; i <= int(n) && in_order; ++i) in_order = offset(i) <= offset(i - 1);
  if (in_order || LiveExtentsSound(format, page, header)) return false;
  copy.assign(page, page + format.page_size);
  // in_order_before[i]: offsets -1..i never rise; in_order_after[i]: offsets i..n never rise.
  std::vector<bool> in_order_before(n + 1, true), in_order_after(n + 1, true);
  for (unsigned i = 0; i < n; ++i)
    in_order_before[i + 1] = in_order_before[i] && offset(int(i)) <= offset(int(i) - 1);
  for (int i = int(n) - 1; i >= 0; --i)
    in_order_after[size_t(i)] = in_order_after[size_t(i) + 1] && offset(i + 1) <= offset(i);
  // The offsets whose removal leaves the others in order: one of them is the changed
  // one, if one alone changed. Where none is, several changed; each offset out of
  // order with a neighbour, between neighbours in order, is then judged by the two
  // rows it bounds alone, as long as there are few: more are noise, not flipped bytes.
  std::vector<unsigned> candidates, out_of_order;
  for (unsigned k = 0; k < n; ++k) {
    if (offset(int(k) + 1) > offset(int(k) - 1)) continue;
    if (in_order_before[k] && in_order_after[k + 1]) candidates.push_back(k);
    if (offset(int(k)) > offset(int(k) - 1) || offset(int(k)) < offset(int(k) + 1)) out_of_order.push_back(k);
  }
  const bool several = candidates.empty();
  if (several) {
    if (out_of_order.size() > kMaxChangedSlots) return false;
    candidates = out_of_order;
  }
  bool found = false;
  for (unsigned k : candidates) {
    uint8_t* at = copy.data() + format.data_header_size + 2 * k;
    const uint16_t stored = LoadLe16(at);
    // The flag bits share the offset's high byte, which may be the one changed; the
    // deleted bit stays as stored (a row deleted must not come back).
    const uint16_t flag_choices[] = {uint16_t(stored & ~kSlotOffsetMask), uint16_t(stored & kSlotDeleted)};
    unsigned fits = 0;
    uint16_t fitting = 0;
    // One of the offset's two bytes changed: 256 values with another low byte, 32
    // with other offset bits in the high byte. That also bounds the work a hostile
    // page can ask for.
    for (uint32_t candidate = 0; candidate < 2u * (256 + 32); ++candidate) {
      const uint16_t flags = flag_choices[candidate & 1];
      const uint32_t choice = candidate / 2;
      const uint32_t e = choice < 256 ? (stored & kSlotOffsetMask & 0xFF00u) | choice
                                      : ((choice - 256) << 8) | (stored & 0xFFu);
      if (e < offset(int(k) + 1) || e > offset(int(k) - 1)) continue;
      if ((candidate & 1) && flags == flag_choices[0]) continue;
      if ((flags | e) == stored) continue;
      StoreLe16(at, uint16_t(flags | e));
      // Row k starts at e and row k+1 ends there: neither may speak against e, and
      // one must speak for it.
      const Evidence own = RowEvidence(format, table, copy.data(), header, k);
      const Evidence next = k + 1 < n ? RowEvidence(format, table, copy.data(), header, k + 1) : Evidence::kNone;
      if (own == Evidence::kAgainst || next == Evidence::kAgainst) continue;
      if (own != Evidence::kFor && next != Evidence::kFor) continue;
      if (!several && !LiveExtentsSound(format, copy.data(), header)) continue;
      ++fits;
      fitting = uint16_t(flags | e);
    }
    StoreLe16(at, stored);
    if (several) {
      if (fits != 1) continue;  // no value, or several: no evidence for any
      *slot = k;
      *value = fitting;
      return true;  // the caller, having put it back, asks again for the others
    }
    if (fits > 1 || (fits == 1 && found)) return false;  // several values fit: no evidence for either
    if (fits == 1) {
      found = true;
      *slot = k;
      *value = fitting;
    }
  }
  return found;
}

}  // namespace jet
