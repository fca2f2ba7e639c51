#include "app/Startup.h"

#include "app/MainWindow.h"
#include "comm/SerialComm.h"
#include "model/AppPaths.h"
#include "pmx_version.h"
#include "text/ProgramMessages.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pmx {

namespace {

volatile std::sig_atomic_t g_endSignal = 0;

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

extern "C" void onEndSignal(int signal) {
    if (g_endSignal != 0) {
        // Asked twice: at once.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_endSignal = signal;
    // The event loop hears of it through the pipe; nothing else is safe in a handler.
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM (the session ends, `kill`), SIGINT (Ctrl+C where it was started) and SIGHUP
// (its terminal closed) end the run through the window, as a clean end without saving.
void endOnSignals(QApplication& app, MainWindow& window) {
    if (::pipe(g_signalPipe) != 0)
        return;
    for (int fd : g_signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        char byte = 0;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        notifier->setEnabled(false);
        window.endOnRequest();
    });
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
#endif

} // namespace

int endingSignal() {
    return int(g_endSignal);
}

void endAsSignalled() {
    const int signal = endingSignal();
    if (signal == 0)
        return;
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

strings::Lang setUpLanguage(QTranslator& qtTranslator) {
    // One language for the run, from the user's locale; Qt's own dialogs follow it.
    const strings::Lang lang = strings::languageFromLocale();
    strings::setLanguage(lang);
    if (lang == strings::Lang::Japanese) {
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        if (qtTranslator.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"),
                              QStringLiteral("_"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(&qtTranslator);
    }
    return lang;
}

void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("PMX31570A"));
    QApplication::setOrganizationName(QStringLiteral("KORVAN DELTRIS"));
    QApplication::setApplicationVersion(QStringLiteral(PMX_VERSION_STRING));
    QGuiApplication::setDesktopFileName(QLatin1String(kDesktopFileName));
    QIcon icon;
    for (int size : {48, 256})
        icon.addFile(QStringLiteral(":/icons/pmx31570a-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

QString infoOptionText(const QStringList& args) {
    for (const QString& arg : args.mid(1)) {
        if (arg == QLatin1String("--version"))
            return QStringLiteral("pmx31570a " PMX_VERSION_STRING "\n");
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return QStringLiteral(
                "Usage: pmx31570a [--help] [--version] [Qt options]\n"
                "PMX-31570A setting software: reads, changes and writes the settings of one\n"
                "instrument over a serial line, in English or Japanese (from LANG).\n"
                "\n"
                "  --help       this text\n"
                "  --version    the version, \"pmx31570a " PMX_VERSION_STRING "\"\n"
                "\n"
                "Qt options such as -platform NAME and -style NAME go to the toolkit.\n"
                "F1 or Help on the menu bar opens the user guide. See pmx31570a(1).\n");
    }
    return {};
}

int runProgram(int argc, char** argv, const std::function<void(MainWindow&)>& beforeStart) {
    // Answered before any window system is needed, so they work over a plain terminal.
    QStringList args;
    for (int k = 0; k < argc; ++k)
        args << QString::fromLocal8Bit(argv[k]);
    if (const QString info = infoOptionText(args); !info.isEmpty()) {
        std::fputs(info.toLocal8Bit().constData(), stdout);
        return 0;
    }
    // Before the toolkit starts: a display it cannot reach is said in one line of ours,
    // and its warnings (no XDG_RUNTIME_DIR under sudo) stay off the terminal.
    setProgramName(QStringLiteral("pmx31570a"));
    strings::setLanguage(strings::languageFromLocale());
    routeQtMessages();
    QApplication app(argc, argv);
    setUpApplication();
    QTranslator qtTranslator;
    setUpLanguage(qtTranslator);

    ensureCsvFolder(); // a failure only matters to the export, which reports it

    MainWindow window(std::make_unique<SerialComm>(), UserPrompts::interactive());
#ifdef Q_OS_UNIX
    endOnSignals(app, window);
#endif
    if (beforeStart)
        beforeStart(window);
    window.startCommunication();
    const int status = QApplication::exec();
    return g_endSignal != 0 ? 128 + int(g_endSignal) : status;
}

} // namespace pmx
