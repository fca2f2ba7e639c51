#pragma once
#include "SimInstrument.h"
#include "SimLineSettings.h"
#include "SimLive.h"

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace pmx::sim {

struct Config {
    Protocol protocol = Protocol::Korvan;
    // The instruments answering on the line, each with its own memory; default: 0 under
    // KORVAN, 1 under Modbus (0 is its broadcast address).
    std::vector<int> instruments;
    QString valuesFile; // "%n" stands for each instrument's number
    QString modelFile;
    QString logFile;
    QString linkPath;
    int tcpPort = -1; // listen on TCP instead of a pty; 0: a port the system picks
    QString tcpListen = QStringLiteral("127.0.0.1"); // the address listened on
    int baud = 0;                                    // 0: no pacing
    int bitsPerChar = 10; // start + 7 data + parity + stop, or start + 8 data + stop
    LineConfig line;      // --line: only a client at this rate and stop bits is understood
    bool silent = false;
    int delayAllMs = 0;   // every item answers this late unless a --fault names it
    int hangupAfter = 0;  // hang up after this many requests; 0: never
    int hangupForMs = -1; // after a hang-up, a new device after this long; -1: exit
    std::vector<std::pair<int, Fault>> faults;
    std::vector<int> refuseSpans; // blocks spanning these items get exception 02
    int maxCount = 125;           // blocks of more registers get exception 03
    bool echo = false;            // the line sends every request back (a two-wire adapter)
    bool chaos = false;           // every fault at once, decided by chaosSeed (SimChaos.h)
    quint64 chaosSeed = 0;
    int chaosTimeoutMs = 200;     // the client's time-out: the unit of the chaos's lateness
    QString dumpFile;             // the memory, rewritten after every write carried out ("%n")
    std::vector<LiveMotion> live; // items that move by themselves (--live)
};

struct ParseResult {
    Config config;
    bool help = false;
    bool version = false;
    QString error; // empty when the arguments were good
};

// Command line (without the program name) to a configuration. Options are "--name value"
// or "--name=value"; --fault may be repeated. Never exits.
ParseResult parseArguments(const QStringList& args);
// The --help text: every option, the default values, the fault kinds and the log format.
QString helpText();

// "1,3,5-9": instrument numbers 0..95 and ascending ranges, in the order given, each
// once. False for an empty or malformed list.
bool parseInstrumentList(const QString& text, std::vector<int>* instruments);

// "0005=nak", "0005=nak:02", "0010=badsum", "0011=silent", "0012=readonly",
// "0013=garbage", "0014=delay:500" (or late:500), "0015=echo:0016". Items in hexadecimal
// (0000..007F).
bool parseFault(const QString& text, int* item, Fault* fault, QString* error);

// Values file: either lines "ITEM=VALUE" (item in hexadecimal, value decimal -32768..65535
// or hexadecimal with "0x"/"h"; blank lines and lines starting with '#' ignored), or a
// 385-line table file (the program's data/state file), whose last 128 lines are the values.
bool loadValues(const QString& path, Instrument& instrument, QString* error);
bool loadValues(const QByteArray& bytes, Instrument& instrument, QString* error);

// Item names of a model definition file: the English block when the file has one, else
// the Japanese block. UTF-8 or Shift_JIS.
bool loadItemNames(const QString& path, QStringList* names, QString* error);
bool loadItemNames(const QByteArray& bytes, QStringList* names, QString* error);

} // namespace pmx::sim
