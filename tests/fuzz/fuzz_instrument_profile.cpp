// Instrument profiles: refused with a line inside the file and a reason, or read whole;
// what is read keeps its promises (a range never empty, short texts without control
// characters), and a bad line added after a good profile refuses all of it at that line.
#include "FuzzCheck.h"
#include "model/InstrumentProfile.h"

#include <cstdint>

using namespace pmx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const ProfileLoadResult r = parseProfile(bytes);
    const int lines = int(bytes.count('\n')) + 1;
    if (!r.ok()) {
        FUZZ_CHECK(r.problem != ProfileProblem::None);
        FUZZ_CHECK(r.line >= 0 && r.line <= lines);
        FUZZ_CHECK(!r.errorText(strings::Lang::English).isEmpty());
        FUZZ_CHECK(!r.errorText(strings::Lang::Japanese).isEmpty());
        return 0;
    }
    FUZZ_CHECK(r.problem == ProfileProblem::None);
    for (const ItemProfile& p : r.profile->items) {
        FUZZ_CHECK(!p.min || !p.max || *p.min <= *p.max);
        FUZZ_CHECK(p.unit.size() <= 16 && p.note.size() <= 300 && p.noteJa.size() <= 300);
    }
    if (bytes.size() + 16 <= kProfileMaxBytes) {
        const ProfileLoadResult worse = parseProfile(bytes + "\n[0000\n");
        FUZZ_CHECK(!worse.ok() && worse.line == lines + 1);
    }
    return 0;
}
