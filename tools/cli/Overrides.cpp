#include "Overrides.h"

#include "TypedNames.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "text/StringTable.h"

#include <algorithm>

namespace pmx::cli {

namespace {

QString quoted(const QString& entry) {
    return entry.contains(QLatin1Char(' ')) ? QLatin1Char('"') + entry + QLatin1Char('"') : entry;
}

// "7 bit" -> "7".
QStringList leadingWords(const QStringList& entries) {
    QStringList out;
    for (const QString& e : entries)
        out << e.section(QLatin1Char(' '), 0, 0);
    return out;
}

QString key(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

} // namespace

const Choices& choices() {
    static const Choices c = [] {
        const QStringList devices = cond::deviceEntries();
        const QStringList timeouts = cond::timeoutEntries();
        return Choices{cond::protocolEntries(),
                       cond::rateEntries(),
                       leadingWords(cond::dataBitEntries()),
                       leadingWords(cond::stopBitEntries()),
                       cond::parityEntries(),
                       devices.first().toInt(),
                       devices.last().toInt(),
                       timeouts.first().toInt(),
                       timeouts.last().toInt()};
    }();
    return c;
}

QString oneOf(const QStringList& entries) {
    QStringList q;
    for (const QString& e : entries)
        q << quoted(e);
    if (strings::language() == strings::Lang::Japanese)
        return q.join(QStringLiteral("\u3001"));
    const QString last = q.takeLast();
    return q.isEmpty() ? last : q.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString alternatives(const QStringList& entries) {
    QStringList q;
    for (const QString& e : entries)
        q << quoted(e);
    return q.join(QLatin1Char('|'));
}

QString OverlayStore::value(const QString& section, const QString& k,
                            const QString& fallback) const {
    const auto it = m_values.constFind(key(section, k));
    if (it != m_values.constEnd())
        return *it;
    return m_removed.contains(key(section, k)) ? fallback : m_base.value(section, k, fallback);
}

void OverlayStore::setValue(const QString& section, const QString& k, const QString& text) {
    m_removed.remove(key(section, k));
    m_values.insert(key(section, k), text);
}

bool OverlayStore::contains(const QString& section, const QString& k) const {
    return m_values.contains(key(section, k)) ||
           (!m_removed.contains(key(section, k)) && m_base.contains(section, k));
}

void OverlayStore::remove(const QString& section, const QString& k) {
    m_values.remove(key(section, k));
    m_removed.insert(key(section, k));
}

bool applyOverrides(const Args& args, OverlayStore& store, QString* error) {
    const Choices& c = choices();
    const auto set = [&store](const QString& k, const QString& text) {
        store.setValue(cond::kSection, k, text);
    };
    const auto fail = [error](TextId id, const char* option, auto... values) {
        *error = strings::text(id).arg(QStringLiteral("--") + QLatin1String(option), values...);
        return false;
    };
    // The entry of `entries` that `text` names, compared as `cs` says; empty for none.
    const auto pick = [](const QStringList& entries, const QString& text, Qt::CaseSensitivity cs) {
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&](const QString& e) { return e.compare(text, cs) == 0; });
        return it == entries.end() ? QString() : *it;
    };
    if (args.has("protocol")) {
        const std::optional<ProtocolNumber> p = protocolFromTypedName(args.value("protocol"));
        if (!p)
            return fail(TextId::CliMustBe, "protocol", oneOf(protocolShortNames()));
        set(cond::kProtocol, cond::toTexts({.protocol = *p}).protocol);
    }
    if (args.has("instrument")) {
        bool ok = false;
        const int n = args.value("instrument").toInt(&ok);
        if (!ok || n < c.firstInstrument || n > c.lastInstrument)
            return fail(TextId::CliMustBeRange, "instrument", QString::number(c.firstInstrument),
                        QString::number(c.lastInstrument));
        set(cond::kDevNo, QString::number(n));
    }
    if (args.has("rate")) {
        const QString r = pick(c.rates, args.value("rate"), Qt::CaseSensitive);
        if (r.isEmpty())
            return fail(TextId::CliMustBe, "rate", oneOf(c.rates));
        set(cond::kSpeed, r);
    }
    // The stored texts of the bit counts are the dialog's entries ("7 bit").
    if (args.has("data-bits")) {
        const qsizetype at = c.dataBits.indexOf(args.value("data-bits"));
        if (at < 0)
            return fail(TextId::CliMustBe, "data-bits", oneOf(c.dataBits));
        set(cond::kDatabit, cond::dataBitEntries().at(at));
    }
    if (args.has("stop-bits")) {
        const qsizetype at = c.stopBits.indexOf(args.value("stop-bits"));
        if (at < 0)
            return fail(TextId::CliMustBe, "stop-bits", oneOf(c.stopBits));
        set(cond::kStopbit, cond::stopBitEntries().at(at));
    }
    if (args.has("parity")) {
        const QString p = pick(c.parities, args.value("parity"), Qt::CaseInsensitive);
        if (p.isEmpty())
            return fail(TextId::CliMustBe, "parity", oneOf(c.parities));
        set(cond::kParityKey, p);
    }
    if (args.has("timeout")) {
        bool ok = false;
        const int t = args.value("timeout").toInt(&ok);
        if (!ok || t < c.minTimeoutMs || t > c.maxTimeoutMs)
            return fail(TextId::CliMustBeRangeMs, "timeout", QString::number(c.minTimeoutMs),
                        QString::number(c.maxTimeoutMs));
        set(cond::kTimeoutKey, QString::number(t));
    }
    // Block reads are the program's own options, beside the record.
    const auto setOption = [&store](const QString& k, const QString& text) {
        store.setValue(cond::kOptionsSection, k, text);
    };
    if (args.has("block-read"))
        setOption(cond::kBlockRead, QStringLiteral("1"));
    if (args.has("block-max")) {
        bool ok = false;
        const int n = args.value("block-max").toInt(&ok);
        if (!ok || n < cond::kBlockMaxSmallest || n > cond::kBlockMaxLargest)
            return fail(TextId::CliMustBeRange, "block-max",
                        QString::number(cond::kBlockMaxSmallest),
                        QString::number(cond::kBlockMaxLargest));
        setOption(cond::kBlockMax, QString::number(n));
    }
    const QString port = args.value("port");
    if (!port.isEmpty()) {
        if (PortMap::comNumber(port.toUpper())) {
            set(cond::kPort, port.toUpper());
        } else {
            set(cond::kPort, QStringLiteral("COM1"));
            store.setValue(PortMap::kSection, QStringLiteral("COM1"), port);
        }
    }
    return true;
}

} // namespace pmx::cli
