#pragma once
// The commands of pmx31570a-cli. Each returns the program's exit status.
#include "CliArgs.h"

#include <QTextStream>

namespace pmx::cli {

class OverlayStore;

// Standard output and standard error, shared by all that the program prints.
QTextStream& out();
QTextStream& err();

// From then on SIGINT and SIGTERM stop a transfer between two items.
void installStopSignals();

int cmdConditions(OverlayStore& store);
int cmdTransfer(const Args& args, OverlayStore& store, bool write);
int cmdCompare(const Args& args, OverlayStore& store);
int cmdPorts();
int cmdExportCsv(const Args& args);
// Needs argc/argv for the QGuiApplication that rendering wants.
int cmdReport(int argc, char** argv, const Args& args);

} // namespace pmx::cli
