#include "text/ProgramMessages.h"

#include "text/StringTable.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pmx {

namespace {

QString& nameOfProgram() {
    static QString name = QStringLiteral("pmx31570a");
    return name;
}

int g_fatalStatus = 1;
// The first note a platform plugin gave: the reason a window could not open.
QString& platformNote() {
    static QString note;
    return note;
}

void say(const QString& text) {
    const QByteArray line = (errorLine(text) + QLatin1Char('\n')).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category ? context.category : "";
    const bool ours = std::strncmp(category, "pmx.", 4) == 0;
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
    case QtWarningMsg:
        if (ours) {
            say(message);
        } else if (std::strncmp(category, "qt.qpa", 6) == 0 && platformNote().isEmpty()) {
            platformNote() = message.trimmed();
        }
        return;
    case QtCriticalMsg:
        say(message);
        return;
    case QtFatalMsg:
        // Only the first sentence: the rest is advice for the people who build Qt programs.
        QString first = message.section(QLatin1Char('\n'), 0, 0).trimmed();
        if (message.contains(QLatin1String("platform plugin")))
            first = strings::text(TextId::WindowCannotOpen)
                        .arg(platformNote().isEmpty() ? first : platformNote());
        say(first);
        std::_Exit(g_fatalStatus);
    }
}

} // namespace

void setProgramName(const QString& name) {
    nameOfProgram() = name;
}

QString programName() {
    return nameOfProgram();
}

QString errorLine(const QString& text) {
    QString line = text.trimmed();
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return nameOfProgram() + QLatin1String(": ") + line;
}

void routeQtMessages(int fatalStatus) {
    if (!qEnvironmentVariableIsEmpty("QT_LOGGING_RULES") ||
        !qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        return;
    g_fatalStatus = fatalStatus;
    qInstallMessageHandler(onQtMessage);
}

} // namespace pmx
