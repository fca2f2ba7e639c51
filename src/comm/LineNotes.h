#pragma once
#include <QString>

namespace pmx {

// What the line has shown of itself, in the operator's words.

// The shortest time-out the communication conditions offer that waits for an answer
// beginning `lateMs` after its request, with a margin; -1 when even the longest does not.
int timeoutForLateness(int lateMs);
// "Answers came up to 450 ms after their requests ... A time-out of 600 ms would wait for
// them." (or that no time-out that can be set would), in the run's language.
QString lateAnswersText(int lateMs);
// The line sends every request back as it goes out (a two-wire adapter).
QString echoingLineText();

} // namespace pmx
