#include "comm/PortMap.h"

#include <gtest/gtest.h>

using namespace pmx;

namespace {

QList<SerialPortEntry> twoAdaptersAndABuiltInPort() {
    return {
        {QStringLiteral("/dev/serial/by-id/usb-FTDI_A-if00-port0"), QStringLiteral("/dev/ttyUSB0"),
         QStringLiteral("FTDI"), true},
        {QStringLiteral("/dev/serial/by-id/usb-Prolific_B-if00-port0"),
         QStringLiteral("/dev/ttyUSB1"), QStringLiteral("Prolific"), true},
        {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS0"), QString(), false},
    };
}

} // namespace

#ifndef Q_OS_WIN
TEST(PortMap, ComNumbersFallBackToUsbDevicesInOrder) {
    MemorySettingsStore store;
    PortMap map(store, twoAdaptersAndABuiltInPort);
    EXPECT_EQ(map.resolve(QStringLiteral("COM1")),
              QStringLiteral("/dev/serial/by-id/usb-FTDI_A-if00-port0"));
    EXPECT_EQ(map.resolve(QStringLiteral("COM2")),
              QStringLiteral("/dev/serial/by-id/usb-Prolific_B-if00-port0"));
    EXPECT_TRUE(
        map.resolve(QStringLiteral("COM3")).isEmpty()); // the built-in port is not a fallback
    EXPECT_EQ(store.writeCount(), 0);
}

TEST(PortMap, StoredMappingWinsAndCanBeCleared) {
    MemorySettingsStore store;
    PortMap map(store, twoAdaptersAndABuiltInPort);
    map.setMapping(QStringLiteral("COM1"), QStringLiteral("/dev/ttyS0"));
    map.setMapping(QStringLiteral("COM12"), QStringLiteral("/dev/ttyUSB1"));
    EXPECT_EQ(store.value(PortMap::kSection, QStringLiteral("COM1"), QString()),
              QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(map.resolve(QStringLiteral("COM1")), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(map.resolve(QStringLiteral("COM12")), QStringLiteral("/dev/ttyUSB1"));
    map.setMapping(QStringLiteral("COM1"), QString());
    EXPECT_EQ(map.resolve(QStringLiteral("COM1")),
              QStringLiteral("/dev/serial/by-id/usb-FTDI_A-if00-port0"));
}

TEST(PortMap, PathsAndOtherNamesPassThrough) {
    MemorySettingsStore store;
    PortMap map(store, [] { return QList<SerialPortEntry>(); });
    EXPECT_EQ(map.resolve(QStringLiteral("/dev/pts/7")), QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(map.resolve(QStringLiteral("ttyACM0")), QStringLiteral("ttyACM0"));
    EXPECT_TRUE(map.resolve(QStringLiteral("COM1")).isEmpty());
}
#endif

TEST(PortMap, ComNumber) {
    EXPECT_EQ(PortMap::comNumber(QStringLiteral("COM1")), 1);
    EXPECT_EQ(PortMap::comNumber(QStringLiteral("COM12")), 12);
    EXPECT_EQ(PortMap::comNumber(QStringLiteral("COM")), std::nullopt);
    EXPECT_EQ(PortMap::comNumber(QStringLiteral("COM0")), std::nullopt);
    EXPECT_EQ(PortMap::comNumber(QStringLiteral("COM-1")), std::nullopt);
    EXPECT_EQ(PortMap::comNumber(QStringLiteral("COMx")), std::nullopt);
}
