#pragma once
#include <QByteArray>
#include <QList>
#include <optional>

namespace pmx::framing {

// How a well-formed frame from our instrument stands to the requests on the line.
enum class Verdict {
    Answer,    // the answer to the request in hand: no other unsettled request could have sent it
    Stale,     // an answer to an earlier request, and to no attempt of the one in hand
    Ambiguous, // the request in hand's, or an earlier request's that asked the same: not taken
    Malformed, // an answer to no request on the line (a wrong byte count, register or item)
};

// The requests on one line that went out and are not known to be settled, oldest first,
// and what the line has shown of itself (whether it echoes what is sent).
//
// The rule: an instrument handles one request at a time and answers in the order it got
// them, each at most once. An answer that only one request on the line could have drawn
// (a KORVAN answer names command type and item, a Modbus 06 answer register and value, a
// Modbus 03 answer its byte count, an exception only its function) therefore settles that
// request and every earlier one: their answers came and were dropped, or never will. An
// answer that several requests could have drawn settles the earliest of them and everything
// before it, and is taken for none. Nothing is ever settled by time: a request stays on the
// ledger, however long ago it went out, until an answer settles it, the line is opened
// anew on other settings, or kMaxEntries later requests went out unanswered.
class AnswerLedger {
  public:
    enum class Echo { Unknown, No, Yes };

    struct Entry {
        qint16 protocol = 0;
        quint64 request = 0; // one id per request content: its attempts share it
        qint64 sentNs = 0;   // when its last byte left the port
        char address = 0;    // KORVAN address character, Modbus station byte
        quint8 function = 0; // Modbus function code; KORVAN command type character
        int count = 0;       // Modbus 03: registers asked for
        QByteArray key;      // KORVAN: command type and item; Modbus 06: the whole message
    };

    struct Judgement {
        Verdict verdict = Verdict::Malformed;
        // Stale, when only one request could have drawn the frame: when that request went
        // out (how late its answer is follows from it); -1 otherwise.
        qint64 sentNs = -1;
        quint64 request = 0; // Answer, or Stale with one candidate: that request's id
    };

    // Forgets the requests (not what the line showed of itself).
    void clear();
    // The most requests kept (a silent line all day long must not grow it without end).
    static constexpr qsizetype kMaxEntries = 4096;
    bool isEmpty() const { return m_entries.isEmpty(); }
    qsizetype size() const { return m_entries.size(); }
    const QList<Entry>& entries() const { return m_entries; }

    // One attempt of a request went out: its frame as built by buildRequest.
    void sent(qint16 protocol, const QByteArray& frame, quint64 request, qint64 sentNs);

    // A well-formed frame with our address, its checksum right: KORVAN the frame as
    // received (lead character .. BCC), Modbus the message (address, function, data,
    // without checksum). `current` names the request in hand (0: none, between exchanges).
    // Settles what the frame proves settled.
    Judgement judge(qint16 protocol, const QByteArray& frame, quint64 current);
    // The same judgement without settling anything.
    Verdict peek(qint16 protocol, const QByteArray& frame, quint64 current) const;
    // Settles the earliest attempt of `request` and everything before it (its answer is
    // known to have come by other means).
    void settleThrough(quint64 request);
    // Whether an answer that only `request` could have drawn came (among the latest few).
    bool answered(quint64 request) const { return m_answered.contains(request); }

    // Modbus function 03: whether an unsettled read to `station` asked for `count`
    // registers, so that an answer of that count would not be provably ours.
    bool readCountUnsettled(char station, int count) const;

    // A window of registers that holds those a function-03 request asks for, with a count
    // no unsettled read used, so that its answer can be proven: start, count, and where the
    // asked registers begin in it. Counts above `maxCount` and registers at or above
    // `registerEnd` are not asked. nullopt when the request's count is not in use (no
    // window is needed) or no count is free.
    struct Window {
        int start = 0;
        int count = 0;
        int offset = 0; // of the asked registers within the window
    };
    std::optional<Window> provableWindow(char station, int start, int count, int maxCount,
                                         int registerEnd) const;

    // Whether the line sends our requests back to us as they go out, as many two-wire
    // adapters do: learned from what the line shows (see ResponseAssembler).
    Echo echo = Echo::Unknown;

  private:
    // The entries a frame could answer; `layoutOk` false when the frame is no answer at
    // all (its own byte count disagrees with its length, a KORVAN acknowledgement of the
    // wrong length).
    QList<qsizetype> candidates(qint16 protocol, const QByteArray& frame, bool* layoutOk) const;
    Verdict verdictFor(const QList<qsizetype>& matches, quint64 current, qsizetype* settleTo) const;

    QList<Entry> m_entries;
    QList<quint64> m_answered; // requests whose own answer came, the latest last
};

} // namespace pmx::framing
