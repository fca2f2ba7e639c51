// The window program asked to end by the system or its terminal (SIGTERM at logout or
// from `kill`, SIGINT from Ctrl+C, SIGHUP when its terminal closes), with the port open:
// it ends by that signal with the port closed (no lock file left), and saves nothing,
// since no operator confirmed the end. Started as under sudo (no XDG_RUNTIME_DIR), it says
// nothing on standard error: the toolkit's notes are not the operator's business.
#include "CliRunner.h"
#include "SimProcess.h"
#include "comm/PortLock.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include "model/TableFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace pmx;

namespace {

constexpr int kHangGuardMs = 60000;

// The program has `device` open.
bool holds(qint64 pid, const QString& device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
        if (QFile::symLinkTarget(fds.filePath(fd)) == target)
            return true;
    return false;
}

} // namespace

TEST(ProgramEnd, ASignalEndsTheWindowWithThePortClosedAndNothingSaved) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        QTemporaryDir home;
        test::SimProcess sim; // KORVAN instrument 0: the conditions a first start has
        ASSERT_TRUE(sim.start()) << sim.errorText().toStdString();
        QSettingsStore(home.filePath("config/KORVAN DELTRIS.conf"))
            .setValue(PortMap::kSection, QStringLiteral("COM1"), sim.devicePath());
        // A state file in another spelling than the program's (LF line ends): any save
        // would change its bytes.
        ItemTable t;
        t.modelName = QStringLiteral("PMX-31570A");
        t.values[5] = 1234;
        const QByteArray state = writeTableFile(t).value_or(QByteArray()).replace("\r\n", "\n");
        ASSERT_TRUE(QDir().mkpath(home.filePath("home")));
        QFile f(home.filePath("home/PMX31570A.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(state);
        f.close();

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("PMX31570A_HOME", home.filePath("home"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LANG", "C.UTF-8");
        env.remove("LC_ALL");
        env.remove("XDG_RUNTIME_DIR");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(PMX_BIN_DIR "/pmx31570a"), {});
        ASSERT_TRUE(p.waitForStarted(kHangGuardMs));
        QDeadlineTimer guard(kHangGuardMs);
        while (!holds(p.processId(), sim.devicePath()) && p.state() == QProcess::Running &&
               !guard.hasExpired())
            p.waitForFinished(10);
        ASSERT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().toStdString();
        ASSERT_FALSE(guard.hasExpired()) << "hang guard: the port was never opened";
        ::kill(pid_t(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(kHangGuardMs));
        const QByteArray said = p.readAllStandardError();
        EXPECT_EQ(test::shellStatus(p), 128 + signal) << said.toStdString();
        EXPECT_EQ(said, QByteArray()) << "no warnings of the toolkit";
        f.open(QIODevice::ReadOnly);
        EXPECT_EQ(f.readAll(), state) << "nothing saved";
        const QString lock = portLockFilePath(sim.devicePath());
        EXPECT_TRUE(lock.isEmpty() || !QFile::exists(lock)) << "the port was closed";
    }
}
