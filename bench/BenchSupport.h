#pragma once
// What the benchmarks against the virtual instrument share: the protocols, the line
// (7E1, 10 bits a character) and opening the real serial object on a pty.
#include "SimProcess.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/SerialComm.h"
#include <QString>
#include <QStringList>
#include <cstdio>

namespace pmx::bench {

struct Proto {
    ProtocolNumber number;
    const char* simName;
};

inline constexpr Proto kProtocols[] = {
    {kProtocolKorvan, "korvan"}, {kProtocolModbusAscii, "ascii"}, {kProtocolModbusRtu, "rtu"}};
inline constexpr int kBitsPerChar = 10; // 7 data bits, even parity, 1 stop bit

// Opens the device for instrument 1 at 7E1.
inline bool openAt(SerialComm& com, const Proto& p, const QString& device, int baud,
                   int timeoutMs = 1000) {
    com.closePort();
    com.setConditions({.protocol = p.number,
                       .instrument = 1,
                       .rate = baud,
                       .dataBits = 7,
                       .stopBits = 1,
                       .parity = Parity::Even,
                       .port = device,
                       .timeoutMs = timeoutMs});
    return com.openPort();
}

// One read of an item as the read sequence sends it to instrument 1; true when good.
inline bool readItem(SerialComm& com, const char* address) {
    return sendItemCommand(com, Request::read(1, address)).good();
}

// Starts instrument 1 speaking p's protocol; says why on standard error when it cannot.
inline bool startSim(test::SimProcess& sim, const Proto& p, const QStringList& extra) {
    if (sim.start(QStringList{"--protocol", p.simName, "--instrument", "1"} + extra))
        return true;
    std::fprintf(stderr, "cannot start the virtual instrument: %s\n", qPrintable(sim.errorText()));
    return false;
}

} // namespace pmx::bench
