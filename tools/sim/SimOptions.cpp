#include "SimOptions.h"

#include "TypedNames.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <climits>

namespace pmx::sim {

namespace {

bool parseItem(const QString& text, int* item) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 16);
    if (!ok || v < 0 || v >= kItemCount)
        return false;
    *item = v;
    return true;
}

// Decimal -32768..65535, or hexadecimal "0x1F"/"1Fh" up to FFFF; stored as 16 bits.
bool parseValue(QString text, std::int16_t* value) {
    text = text.trimmed();
    bool ok = false;
    long v = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = text.mid(2).toLong(&ok, 16);
    else if (text.endsWith(QLatin1Char('h'), Qt::CaseInsensitive))
        v = text.chopped(1).toLong(&ok, 16);
    else
        v = text.toLong(&ok, 10);
    if (!ok || v < -32768 || v > 65535)
        return false;
    *value = std::int16_t(std::uint16_t(v & 0xFFFF));
    return true;
}

QString decode(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;
    // Files written on a Japanese Windows machine are Shift_JIS.
    QStringDecoder sjis("Shift_JIS");
    if (sjis.isValid())
        return sjis.decode(bytes);
    return QString::fromLatin1(bytes);
}

// Sequential fields: blanks skipped; a quoted field runs to the next quote; any other
// field to the next comma or line end; the comma or line end after a field is consumed.
QStringList readFields(const QString& text) {
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && text[i] == QLatin1Char(' '))
            ++i;
        QString field;
        if (i < n && text[i] == QLatin1Char('"')) {
            const qsizetype close = text.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? n : close;
            field = text.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            while (i < n && text[i] != QLatin1Char(',') && text[i] != QLatin1Char('\r') &&
                   text[i] != QLatin1Char('\n'))
                ++i;
        } else {
            const qsizetype start = i;
            while (i < n && text[i] != QLatin1Char(',') && text[i] != QLatin1Char('\r') &&
                   text[i] != QLatin1Char('\n'))
                ++i;
            field = text.mid(start, i - start).trimmed();
        }
        if (i < n && text[i] == QLatin1Char(','))
            ++i;
        else if (i < n && text[i] == QLatin1Char('\r'))
            i += (i + 1 < n && text[i + 1] == QLatin1Char('\n')) ? 2 : 1;
        else if (i < n && text[i] == QLatin1Char('\n'))
            ++i;
        fields << field;
    }
    return fields;
}

// Milliseconds of a late answer: 0 to 60000.
bool parseDelay(const QString& text, int* ms) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 0 || v > 60000)
        return false;
    *ms = v;
    return true;
}

bool readFile(const QString& path, QByteArray* bytes, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    // Nothing sensible is that big; do not read a device or a huge file whole.
    *bytes = file.read(4 * 1024 * 1024);
    return true;
}

} // namespace

bool parseInstrumentList(const QString& text, std::vector<int>* instruments) {
    std::vector<int> out;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        bool okFirst = false, okLast = true;
        const int first = ends.value(0).toInt(&okFirst);
        const int last = ends.size() == 2 ? ends[1].toInt(&okLast) : first;
        if (!okFirst || !okLast || ends.size() > 2 || first < 0 || last > 95 || last < first)
            return false;
        for (int n = first; n <= last; ++n)
            if (std::find(out.begin(), out.end(), n) == out.end())
                out.push_back(n);
    }
    *instruments = out;
    return true;
}

bool parseFault(const QString& text, int* item, Fault* fault, QString* error) {
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0 || !parseItem(text.left(eq), item)) {
        *error = QStringLiteral("--fault %1: expected ITEM=KIND with ITEM 0000..007F").arg(text);
        return false;
    }
    const QString faultText = text.mid(eq + 1).trimmed().toLower();
    const QString kind = faultText.section(QLatin1Char(':'), 0, 0);
    const QString arg = faultText.section(QLatin1Char(':'), 1);
    Fault f;
    bool ok = true;
    if (kind == QLatin1String("nak")) {
        f.kind = FaultKind::Nak;
        if (!arg.isEmpty()) {
            f.code = arg.toInt(&ok, 16);
            ok = ok && f.code >= 0 && f.code <= 0xFF;
        }
    } else if (kind == QLatin1String("badsum")) {
        f.kind = FaultKind::BadSum;
        ok = arg.isEmpty();
    } else if (kind == QLatin1String("silent")) {
        f.kind = FaultKind::Silent;
        ok = arg.isEmpty();
    } else if (kind == QLatin1String("readonly")) {
        f.kind = FaultKind::ReadOnly;
        ok = arg.isEmpty();
    } else if (kind == QLatin1String("garbage")) {
        f.kind = FaultKind::Garbage;
        ok = arg.isEmpty();
    } else if (kind == QLatin1String("delay") || kind == QLatin1String("late")) {
        // "late" names what a client sees: the answer comes after its next request went out.
        f.kind = FaultKind::Delay;
        ok = parseDelay(arg, &f.delayMs);
    } else if (kind == QLatin1String("echo")) {
        f.kind = FaultKind::Echo;
        ok = !arg.isEmpty() && parseItem(arg, &f.echoItem);
    } else if (kind == QLatin1String("clamp")) {
        f.kind = FaultKind::Clamp;
        const QStringList range = arg.split(QLatin1Char(':'));
        bool okMax = false;
        if (range.size() == 2) {
            f.minValue = range[0].toInt(&ok);
            f.maxValue = range[1].toInt(&okMax);
        }
        ok = range.size() == 2 && ok && okMax && f.minValue >= -32768 && f.maxValue <= 32767 &&
             f.minValue <= f.maxValue;
    } else if (kind == QLatin1String("ignore")) {
        f.kind = FaultKind::Ignore;
        ok = arg.isEmpty();
    } else if (kind == QLatin1String("none")) {
        f.kind = FaultKind::None;
        ok = arg.isEmpty();
    } else {
        ok = false;
    }
    if (!ok) {
        *error = QStringLiteral("--fault %1: unknown or malformed fault (see --help)").arg(text);
        return false;
    }
    *fault = f;
    return true;
}

ParseResult parseArguments(const QStringList& args) {
    ParseResult result;
    Config& c = result.config;
    auto fail = [&](const QString& message) {
        result.error = message;
        return result;
    };
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption silent(QStringLiteral("silent"));
    const QCommandLineOption echo(QStringLiteral("echo"));
    parser.addOptions({help, version, silent, echo});
    // A name and, for the line's settings, the short name command lines of serial tools
    // give them (-a instrument, -b rate, -d data bits, -s stop bits, -P parity).
    const auto valued = [&parser](const char* name, const char* letter = nullptr) {
        QStringList names{QString::fromLatin1(name)};
        if (letter)
            names.prepend(QString::fromLatin1(letter));
        const QCommandLineOption o(names, QString(), QStringLiteral("value"));
        parser.addOption(o);
        return o;
    };
    const QCommandLineOption protocol = valued("protocol"), instrument = valued("instrument", "a"),
                             baud = valued("baud", "b"), dataBits = valued("data-bits", "d"),
                             stopBits = valued("stop-bits", "s"), parity = valued("parity", "P"),
                             bits = valued("bits"), values = valued("values"),
                             model = valued("model"), log = valued("log"), link = valued("link"),
                             delayAll = valued("delay-all"), hangupAfter = valued("hangup-after"),
                             hangupFor = valued("hangup-for"), fault = valued("fault"),
                             refuseSpan = valued("refuse-span"), maxCount = valued("max-count"),
                             tcp = valued("tcp"), listen = valued("listen"), line = valued("line"),
                             chaosSeed = valued("chaos-seed"),
                             chaosTimeout = valued("chaos-timeout"), dump = valued("dump"),
                             live = valued("live");
    // The parser skips the first word, the program's name.
    if (!parser.parse(QStringList{QStringLiteral("pmx31570a-sim")} + args)) {
        QString text = parser.errorText(); // "Unknown option 'x'."
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        if (!text.isEmpty())
            text[0] = text[0].toLower();
        // The option as it was typed: "'bogus'" was --bogus, "'x'" was -x.
        static const QRegularExpression named(QStringLiteral("'([^']+)'"));
        if (const QRegularExpressionMatch m = named.match(text); m.hasMatch())
            text.replace(m.capturedStart(1), m.capturedLength(1),
                         (m.capturedLength(1) == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                             m.captured(1));
        return fail(text + QStringLiteral(" (see --help)"));
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unknown argument %1 (see --help)")
                        .arg(parser.positionalArguments().first()));
    result.help = parser.isSet(help);
    result.version = parser.isSet(version);
    c.silent = parser.isSet(silent);
    // A whole number in [lo, hi] into *out, when the option is given.
    const auto whole = [&parser](const QCommandLineOption& o, int lo, int hi, int* out) {
        if (!parser.isSet(o))
            return true;
        bool ok = false;
        const int v = parser.value(o).toInt(&ok);
        if (ok && v >= lo && v <= hi)
            *out = v;
        return ok && v >= lo && v <= hi;
    };
    if (parser.isSet(protocol)) {
        // The short names, or the names the conditions store ("Modbus RTU"), in any case.
        const std::optional<ProtocolNumber> p = protocolFromTypedName(parser.value(protocol));
        if (!p)
            return fail(QStringLiteral("--protocol: korvan, ascii or rtu, not %1")
                            .arg(parser.value(protocol)));
        c.protocol = *p == kProtocolModbusAscii ? Protocol::ModbusAscii
                     : *p == kProtocolModbusRtu ? Protocol::ModbusRtu
                                                : Protocol::Korvan;
    }
    if (parser.isSet(instrument) && !parseInstrumentList(parser.value(instrument), &c.instruments))
        return fail(QStringLiteral("--instrument: a number 0 to 95, or a list such as 1,3,5-9"));
    if (!whole(baud, 50, 4000000, &c.baud))
        return fail(QStringLiteral("--baud: a rate from 50 to 4000000"));
    if (!whole(bits, 7, 12, &c.bitsPerChar))
        return fail(QStringLiteral("--bits: bits per character, 7 to 12"));
    if (parser.isSet(delayAll) && !parseDelay(parser.value(delayAll), &c.delayAllMs))
        return fail(QStringLiteral("--delay-all: milliseconds, 0 to 60000"));
    if (!whole(hangupAfter, 1, INT_MAX, &c.hangupAfter))
        return fail(QStringLiteral("--hangup-after: a number of requests, 1 or more"));
    if (!whole(hangupFor, 0, 3600000, &c.hangupForMs))
        return fail(QStringLiteral("--hangup-for: milliseconds, 0 to 3600000"));
    if (!whole(maxCount, 1, 125, &c.maxCount))
        return fail(QStringLiteral("--max-count: registers per read, 1 to 125"));
    for (const QString& list : parser.values(refuseSpan)) {
        for (const QString& text : list.split(QLatin1Char(','))) {
            int item = 0;
            if (!parseItem(text, &item))
                return fail(QStringLiteral("--refuse-span: items 0000 to 007F, not %1").arg(text));
            c.refuseSpans.push_back(item);
        }
    }
    c.echo = parser.isSet(echo);
    if (parser.isSet(chaosSeed)) {
        bool ok = false;
        c.chaosSeed = parser.value(chaosSeed).toULongLong(&ok);
        if (!ok)
            return fail(QStringLiteral("--chaos-seed: a whole number 0 to 18446744073709551615"));
        c.chaos = true;
    }
    if (!whole(chaosTimeout, 1, 60000, &c.chaosTimeoutMs))
        return fail(QStringLiteral("--chaos-timeout: milliseconds, 1 to 60000"));
    c.dumpFile = parser.value(dump);
    c.valuesFile = parser.value(values);
    c.modelFile = parser.value(model);
    c.logFile = parser.value(log);
    c.linkPath = parser.value(link);
    if (!whole(tcp, 0, 65535, &c.tcpPort))
        return fail(QStringLiteral("--tcp: a port number 0 to 65535"));
    if (parser.isSet(listen)) {
        if (c.tcpPort < 0)
            return fail(QStringLiteral("--listen needs --tcp"));
        c.tcpListen = parser.value(listen);
    }
    if (c.tcpPort >= 0 && !c.linkPath.isEmpty())
        return fail(QStringLiteral("--link needs a pty: not with --tcp"));
    if (QString error; parser.isSet(line) && !parseLine(parser.value(line), &c.line, &error))
        return fail(error);
    // -d, -s and -P set the fields of the line one by one, at the rate of --line or -b.
    if (parser.isSet(dataBits) || parser.isSet(stopBits) || parser.isSet(parity)) {
        if (!c.line.set && c.baud == 0)
            return fail(QStringLiteral("-d, -s and -P set the instrument's line at a rate: give "
                                       "-b RATE or --line RATE-DPS"));
        if (!c.line.set)
            c.line = LineConfig{true, c.baud, c.line.dataBits, c.line.parity, c.line.stopBits};
        const QString d = parser.value(dataBits), st = parser.value(stopBits);
        const QString p = parser.value(parity).toUpper();
        if (parser.isSet(dataBits) && d != QLatin1String("7") && d != QLatin1String("8"))
            return fail(QStringLiteral("--data-bits: 7 or 8, not %1").arg(d));
        if (parser.isSet(stopBits) && st != QLatin1String("1") && st != QLatin1String("2"))
            return fail(QStringLiteral("--stop-bits: 1 or 2, not %1").arg(st));
        static const QStringList parities{QStringLiteral("NONE"), QStringLiteral("EVEN"),
                                          QStringLiteral("ODD"),  QStringLiteral("N"),
                                          QStringLiteral("E"),    QStringLiteral("O")};
        if (parser.isSet(parity) && !parities.contains(p))
            return fail(
                QStringLiteral("--parity: none, even or odd, not %1").arg(parser.value(parity)));
        if (parser.isSet(dataBits))
            c.line.dataBits = d.toInt();
        if (parser.isSet(stopBits))
            c.line.stopBits = st.toInt();
        if (parser.isSet(parity))
            c.line.parity = p.at(0).toLatin1();
    }
    if (c.tcpPort >= 0 && c.line.set)
        return fail(QStringLiteral("--line needs a pty: a device server sets the line itself"));
    for (const QString& text : parser.values(fault)) {
        int item = 0;
        Fault f;
        QString error;
        if (!parseFault(text, &item, &f, &error))
            return fail(error);
        c.faults.emplace_back(item, f);
    }
    for (const QString& text : parser.values(live)) {
        LiveMotion m;
        QString error;
        if (!parseLiveMotion(text, &m, &error))
            return fail(error);
        c.live.push_back(m);
    }
    if (c.instruments.size() > 1 && !c.dumpFile.isEmpty() &&
        !c.dumpFile.contains(QLatin1String("%n")))
        return fail(QStringLiteral("--dump: with several instruments FILE must hold %n"));
    // Modbus station 0 is the broadcast address: no instrument can have it.
    if (c.instruments.empty())
        c.instruments = {c.protocol == Protocol::Korvan ? 0 : 1};
    else if (c.protocol != Protocol::Korvan &&
             std::find(c.instruments.begin(), c.instruments.end(), 0) != c.instruments.end())
        return fail(QStringLiteral("--instrument: 0 is the Modbus broadcast address; use 1 to 95 "
                                   "with ascii or rtu"));
    return result;
}

bool loadValues(const QByteArray& bytes, Instrument& instrument, QString* error) {
    QList<QByteArray> lines = bytes.split('\n');
    for (auto& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    while (!lines.isEmpty() && lines.back().trimmed().isEmpty())
        lines.removeLast();

    // A table file: 385 lines, the first a quoted model name, the last 128 the values.
    if (lines.size() == 385 && lines.front().trimmed().startsWith('"')) {
        for (int i = 0; i < kItemCount; ++i) {
            const QByteArray field = lines[257 + i].trimmed();
            bool ok = false;
            const int v = field.toInt(&ok);
            if (!ok || v < -32768 || v > 32767) {
                *error = QStringLiteral("line %1: not a value from -32768 to 32767").arg(258 + i);
                return false;
            }
            instrument.setValue(i, std::int16_t(v));
        }
        return true;
    }
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = QString::fromLatin1(lines[n]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        int item = 0;
        std::int16_t value = 0;
        if (eq < 0 || !parseItem(line.left(eq), &item) || !parseValue(line.mid(eq + 1), &value)) {
            *error = QStringLiteral("line %1: expected ITEM=VALUE (item 0000..007F)").arg(n + 1);
            return false;
        }
        instrument.setValue(item, value);
    }
    return true;
}

bool loadValues(const QString& path, Instrument& instrument, QString* error) {
    QByteArray bytes;
    if (!readFile(path, &bytes, error))
        return false;
    if (!loadValues(bytes, instrument, error)) {
        *error = path + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

bool loadItemNames(const QByteArray& bytes, QStringList* names, QString* error) {
    const QStringList fields = readFields(decode(bytes));
    if (fields.size() < 1 + kItemCount) {
        *error = QStringLiteral("a model definition file has a model name and 128 item names; "
                                "found %1 fields")
                     .arg(fields.size());
        return false;
    }
    const qsizetype first = fields.size() >= 1 + 2 * kItemCount ? 1 + kItemCount : 1;
    *names = fields.mid(first, kItemCount);
    return true;
}

bool loadItemNames(const QString& path, QStringList* names, QString* error) {
    QByteArray bytes;
    if (!readFile(path, &bytes, error))
        return false;
    if (!loadItemNames(bytes, names, error)) {
        *error = path + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

} // namespace pmx::sim
