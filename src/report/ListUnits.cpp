#include "report/ListUnits.h"

namespace pmx {

void fillListUnits(const InstrumentProfile* profile, ListArrays& lists) {
    for (int i = 0; i < kItemCount; ++i)
        lists.units[i] = profile && lists.listed[i] ? profile->unit(i) : QString();
}

} // namespace pmx
