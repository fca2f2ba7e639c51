#pragma once
// Runs the command line (build/bin/pmx31570a-cli) for an end-to-end test, in a private
// settings scope and application folder, and the files such a test gives it.
// Header-only; needs QtCore, GoogleTest and PMX_BIN_DIR.
#include "model/TableFile.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace pmx::test {

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

// `home` holds the settings and the application folder of the run: nothing of the user's.
inline CliRun runCli(const QString& home, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("PMX31570A_HOME", home + "/home");
    env.insert("LANG", "C.UTF-8");
    env.remove("LC_ALL");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PMX_BIN_DIR "/pmx31570a-cli"), args);
    EXPECT_TRUE(p.waitForFinished(120000)) << "hang guard";
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
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
