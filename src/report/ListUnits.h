#pragma once
#include "model/InstrumentProfile.h"
#include "report/ListData.h"

namespace pmx {

// The report's unit column from an instrument profile: each listed item's unit, or empty.
// Without a profile the column stays empty. The CSV export has no unit column either way.
void fillListUnits(const InstrumentProfile* profile, ListArrays& lists);

} // namespace pmx
