#include "model/InstrumentProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include "model/AppPaths.h"
#include "model/ModelDefinition.h"
#include "text/SystemReason.h"

namespace pmx {

namespace {

// A unit is a few characters ("°C", "ms"); a note one sentence. Longer texts are refused
// rather than cut: they would not fit the pad or a tool tip.
constexpr qsizetype kMaxUnit = 16;
constexpr qsizetype kMaxNote = 300;

using strings::Lang;

bool hasControl(const QString& s) {
    for (QChar c : s)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    return false;
}

// A decimal whole number in -32768..32767; "+5", "5.0", "0x10" and blanks inside are not.
std::optional<qint16> readNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 6)
        return std::nullopt;
    qsizetype k = text.startsWith(u'-') ? 1 : 0;
    if (k == text.size())
        return std::nullopt;
    for (; k < text.size(); ++k)
        if (text.at(k) < u'0' || text.at(k) > u'9')
            return std::nullopt;
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < -32768 || v > 32767)
        return std::nullopt;
    return qint16(v);
}

struct Parser {
    ProfileLoadResult result;
    InstrumentProfile profile;
    std::array<bool, kItemCount> seen{};
    int item = -1; // the section in force
    QStringList keysSeen;
    int minLine = 0;
    int maxLine = 0;
    int sectionLine = 0;

    bool fail(ProfileProblem problem, int line, const QString& detail = {}) {
        result.problem = problem;
        result.line = line;
        result.detail = detail;
        return false;
    }

    // The checks that need the whole section: a range that is not empty.
    bool closeSection() {
        if (item < 0)
            return true;
        const ItemProfile& p = profile.items[item];
        if (p.min && p.max && *p.min > *p.max)
            return fail(ProfileProblem::MinAboveMax, std::max(minLine, maxLine),
                        QString::number(*p.min) + QLatin1Char(' ') + QString::number(*p.max));
        return true;
    }

    bool section(const QString& line, int n) {
        if (!closeSection())
            return false;
        const QString name = line.mid(1, line.size() - 2).trimmed();
        bool ok = name.size() == 4;
        for (QChar c : name)
            ok = ok &&
                 ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f'));
        const int i = ok ? name.toInt(nullptr, 16) : -1;
        if (i < 0 || i >= kItemCount)
            return fail(ProfileProblem::BadSection, n, name);
        if (seen[i])
            return fail(ProfileProblem::SectionTwice, n, itemAddressText(i));
        seen[i] = true;
        item = i;
        keysSeen.clear();
        minLine = maxLine = 0;
        sectionLine = n;
        return true;
    }

    bool keyValue(const QString& line, int n) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            return fail(ProfileProblem::NotKeyValue, n);
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (item < 0)
            return fail(ProfileProblem::KeyOutsideSection, n, key);
        static const QStringList known = {QStringLiteral("unit"), QStringLiteral("min"),
                                          QStringLiteral("max"),  QStringLiteral("kind"),
                                          QStringLiteral("note"), QStringLiteral("note.ja")};
        if (!known.contains(key))
            return fail(ProfileProblem::UnknownKey, n, key);
        if (keysSeen.contains(key))
            return fail(ProfileProblem::KeyTwice, n, key);
        keysSeen << key;
        ItemProfile& p = profile.items[item];
        if (key == QLatin1String("min") || key == QLatin1String("max")) {
            const std::optional<qint16> v = readNumber(value);
            if (!v)
                return fail(ProfileProblem::BadNumber, n, value);
            (key == QLatin1String("min") ? p.min : p.max) = v;
            (key == QLatin1String("min") ? minLine : maxLine) = n;
        } else if (key == QLatin1String("kind")) {
            if (value == QLatin1String("setting"))
                p.kind = ItemKind::Setting;
            else if (value == QLatin1String("live"))
                p.kind = ItemKind::Live;
            else if (value == QLatin1String("readonly"))
                p.kind = ItemKind::Readonly;
            else
                return fail(ProfileProblem::BadKind, n, value);
        } else {
            const bool isUnit = key == QLatin1String("unit");
            if (value.size() > (isUnit ? kMaxUnit : kMaxNote) || hasControl(value))
                return fail(ProfileProblem::TextTooLong, n, key);
            (isUnit ? p.unit : key == QLatin1String("note") ? p.note : p.noteJa) = value;
        }
        return true;
    }

    bool run(const QString& text) {
        const QStringList lines = text.split(u'\n');
        for (qsizetype k = 0; k < lines.size(); ++k) {
            const int n = int(k) + 1;
            QString line = lines[k];
            if (line.endsWith(u'\r'))
                line.chop(1);
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
                continue;
            const bool ok = line.startsWith(u'[')
                                ? (line.endsWith(u']') ? section(line, n)
                                                       : fail(ProfileProblem::BadSection, n, line))
                                : keyValue(line, n);
            if (!ok)
                return false;
        }
        return closeSection();
    }
};

} // namespace

QString InstrumentProfile::note(int i, Lang lang) const {
    if (!inRange(i))
        return {};
    const ItemProfile& p = items[i];
    return lang == Lang::Japanese && !p.noteJa.isEmpty() ? p.noteJa : p.note;
}

bool InstrumentProfile::inItemRange(int i, qint64 value) const {
    if (!inRange(i))
        return true;
    const ItemProfile& p = items[i];
    return (!p.min || value >= *p.min) && (!p.max || value <= *p.max);
}

QString InstrumentProfile::rangeText(int i, Lang lang) const {
    if (!inRange(i))
        return {};
    const ItemProfile& p = items[i];
    QString range;
    if (p.min && p.max)
        range = strings::text(TextId::ProfileRangeBoth, lang).arg(*p.min).arg(*p.max);
    else if (p.min)
        range = strings::text(TextId::ProfileRangeFrom, lang).arg(*p.min);
    else if (p.max)
        range = strings::text(TextId::ProfileRangeUpTo, lang).arg(*p.max);
    if (p.unit.isEmpty())
        return range;
    return range.isEmpty() ? p.unit : range + QLatin1Char(' ') + p.unit;
}

QString InstrumentProfile::refusal(int i, qint64 value, Lang lang) const {
    if (inItemRange(i, value))
        return {};
    const ItemProfile& p = items[i];
    const bool below = p.min && value < *p.min;
    QString bound = QString::number(below ? *p.min : *p.max);
    if (!p.unit.isEmpty())
        bound += QLatin1Char(' ') + p.unit;
    return strings::text(below ? TextId::PadBelowMin : TextId::PadAboveMax, lang).arg(bound);
}

int InstrumentProfile::count(ItemKind kind) const {
    return int(std::count_if(items.begin(), items.end(),
                             [kind](const ItemProfile& p) { return p.kind == kind; }));
}

QString ProfileLoadResult::errorText(Lang lang) const {
    QString why;
    switch (problem) {
    case ProfileProblem::None:
        return {};
    case ProfileProblem::CannotOpen:
        return detail;
    case ProfileProblem::TooLarge:
        why = strings::text(TextId::ProfileTooLarge, lang).arg(kProfileMaxBytes / 1024);
        break;
    case ProfileProblem::NotUtf8:
        why = strings::text(TextId::ProfileNotUtf8, lang);
        break;
    case ProfileProblem::NotKeyValue:
        why = strings::text(TextId::ProfileNotKeyValue, lang);
        break;
    case ProfileProblem::KeyOutsideSection:
        why = strings::text(TextId::ProfileKeyOutsideSection, lang).arg(detail);
        break;
    case ProfileProblem::BadSection:
        why = strings::text(TextId::ProfileBadSection, lang).arg(detail);
        break;
    case ProfileProblem::SectionTwice:
        why = strings::text(TextId::ProfileSectionTwice, lang).arg(detail);
        break;
    case ProfileProblem::UnknownKey:
        why = strings::text(TextId::ProfileUnknownKey, lang).arg(detail);
        break;
    case ProfileProblem::KeyTwice:
        why = strings::text(TextId::ProfileKeyTwice, lang).arg(detail);
        break;
    case ProfileProblem::BadNumber:
        why = strings::text(TextId::ProfileBadNumber, lang).arg(detail);
        break;
    case ProfileProblem::MinAboveMax: {
        const QStringList mm = detail.split(u' ');
        why = strings::text(TextId::ProfileMinAboveMax, lang).arg(mm.value(0), mm.value(1));
        break;
    }
    case ProfileProblem::BadKind:
        why = strings::text(TextId::ProfileBadKind, lang).arg(detail);
        break;
    case ProfileProblem::TextTooLong:
        why = strings::text(TextId::ProfileBadText, lang)
                  .arg(detail)
                  .arg(detail == QLatin1String("unit") ? kMaxUnit : kMaxNote);
        break;
    }
    return line > 0 ? strings::text(TextId::ProfileAtLine, lang).arg(line).arg(why) : why;
}

ProfileLoadResult parseProfile(const QByteArray& bytes) {
    Parser parser;
    if (bytes.size() > kProfileMaxBytes) {
        parser.fail(ProfileProblem::TooLarge, 0);
        return parser.result;
    }
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body);
    if (decoder.hasError() || text.contains(QChar(0))) {
        // The line of the first byte that is not UTF-8, found by decoding line by line.
        int n = 1;
        for (const QByteArray& line : body.split('\n')) {
            QStringDecoder one(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = one.decode(line);
            if (one.hasError() || decoded.contains(QChar(0)))
                break;
            ++n;
        }
        parser.fail(ProfileProblem::NotUtf8, n);
        return parser.result;
    }
    if (parser.run(text))
        parser.result.profile = parser.profile;
    return parser.result;
}

ProfileLoadResult loadProfile(const QString& path) {
    QFile file(path);
    ProfileLoadResult result;
    const QFileInfo info(path);
    // Only regular files: a pipe or a device named by mistake could block the read forever.
    const bool special = info.exists() && !info.isFile();
    if (special || !file.open(QIODevice::ReadOnly)) {
        result.problem = ProfileProblem::CannotOpen;
        result.detail = info.isDir() ? errnoReason(EISDIR, strings::language())
                        : special    ? strings::text(TextId::ProfileNotAFile)
                                     : systemReason(file.errorString());
        result.path = path;
        return result;
    }
    // One byte more than allowed tells a file that is too large without reading it all.
    result = parseProfile(file.read(kProfileMaxBytes + 1));
    result.path = path;
    if (result.profile)
        result.profile->path = path;
    return result;
}

QStringList profileCandidates(const QString& modelDefinitionPath, const QString& modelName,
                              const QStringList& folders) {
    QStringList out;
    if (!modelDefinitionPath.isEmpty()) {
        const QFileInfo def(modelDefinitionPath);
        out << def.dir().filePath(def.completeBaseName() + QStringLiteral(".profile"));
    }
    const QString name = modelName.trimmed();
    const bool fileName = !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') &&
                          !name.contains(u'\\') && !name.contains(u':') && !hasControl(name);
    if (fileName)
        for (const QString& folder : folders)
            out << QDir(folder).filePath(name + QStringLiteral(".profile"));
    return out;
}

QStringList profileFolders() {
    QStringList folders{QDir(applicationDirectory()).filePath(QStringLiteral("profiles"))};
    const QString models = installedModelsFolder();
    if (!models.isEmpty())
        folders << models;
    return folders;
}

QString findProfile(const QString& modelDefinitionPath, const QString& modelName) {
    const QStringList folders = profileFolders();
    for (const QString& path : profileCandidates(modelDefinitionPath, modelName, folders))
        if (QFileInfo(path).isFile())
            return path;
    if (modelName.isEmpty())
        return {};
    // A profile shipped beside a model definition of that model name, under the file's
    // own base name (the package's models folder).
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& txt : dir.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
            const QString profile =
                dir.filePath(QFileInfo(txt).completeBaseName() + QStringLiteral(".profile"));
            if (!QFileInfo(profile).isFile())
                continue;
            ItemTable names;
            if (loadModelDefinition(dir.filePath(txt), false, names).ok &&
                names.modelName == modelName)
                return profile;
        }
    }
    return {};
}

} // namespace pmx
