// bench_idle: CPU use of the program while it is connected and idle (goal < 1% of one
// core). It starts the program (as bench/startup's probe, which tells when its window is
// up) with private settings whose COM1 is a virtual instrument's pty, waits until the
// window is up and the port is open, then reads the program's CPU time from
// /proc/PID/stat (utime + stime) and /proc/PID/schedstat over 10 s.
//
// Usage: bench_idle [seconds]
#include "SimProcess.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <unistd.h>

using namespace pmx;

namespace {

// utime + stime in clock ticks, or -1.
qint64 cpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = f.readAll();
    // The command name may hold blanks: fields are counted after its closing parenthesis.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // fields[0] is field 3 (state); utime and stime are fields 14 and 15.
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

// Nanoseconds spent on a CPU by all threads, from the scheduler, or -1.
qint64 cpuNs(qint64 pid) {
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList ids = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (ids.isEmpty())
        return -1;
    for (const QString& id : ids) {
        QFile f(tasks.filePath(id + QStringLiteral("/schedstat")));
        if (!f.open(QIODevice::ReadOnly))
            continue; // a thread that just ended
        total += f.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// True when the process has `device` open.
bool holdsDevice(qint64 pid, const QString& device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    test::SimProcess sim;
    if (!sim.start({"--protocol", "korvan", "--instrument", "0"})) {
        std::fprintf(stderr, "bench_idle: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    QTemporaryDir home, config;
    {
        QSettingsStore store(config.filePath(QStringLiteral("KORVAN DELTRIS.conf")));
        store.setValue(cond::kSection, cond::kProtocol, QStringLiteral("KORVAN"));
        store.setValue(cond::kSection, cond::kDevNo, QStringLiteral("0"));
        store.setValue(cond::kSection, cond::kSpeed, QStringLiteral("9600"));
        store.setValue(cond::kSection, cond::kDatabit, QStringLiteral("7 bit"));
        store.setValue(cond::kSection, cond::kStopbit, QStringLiteral("1 bit"));
        store.setValue(cond::kSection, cond::kParityKey, QStringLiteral("EVEN"));
        store.setValue(cond::kSection, cond::kPort, QStringLiteral("COM1"));
        store.setValue(cond::kSection, cond::kTimeoutKey, QStringLiteral("300"));
        store.setValue(PortMap::kSection, QStringLiteral("COM1"), sim.devicePath());
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PMX31570A_HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    if (!env.contains(QStringLiteral("DISPLAY")) &&
        !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess program;
    program.setProcessEnvironment(env);
    program.setProgram(QStringLiteral(PMX_BIN_DIR "/pmx31570a-startup-probe"));
    program.start();
    const auto stop = [&program] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    };
    if (!program.waitForStarted(10000)) {
        std::fprintf(stderr, "bench_idle: cannot start %s\n", qPrintable(program.program()));
        return 1;
    }
    const qint64 pid = program.processId();

    // Hang guards only: up means "shown" on its output and the pty held open.
    QDeadlineTimer deadline(30000);
    QByteArray out;
    while (!out.contains("shown") && !deadline.hasExpired() &&
           program.state() == QProcess::Running) {
        program.waitForReadyRead(200);
        out += program.readAllStandardOutput();
    }
    if (!out.contains("shown")) {
        std::fprintf(stderr, "bench_idle: the program did not report its window\n");
        stop();
        return 1;
    }
    while (!holdsDevice(pid, sim.devicePath()) && !deadline.hasExpired())
        QThread::msleep(50);
    const bool connected = holdsDevice(pid, sim.devicePath());
    QThread::msleep(1000); // let start-up work settle

    const qint64 hz = sysconf(_SC_CLK_TCK);
    const qint64 ticks0 = cpuTicks(pid);
    const qint64 ns0 = cpuNs(pid);
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(seconds);
    const qint64 ticks1 = cpuTicks(pid);
    const qint64 ns1 = cpuNs(pid);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const bool running = program.state() == QProcess::Running;
    stop();

    if (ticks0 < 0 || ticks1 < 0 || !running) {
        std::fprintf(stderr, "bench_idle: the program ended during the measurement\n");
        return 1;
    }
    const double statPct = 100.0 * double(ticks1 - ticks0) / double(hz) / elapsed;
    const double schedPct = ns0 >= 0 && ns1 >= 0 ? 100.0 * double(ns1 - ns0) / 1e9 / elapsed : -1;
    const bool met = statPct < 1.0 && connected;
    std::printf("Idle CPU use of pmx31570a (connected to pmx31570a-sim on %s: %s), %.1f s\n",
                qPrintable(sim.devicePath()), connected ? "port open" : "PORT NOT OPEN", elapsed);
    std::printf("  utime+stime (/proc/PID/stat): %lld ticks of 1/%lld s = %.3f%% of one core "
                "(goal < 1%%)  %s\n",
                ticks1 - ticks0, hz, statPct, met ? "met" : "NOT MET");
    if (schedPct >= 0)
        std::printf("  scheduler run time (/proc/PID/task/*/schedstat): %.3f ms = %.3f%%\n",
                    (ns1 - ns0) / 1e6, schedPct);
    std::printf("  requests the instrument received while idle: %lld\n",
                qint64(sim.logLines().size()));
    return met ? 0 : 1;
}
