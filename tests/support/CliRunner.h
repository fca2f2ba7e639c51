#pragma once
// Runs the command line (build/bin/pmx31570a-cli) for an end-to-end test, in a private
// settings scope and application folder, and the files such a test gives it.
// Header-only; needs QtCore, GoogleTest and PMX_BIN_DIR.
#include "model/TableFile.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace pmx::test {

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

using EnvironmentEdit = std::function<void(QProcessEnvironment&)>;

// The command line started in `home`, which holds the settings and the application folder
// of the run: nothing of the user's. `inChild` runs in the new process before the program
// (a limit, a file descriptor of the test's); `editEnv` changes its environment (English,
// LC_ALL unset, unless it says otherwise).
inline std::unique_ptr<QProcess> startCli(const QString& home, const QStringList& args,
                                          const std::function<void()>& inChild = {},
                                          const EnvironmentEdit& editEnv = {}) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("PMX31570A_HOME", home + "/home");
    env.insert("LANG", "C.UTF-8");
    env.remove("LC_ALL");
    env.remove("LC_MESSAGES");
    if (editEnv)
        editEnv(env);
    p->setProcessEnvironment(env);
    if (inChild)
        p->setChildProcessModifier(inChild);
    p->start(QStringLiteral(PMX_BIN_DIR "/pmx31570a-cli"), args);
    return p;
}

// Its status as a shell tells it: 128 + the signal for a program a signal ended.
inline int shellStatus(const QProcess& p) {
    return p.exitStatus() == QProcess::CrashExit ? 128 + p.exitCode() : p.exitCode();
}

inline CliRun finishCli(QProcess& p) {
    if (p.state() != QProcess::NotRunning) {
        EXPECT_TRUE(p.waitForFinished(120000)) << "hang guard";
    }
    return {shellStatus(p), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

inline CliRun runCli(const QString& home, const QStringList& args,
                     const std::function<void()>& inChild = {},
                     const EnvironmentEdit& editEnv = {}) {
    return finishCli(*startCli(home, args, inChild, editEnv));
}

// A data file at `path` with items 0001, 0005 and 0044 selected and i - 100 as the value
// of each: 0001 = -99, 0005 = -95, 0044 = -32.
inline QString writeTestTable(const QString& path) {
    ItemTable t;
    t.modelName = "PMX-31570A";
    for (int i = 0; i < kItemCount; ++i)
        t.names[i] = QStringLiteral("Item %1").arg(i);
    for (int i : {1, 5, 68}) {
        t.selections[i] = Selection::Selected;
        t.values[i] = qint16(i - 100);
    }
    EXPECT_TRUE(saveTableFile(path, t));
    return path;
}

// The instrument's memory for --values: ITEM=VALUE lines.
inline QString writeValuesFile(const QString& path, const QString& lines) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(lines.toUtf8());
    return path;
}

} // namespace pmx::test
