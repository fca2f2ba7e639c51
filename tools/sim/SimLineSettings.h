#pragma once
// The line settings the virtual instrument is set to (--line), and what it makes of a
// client whose settings differ. A pseudo-terminal carries the client's rate and stop bits
// but neither parity nor data bits (it always passes 8 bits without parity), so only rate
// and stop bits can be told apart.
#include "SimInstrument.h"

#include <QString>
#include <vector>

namespace pmx::sim {

struct LineConfig {
    bool set = false; // without --line every client is understood
    int rate = 9600;
    int dataBits = 7;
    char parity = 'E'; // 'N', 'E', 'O'
    int stopBits = 1;
};

// "9600-7E1": rate, data bits (7 or 8), parity (N, E, O; either case), stop bits (1, 2).
bool parseLine(const QString& text, LineConfig* line, QString* error);
// "9600-7E1"
QString lineText(const LineConfig& line);

// A client's rate and stop bits against the instrument's.
enum class LineMatch { Match, OtherRate, OtherStopBits };
LineMatch matchLine(const LineConfig& instrument, int clientRate, int clientStopBits);
// "4800 bit/s, 2 stop bits", for the log.
QString clientLineText(int rate, int stopBits);

// Bytes sent at another rate are noise to the instrument: nothing is delimited or
// answered, one log line says so.
Reply lineNoise(Protocol protocol, int count, const QString& client, const LineConfig& line);
// At the right rate with other stop bits the instrument hears the request but its
// answer reaches the client as noise: every answer becomes garbage of its length.
std::vector<Reply> overLine(std::vector<Reply> replies, LineMatch match, const QString& client);

} // namespace pmx::sim
