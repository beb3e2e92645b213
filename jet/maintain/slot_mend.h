// Slot mend: a data page whose slot table had one row offset changed (a flipped
// byte) loses the two rows that offset bounds, its own row, which starts there, and
// the next slot's, which ends there, though both rows' bytes are whole. Rows never
// share bytes, and a row Access writes accounts for every byte it has (RowIsTight in
// jet/maintain/row_validation.h); few byte ranges that are not a row do. So where
// exactly one offset, put back between its neighbours, makes every live row's extent
// sound and apart from the others and both rows it bounds tight, that offset is the
// one the page had. The values tried differ from the stored one in one byte, as a
// flipped byte leaves it; the flag bits beside the offset's high byte may have
// changed with it, and but for the deleted bit, which stays, they are tried as
// stored and cleared. Where several offsets are out of order (several flipped bytes;
// no more than a few), each is judged alone by the two rows it bounds, and put back
// where exactly one value makes both tight.
#pragma once

#include <cstdint>

#include "jet/file/format.h"
#include "jet/read/table_def.h"

namespace jet {

// The slot of `page` (a data page of `table`) whose offset was changed and the slot
// value (flags as stored) it had, as above. False when the page needs no mend (its
// live extents are sound and apart), when more offsets are out of order than flipped
// bytes leave, or when no offset has a single value that fits. Of several changed
// offsets it names one: the caller puts it back and asks again.
bool FindChangedSlotOffset(const Format& format, const TableDef& table, const uint8_t* page, unsigned* slot,
                           uint16_t* value);

}  // namespace jet
