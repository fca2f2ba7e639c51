#pragma once
// A scripted byte transport for exchange tests. It keeps a virtual clock: waiting costs
// no real time, and a test can tell exactly how long an exchange would have waited.

#include "comm/ByteTransport.h"

#include <QList>
#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

namespace pmx::test {

class ScriptedTransport : public ByteTransport {
  public:
    struct Chunk {
        int delayMs = 0; // after the previous chunk, or after the request for the first
        QByteArray bytes;
    };
    // The reaction to one written request.
    struct Reply {
        QList<Chunk> chunks;        // no chunks: silence
        bool vanishAfter = false;   // the device disappears after the last chunk
        bool vanishOnWrite = false; // the device disappears as the request is written

        static Reply silence() { return {}; }
        static Reply whole(const QByteArray& bytes, int delayMs = 1) {
            return {{{delayMs, bytes}}};
        }
        // The bytes in pieces of `size`, one piece every `gapMs`.
        static Reply pieces(const QByteArray& bytes, int size, int gapMs) {
            Reply r;
            for (qsizetype i = 0; i < bytes.size(); i += size)
                r.chunks << Chunk{gapMs, bytes.mid(i, size)};
            return r;
        }
    };

    // Replies in order, one per request; when they run out, `responder` answers, and
    // without one the line is silent.
    std::deque<Reply> replies;
    std::function<Reply(const QByteArray& request)> responder;

    // What the tests look at.
    QList<QByteArray> written;
    QList<qint64> writeTimes;
    LineSettings opened;
    int openCount = 0;

    // Open failure to simulate.
    OpenError failOpenWith = OpenError::None;
    QString failOpenText;

    // Bytes that arrive without a request, `delayMs` from now.
    void inject(int delayMs, const QByteArray& bytes) { schedule(m_clock + delayMs, bytes, false); }
    void vanishNow() {
        m_gone = true;
        m_open = false;
    }

    bool open(const LineSettings& s) override {
        ++openCount;
        if (failOpenWith != OpenError::None) {
            m_openError = failOpenWith;
            m_openErrorText = failOpenText;
            return false;
        }
        m_openError = OpenError::None;
        m_openErrorText.clear();
        opened = s;
        m_open = true;
        m_gone = false;
        m_pending.clear();
        return true;
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open && !m_gone; }
    void discardInput() override {
        std::erase_if(m_pending,
                      [this](const Pending& p) { return p.due <= m_clock && !p.vanish; });
    }
    bool write(const QByteArray& bytes, int) override {
        if (!isOpen())
            return false;
        Reply r;
        if (!replies.empty()) {
            r = replies.front();
            replies.pop_front();
        } else if (responder) {
            r = responder(bytes);
        }
        if (r.vanishOnWrite) {
            vanishNow();
            return false;
        }
        written << bytes;
        writeTimes << m_clock;
        qint64 t = m_clock;
        for (const Chunk& c : r.chunks) {
            t += c.delayMs;
            schedule(t, c.bytes, false);
        }
        if (r.vanishAfter)
            schedule(t, {}, true);
        return true;
    }
    QByteArray read(int waitMs) override {
        if (!isOpen())
            return {};
        const qint64 until = m_clock + std::max(waitMs, 0);
        if (!m_pending.empty() && m_pending.front().due <= until) {
            Pending p = m_pending.front();
            m_pending.erase(m_pending.begin());
            m_clock = std::max(m_clock, p.due);
            if (p.vanish) {
                vanishNow();
                return {};
            }
            return p.bytes;
        }
        m_clock = until;
        return {};
    }
    bool deviceGone() const override { return m_gone; }
    qint64 clockMs() const override { return m_clock; }

  private:
    struct Pending {
        qint64 due;
        QByteArray bytes;
        bool vanish;
    };
    void schedule(qint64 due, const QByteArray& bytes, bool vanish) {
        auto at = std::upper_bound(m_pending.begin(), m_pending.end(), due,
                                   [](qint64 d, const Pending& p) { return d < p.due; });
        m_pending.insert(at, Pending{due, bytes, vanish});
    }

    std::vector<Pending> m_pending;
    qint64 m_clock = 1000;
    bool m_open = false;
    bool m_gone = false;
};

} // namespace pmx::test
