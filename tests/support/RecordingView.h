// A transfer view that records what a sequence tells the window, and answers its questions
// as a test sets them up.
#pragma once

#include "transfer/Sequences.h"

#include <QList>
#include <QPair>
#include <QStringList>

namespace pmx::test {

class RecordingView : public TransferView {
  public:
    void progressStart() override { progress = 0; }
    void progressStep() override { ++progress; }
    void progressEnd() override { ended = true; }
    void progressItem(int n, int m, int item) override {
        items << QStringLiteral("%1/%2 %3").arg(n).arg(m).arg(itemAddressText(item));
    }
    void showError(int id, int item) override { errors << qMakePair(id, item); }
    void processEvents() override { ++events; }
    bool selectionBoxTicked(int item) override { return !clearedBoxes.contains(item); }
    // Stop is "pressed" once this many events have been let run.
    bool stopRequested() override { return stopAfterEvents >= 0 && events > stopAfterEvents; }
    void connectionLost(const QString& device) override { lost << device; }
    void notice(const QString& text) override { notices << text; }
    void readBackDiffers(int item, qint16 wrote, qint16 holds) override {
        mismatches << ReadBackMismatch{item, wrote, holds};
    }

    int stopAfterEvents = -1;
    QList<int> clearedBoxes; // boxes of the selection dialog left unticked

    int progress = -1;
    bool ended = false;
    int events = 0;
    QStringList items; // "n/m ADDR" of every progressItem
    QList<QPair<int, int>> errors;
    QStringList lost, notices;
    QList<ReadBackMismatch> mismatches;
};

} // namespace pmx::test
