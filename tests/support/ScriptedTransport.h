#pragma once
// A scripted byte transport for exchange tests. It keeps a virtual clock: waiting costs
// no real time, and a test can tell exactly how long an exchange would have waited.

#include "comm/ByteTransport.h"

#include <QList>
#include <deque>
#include <functional>
#include <map>
#include <optional>

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

    // A line behind a device server (no RTU silence is kept).
    bool network = false;
    bool isNetwork() const override { return network; }

    // Open failure to simulate.
    OpenError failOpenWith = OpenError::None;
    QString failOpenText;

    // Bytes that arrive without a request, `delayMs` from now.
    void inject(int delayMs, const QByteArray& bytes) {
        m_pending.emplace(m_clock + delayMs, bytes);
    }

    bool open(const LineSettings& s) override {
        m_openError = failOpenWith;
        m_openErrorText = failOpenWith == OpenError::None ? QString() : failOpenText;
        if (failOpenWith != OpenError::None)
            return false;
        opened = s;
        m_open = true;
        m_gone = false;
        m_pending.clear();
        return true;
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open && !m_gone; }
    void discardInput() override {
        std::erase_if(m_pending, [this](const auto& p) { return p.first <= m_clock && p.second; });
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
            m_gone = true;
            return false;
        }
        written << bytes;
        writeTimes << m_clock;
        qint64 t = m_clock;
        for (const Chunk& c : r.chunks)
            m_pending.emplace(t += c.delayMs, c.bytes);
        if (r.vanishAfter)
            m_pending.emplace(t, std::nullopt);
        return true;
    }
    QByteArray read(int waitMs) override {
        if (!isOpen())
            return {};
        const qint64 until = m_clock + std::max(waitMs, 0);
        if (m_pending.empty() || m_pending.begin()->first > until) {
            m_clock = until;
            return {};
        }
        const auto [due, bytes] = *m_pending.begin();
        m_pending.erase(m_pending.begin());
        m_clock = std::max(m_clock, due);
        m_gone = !bytes;
        return bytes.value_or(QByteArray());
    }
    bool deviceGone() const override { return m_gone; }
    qint64 clockMs() const override { return m_clock; }

  private:
    // Arrival time -> bytes, in order of arrival; nullopt: the device vanishes then.
    std::multimap<qint64, std::optional<QByteArray>> m_pending;
    qint64 m_clock = 1000;
    bool m_open = false;
    bool m_gone = false;
};

} // namespace pmx::test
