#pragma once
// The commands of pmx31570a-cli. Each returns the program's exit status.
#include "CliArgs.h"

#include <QTextStream>
#include <memory>

namespace pmx {
class SerialComm;
}

namespace pmx::cli {

class OverlayStore;

// Standard output and standard error, shared by all that the program prints.
QTextStream& out();
QTextStream& err();

// From then on SIGINT and SIGTERM stop a transfer between two items.
void installStopSignals();
// True once SIGINT or SIGTERM came.
bool stopSignalled();

// The serial object of a run: the port map of `store` resolves the port names.
std::unique_ptr<SerialComm> makeComm(OverlayStore& store);

int cmdConditions(OverlayStore& store);
int cmdTransfer(const Args& args, OverlayStore& store, bool write);
int cmdCompare(const Args& args, OverlayStore& store);
int cmdPorts();
// Searches for instruments and prints one line of options per instrument found.
int cmdFind(const Args& args);
int cmdExportCsv(const Args& args);
// Needs argc/argv for the QGuiApplication that rendering wants.
int cmdReport(int argc, char** argv, const Args& args);

} // namespace pmx::cli
