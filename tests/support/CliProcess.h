#pragma once
// Runs the command-line program (build/bin/pmx31570a-cli) in a private settings scope and
// application directory, and returns its exit status and both output streams.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace pmx::test {

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

// `home` holds the settings (config/) and the application directory (home/).
inline CliRun runCli(const QString& home, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("PMX31570A_HOME", home + "/home");
    env.insert("LANG", "C.UTF-8");
    env.remove("LC_ALL");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PMX_BIN_DIR "/pmx31570a-cli"), args);
    EXPECT_TRUE(p.waitForFinished(60000)) << "hang guard";
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace pmx::test
