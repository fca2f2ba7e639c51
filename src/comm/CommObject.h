#pragma once
#include "comm/Codec.h"
#include "comm/Conditions.h"
#include "comm/Exchange.h"
#include "comm/ExchangeRecord.h"
#include "comm/LineNotes.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace pmx {

// Why the last openPort failed, so the program can say which.
enum class OpenError { None, NotFound, Busy, PermissionDenied, BadSettings, Other };

// The communication object: one per run, owned by the main window or the command line.
// The order of calls the program makes:
//   run loop start: activate(true)
//   applying conditions (applyConditions): closePort, setConditions, openPort
//   every command (sendItemCommand): resetExchange, dropStaleInput, sendCommand; then,
//   after a good read, extractData
// The codec of the protocol in effect is chosen with the conditions.
// No operation throws: failures are values (false, empty text).
class CommObject {
  public:
    virtual ~CommObject() = default;

    virtual void activate(bool on) = 0;
    virtual bool openPort() = 0;
    virtual void closePort() = 0;
    // Forgets what is known of the previous exchange.
    virtual void resetExchange() = 0;
    // Drops input that arrived outside an exchange.
    virtual void dropStaleInput() = 0;

    // Sends one request, framed by the codec in effect, and says how the exchange ended:
    // the result is made here once, with the response text of the framing contract.
    virtual ExchangeResult sendCommand(const Request& request) = 0;
    // The data field of a good read response (n = 1): four hex digits, or empty.
    virtual QByteArray extractData(const QByteArray& text, qint32 n) const = 0;

    // The conditions the next openPort and every exchange use.
    const Conditions& conditions() const { return m_conditions; }
    void setConditions(const Conditions& conditions) {
        m_conditions = conditions;
        m_codec = codecFor(conditions.protocol);
    }
    // The codec of the conditions' protocol; nullptr for a protocol the program does not
    // speak (nothing is sent then).
    const Codec* codec() const { return m_codec; }

    // Reason and device of the last openPort failure (empty when it succeeded).
    OpenError lastOpenError() const { return m_openError; }
    QString lastOpenErrorText() const { return m_openErrorText; }
    QString lastDevice() const { return m_device; }

    // True once the open device went away (hang-up, I/O or resource error): the port is
    // closed then, and stays so until openPort. lostDevice() names the device.
    bool deviceLost() const { return m_lost; }
    QString lostDevice() const { return m_lostDevice; }
    // Called once per loss when it is noticed outside an exchange (the program idle).
    void setLostHandler(std::function<void()> handler) { m_lostHandler = std::move(handler); }

    // What block reads learned of the instrument on this port: the largest count it
    // accepted and the smallest it refused. Kept while the port stays open, so a refusing
    // instrument costs the split once per session; forgotten by openPort.
    struct BlockMemory {
        int largestAccepted = 1;
        int smallestRefused = 126; // above what one function-03 request may ask
    };
    BlockMemory& blockMemory() { return m_blockMemory; }

    // What the line has shown of itself: that it sends every request back as it goes out
    // (a two-wire adapter), and how late the latest answer that came after its time-out on
    // this port opening was, in milliseconds (-1: none came late).
    bool lineEchoes() const { return m_lineEchoes; }
    int lateAnswerMs() const { return m_lateMs; }
    // The operator's text about late answers, once per port opening: empty when none came
    // late, or when it was taken already.
    QString takeLateAnswerNotice() {
        if (m_lateMs < 0 || m_lateTold)
            return {};
        m_lateTold = true;
        return lateAnswersText(m_lateMs);
    }
    // Everyone told of each exchange as it ends (the monitor window, the trace). The
    // observers are not owned; remove one before it goes away.
    void addExchangeObserver(ExchangeObserver* observer) { m_observers.push_back(observer); }
    void removeExchangeObserver(ExchangeObserver* observer) { std::erase(m_observers, observer); }
    // Verify after writing read `item` back in the exchange just made and found `holds`
    // where `wrote` was written: the observers mark that exchange as a mismatch.
    void reportReadBackDiffers(int item, qint16 wrote, qint16 holds) {
        for (ExchangeObserver* o : m_observers)
            o->readBackDiffers(item, wrote, holds);
    }

  protected:
    // The result of an exchange known only by its response text (an object without a line
    // of its own): judged by the codec in effect, as the line's answer would be.
    ExchangeResult resultOfText(const Request& request, const QByteArray& text) const {
        ExchangeResult result;
        result.text = text;
        result.received = text;
        if (m_lost)
            result.outcome = ExchangeOutcome::DeviceLost;
        else if (m_codec)
            result.outcome = m_codec->judge(text, request.command, &result.refusalCode);
        return result;
    }

    std::vector<ExchangeObserver*> m_observers;
    Conditions m_conditions;
    const Codec* m_codec = codecFor(Conditions().protocol);
    OpenError m_openError = OpenError::None;
    QString m_openErrorText;
    QString m_device;
    bool m_lost = false;
    QString m_lostDevice;
    std::function<void()> m_lostHandler;
    BlockMemory m_blockMemory;
    bool m_lineEchoes = false;
    int m_lateMs = -1;
    bool m_lateTold = false;
};

} // namespace pmx
