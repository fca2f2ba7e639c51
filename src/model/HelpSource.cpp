#include "model/HelpSource.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace pmx::help {

QString helpFilePath(const QString& appDir, strings::Lang lang) {
    return appDir + (lang == strings::Lang::Japanese ? QStringLiteral("/PMX-31570A_J.chm")
                                                     : QStringLiteral("/PMX-31570A_E.chm"));
}

QString guideResource(strings::Lang lang) {
    return lang == strings::Lang::Japanese ? QStringLiteral(":/help/user-guide.ja.md")
                                           : QStringLiteral(":/help/user-guide.md");
}

QStringList viewerCandidates(const QString& configured) {
    QStringList candidates;
    if (!configured.isEmpty())
        candidates << configured;
    candidates << QStringLiteral("xchm") << QStringLiteral("kchmviewer") << QStringLiteral("okular")
               << QStringLiteral("xdg-open");
    return candidates;
}

HelpFinder HelpFinder::system() {
    HelpFinder finder;
    finder.fileExists = [](const QString& path) { return QFileInfo(path).isFile(); };
    finder.findExecutable = [](const QString& name) {
        return QStandardPaths::findExecutable(name);
    };
    finder.configuredViewer = qEnvironmentVariable("PMX31570A_HELP_VIEWER");
    return finder;
}

HelpChoice chooseHelp(const QString& helpFile, strings::Lang lang, const HelpFinder& finder) {
    HelpChoice choice;
    const bool fileThere = !helpFile.isEmpty() && finder.fileExists(helpFile);
    if (fileThere) {
        for (const QString& name : viewerCandidates(finder.configuredViewer)) {
            const QString exe = finder.findExecutable(name);
            if (!exe.isEmpty()) {
                choice.route = HelpRoute::Viewer;
                choice.file = helpFile;
                choice.viewer = exe;
                return choice;
            }
        }
    }
    const QString guide = guideResource(lang);
    if (finder.fileExists(guide)) {
        choice.route = HelpRoute::Guide;
        choice.file = guide;
        return choice;
    }
    const QString file = QDir::toNativeSeparators(helpFile);
    const QString why =
        fileThere
            ? strings::text(TextId::HelpNoViewer, lang)
                  .arg(file, viewerCandidates(finder.configuredViewer).join(QStringLiteral(", ")))
            : strings::text(TextId::HelpFileMissing, lang).arg(file);
    choice.reason = strings::text(TextId::HelpNotShown, lang).arg(why);
    return choice;
}

QString headingAnchor(const QString& heading) {
    QString anchor;
    for (const QChar c : heading.trimmed().toLower()) {
        if (c.isLetterOrNumber() || c.isMark() || c == QLatin1Char('-') || c == QLatin1Char('_'))
            anchor += c;
        else if (c == QLatin1Char(' '))
            anchor += QLatin1Char('-');
    }
    return anchor;
}

namespace {

// Japanese script and its punctuation, full-width forms included.
bool isWide(QChar c) {
    return c.unicode() >= 0x3000 && !c.isSurrogate();
}

} // namespace

QString joinWrappedLines(const QString& markdown) {
    const QStringList lines = markdown.split(QLatin1Char('\n'));
    const auto isCode = [](const QString& line) { return line.startsWith(QLatin1String("    ")); };
    QString out;
    out.reserve(markdown.size());
    bool inFence = false;
    for (int k = 0; k < lines.size(); ++k) {
        const QString& line = lines[k];
        const QString text = line.trimmed();
        const bool fence = text.startsWith(QLatin1String("```"));
        const bool joins = k > 0 && !inFence && !fence && !isCode(line) && !text.isEmpty() &&
                           isWide(text.front()) && !isCode(lines[k - 1]) &&
                           !lines[k - 1].isEmpty() && isWide(lines[k - 1].back());
        if (k > 0 && !joins)
            out += QLatin1Char('\n');
        out += joins ? text : line;
        if (fence)
            inFence = !inFence;
    }
    return out;
}

} // namespace pmx::help
