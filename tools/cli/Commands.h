#pragma once
// The commands of pmx31570a-cli. Each returns the program's exit status.
#include "CliArgs.h"

#include <QTextStream>
#include <memory>

namespace pmx {
class SerialComm;
class CommObject;
struct ItemTable;
} // namespace pmx

namespace pmx::cli {

class OverlayStore;

// Standard output and standard error, shared by all that the program prints.
QTextStream& out();
QTextStream& err();

// From then on SIGINT and SIGTERM stop a run before its next exchange, and a second one
// ends the program at once; a closed standard output (SIGPIPE) is noticed by
// outputClosed() instead of ending the program unseen.
void installStopSignals();
// True once SIGINT or SIGTERM came.
bool stopSignalled();
// True once standard output is a pipe that nobody reads any more (`read | head -1`).
bool outputClosed();
// A run that must end before its next exchange: a stop signal or a closed output.
bool runMustStop();
// The signal that ends the program once the run is over: SIGINT or SIGTERM as it came,
// SIGPIPE for a closed output; 0 when the run ends normally.
int endingSignal();
// Ends the program by `signal`, as an uncaught one would, so that a shell sees 130 for
// SIGINT, 143 for SIGTERM and 141 for SIGPIPE and a script around it stops as well.
[[noreturn]] void endBySignal(int signal);

// One line of standard output, at once; false when it cannot go: nobody reads it any
// more (outputClosed()) or writing failed (outputErrorText()). Either ends the run.
bool printLine(const QString& line);
// Bytes to standard output as they are (a PDF, a CSV block); false as for printLine.
bool writeOutput(const QByteArray& bytes);
// One error line on standard error: "pmx31570a-cli: TEXT".
void printError(const QString& text);
// Why a file cannot be written at `path`, found before any instrument is asked: its folder
// is missing or not writable, or the name is a folder or a file without write permission;
// in the system's words. Empty when it can be written.
QString whyNotWritable(const QString& path);
// Why standard output could not be written (a full disk behind `> file`); empty if it
// could.
QString outputErrorText();

// The serial object of a run: the port map of `store` resolves the port names.
std::unique_ptr<SerialComm> makeComm(OverlayStore& store);

// The table of --table, or the state file; false after printing why it cannot be read.
bool loadTable(const Args& args, ItemTable& table, bool required);
// Applies the conditions and opens the port: kExitOk, or kExitPort after printing why.
int openPort(CommObject& com, OverlayStore& store);

int cmdConditions(OverlayStore& store);
int cmdTransfer(const Args& args, OverlayStore& store, bool write);
int cmdCompare(const Args& args, OverlayStore& store);
int cmdPorts(const Args& args);
// Searches for instruments and prints one line of options per instrument found.
int cmdFind(const Args& args);
int cmdExportCsv(const Args& args);
// Needs argc/argv for the QGuiApplication that rendering wants.
int cmdReport(int argc, char** argv, const Args& args);
// The change log, or a commissioning record of part of it (HistoryCommand.cpp).
int cmdHistory(int argc, char** argv, const Args& args);

} // namespace pmx::cli
