#pragma once
// What the benchmarks against the virtual instrument share: the protocols, the line
// (7E1, 10 bits a character) and opening the real serial object on a pty.
#include "SimProcess.h"
#include "comm/SerialComm.h"
#include <QStringList>
#include <cstdio>
#include <QString>

namespace pmx::bench {

struct Proto {
    qint16 number;
    const char* simName;
};

inline constexpr Proto kProtocols[] = {
    {kProtocolKorvan, "korvan"}, {kProtocolModbusAscii, "ascii"}, {kProtocolModbusRtu, "rtu"}};
inline constexpr int kBitsPerChar = 10; // 7 data bits, even parity, 1 stop bit

inline bool openAt(SerialComm& com, const Proto& p, const QString& device, int baud,
                   int timeoutMs = 1000) {
    com.ClosePort();
    com.ProtocolNo = p.number;
    com.Rate = QString::number(baud);
    com.DataBits = QStringLiteral("7");
    com.StopBits = QStringLiteral("1");
    com.Parity = QStringLiteral("EVEN");
    com.PortName = device;
    com.Timeout = timeoutMs;
    return com.OpenPort();
}

// Starts instrument 1 speaking p's protocol; says why on standard error when it cannot.
inline bool startSim(test::SimProcess& sim, const Proto& p, const QStringList& extra) {
    if (sim.start(QStringList{"--protocol", p.simName, "--instrument", "1"} + extra))
        return true;
    std::fprintf(stderr, "cannot start the virtual instrument: %s\n", qPrintable(sim.errorText()));
    return false;
}

} // namespace pmx::bench
