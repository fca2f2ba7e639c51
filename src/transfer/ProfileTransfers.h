#pragma once
// What a profile changes in the transfers: writes leave live and readonly items out, a
// comparison leaves live items out unless asked. Without a profile every function here
// does exactly what the plain sequence does.
#include "model/InstrumentProfile.h"
#include "transfer/Compare.h"
#include "transfer/Sequences.h"

namespace pmx {

// The items of a write of all items a profile leaves out: selected, live or readonly.
QList<int> itemsLeftOutOfWrite(const ItemTable& table, const InstrumentProfile* profile);

// The write of all items less the live and readonly ones (the leading items keep their
// place); `leftOut` gets how many the profile left out.
TransferResult writeSettingItems(TransferContext& ctx, const InstrumentProfile* profile,
                                 int* leftOut);
// The write of the listed items less the live and readonly ones.
TransferResult writeListedSettingItems(TransferContext& ctx, const QList<int>& items,
                                       const InstrumentProfile* profile, int* leftOut);

// The comparison of the selected items, less the live and read-only ones unless
// `includeLive`; `leftOut` gets how many were left out. They are not even read.
Comparison compareSettingItems(TransferContext& ctx, const InstrumentProfile* profile,
                               bool includeLive, int* leftOut);

// What the summaries append: "; 5 live or read-only items not written", "; 5 live or
// read-only items not compared"; empty for none.
QString leftOutOfWriteText(int count);
QString leftOutOfCompareText(int count);

} // namespace pmx
