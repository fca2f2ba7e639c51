#pragma once
#include "comm/CommObject.h"
#include "comm/ExchangeRecord.h"
#include "model/ItemTable.h"
#include "transfer/FinderPlan.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace pmx {

class PortMap;
class SettingsStore;

// What one try came to.
enum class ProbeOutcome {
    Answered,   // a good answer from the instrument tried: the settings are right
    Refused,    // its NAK or Modbus exception: the settings are right all the same
    Garbled,    // a frame that could not be read (checksum, layout, KORVAN ESC)
    Noise,      // bytes that formed no frame of ours
    Silent,     // nothing at all
    PortFailed, // the device did not open
    DeviceLost, // the device went away during the try
};

// How an exchange of a try ended, as a statement about the settings it was made with.
ProbeOutcome classifyProbe(const ExchangeRecord& record);
inline bool provesSettings(ProbeOutcome outcome) {
    return outcome == ProbeOutcome::Answered || outcome == ProbeOutcome::Refused;
}

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::Silent;
    std::optional<qint16> value; // item 0000h, after a good answer
    QString refusalCode;         // two hex digits, after a refusal
    QString why;                 // PortFailed, DeviceLost: the reason
    bool echoes = false;         // the probe came back as it was sent: the line echoes
};

// One try through the communication object, as every command goes: the port is closed,
// set to the try's protocol, line settings, device and a probe time-out (see
// probeTimeoutMs), opened, item 0000h is read once from the try's instrument (never
// repeated), and the port is closed again.
ProbeResult probeInstrument(CommObject& com, const ProbeTarget& target, int answerWaitMs);

// An instrument that answered.
struct FoundInstrument {
    ProbeTarget target;
    ProbeResult result;
    // The item table's model name when the instrument read item 0000h and the table
    // defines it; empty otherwise.
    QString modelName;
};
// "good (0000h = -1)", "NAK 01", "exception 02", in the run's language.
QString answerText(const ProbeResult& result);

// What the search needs of the window (or of the command line).
class FinderView {
  public:
    virtual ~FinderView() = default;
    // Before each try: the n-th of the m tries planned now, and what it tries.
    virtual void tryStarting(int n, int m, const ProbeTarget& target) = 0;
    virtual void found(const FoundInstrument& instrument) = 0;
    // A device that could not be opened, or went away: nothing more is tried on it.
    virtual void portSkipped(const QString& port, const QString& why) {
        Q_UNUSED(port);
        Q_UNUSED(why);
    }
    // A probe on `port` came back as it was sent: the line there echoes (once per port).
    virtual void lineEchoes(const QString& port) { Q_UNUSED(port); }
    virtual void processEvents() = 0;
    // Cancel: the search stops before its next try.
    virtual bool stopRequested() = 0;
};

struct FinderResult {
    QList<FoundInstrument> found;
    QStringList failedPorts;  // devices that could not be opened or went away
    QStringList echoingPorts; // devices whose line sent the probes back
    bool cancelled = false;
    int tries = 0;
};

// Runs the plan to its end, to a cancel, or (stopAtFirst) to the first instrument found,
// letting events run before every try. Afterwards the port is closed and the
// communication object holds the conditions it had before; the caller applies the
// conditions in effect again.
FinderResult runFinder(CommObject& com, FinderPlan& plan, FinderView& view,
                       const ItemTable* table = nullptr);

// "Use these settings": stores what was found as the condition dialog's OK stores the
// record, keeping the stored time-out. The stored port stays a COMn: the COMn in effect
// (COM1 when the stored port is no valid COMn) is mapped to the device found, unless
// the device is itself a COMn. Returns the COMn stored.
QString storeFoundSettings(SettingsStore& store, PortMap& ports, const ProbeTarget& target);

} // namespace pmx
