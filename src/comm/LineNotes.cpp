#include "comm/LineNotes.h"

#include "comm/Conditions.h"
#include "text/StringTable.h"

#include <algorithm>

namespace pmx {

int timeoutForLateness(int lateMs) {
    // A quarter more, and at least 50 ms: answers come a little later some other time.
    const int needed = lateMs + std::max(lateMs / 4, 50);
    for (const QString& entry : cond::timeoutEntries())
        if (entry.toInt() >= needed)
            return entry.toInt();
    return -1;
}

QString lateAnswersText(int lateMs) {
    const int timeout = timeoutForLateness(lateMs);
    if (timeout < 0)
        return strings::text(TextId::LateAnswersNoTimeout).arg(lateMs);
    return strings::text(TextId::LateAnswers).arg(lateMs).arg(timeout);
}

QString echoingLineText() {
    return strings::text(TextId::LineEchoes);
}

} // namespace pmx
