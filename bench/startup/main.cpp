// Start-up benchmark: median time from process start to the main window shown, and the
// resident memory right after start-up. It runs the program's start-up as the probe beside
// it builds it, which prints "shown" on standard output once the window is up.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

static long rssKb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 11;
    QTemporaryDir home, config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PMX31570A_HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    if (!env.contains(QStringLiteral("DISPLAY")) &&
        !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QList<double> times;
    QList<long> rss;
    for (int k = 0; k < runs; ++k) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProgram(QStringLiteral(PMX_BIN_DIR "/pmx31570a-startup-probe"));
        QElapsedTimer t;
        t.start();
        p.start();
        bool shown = false;
        while (!shown && p.waitForReadyRead(10000))
            shown = p.readAllStandardOutput().contains("shown");
        if (!shown) {
            std::fprintf(stderr, "run %d: the window was not shown\n", k);
            return 1;
        }
        times << t.nsecsElapsed() / 1e6;
        rss << rssKb(p.processId());
        p.kill();
        p.waitForFinished();
    }
    std::sort(times.begin(), times.end());
    std::sort(rss.begin(), rss.end());
    std::printf("startup: median %.1f ms to the main window shown (%d runs, min %.1f, max %.1f)\n",
                times[times.size() / 2], runs, times.first(), times.last());
    std::printf("startup: resident memory after start-up %.1f MB (median)\n",
                rss[rss.size() / 2] / 1024.0);
    std::printf("goals: < 300 ms, < 80 MB\n");
    return 0;
}
