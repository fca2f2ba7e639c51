#include "comm/Checksums.h"
#include <gtest/gtest.h>

using namespace pmx::checksum;

TEST(Checksums, BccOfFramingDocumentExample) {
    // Read of item 0044h from instrument 1: 21 20 20 30 30 34 34 03 sums to 12Ch.
    const QByteArray body("\x21\x20\x20\x30\x30\x34\x34\x03", 8);
    EXPECT_EQ(bcc(body), 0x2C);
    EXPECT_EQ(hex2(bcc(body)), QByteArray("2C"));
}

TEST(Checksums, Crc16PublishedVectors) {
    // Read of ten registers from station 1: frame 01 03 00 00 00 0A C5 CD (low byte first).
    EXPECT_EQ(crc16(QByteArray::fromHex("01030000000A")), 0xCDC5);
    // "123456789" check value of CRC-16/MODBUS.
    EXPECT_EQ(crc16(QByteArray("123456789")), 0x4B37);
    // Modbus application protocol example: 02 07 -> CRC 1241h sent as 41 12.
    EXPECT_EQ(crc16(QByteArray::fromHex("0207")), 0x1241);
}

TEST(Checksums, LrcPublishedVectors) {
    // Modbus serial line guide: 11 03 00 6B 00 03 -> LRC 7Eh.
    EXPECT_EQ(lrc(QByteArray::fromHex("1103006B0003")), 0x7E);
    // Frame ":F7031389000A60": station F7h, read 10 registers from 1389h.
    EXPECT_EQ(lrc(QByteArray::fromHex("F7031389000A")), 0x60);
    EXPECT_EQ(lrc(QByteArray()), 0x00);
}
