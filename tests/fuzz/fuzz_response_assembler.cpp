// Response assembly for the three protocols: a request is built from the first bytes,
// the rest arrives in chunks. A Complete frame carries our address, a right checksum and
// an answer to our function; splitting the bytes differently never changes the outcome;
// the buffer stays bounded.
#include "FuzzCheck.h"
#include "comm/Checksums.h"
#include "comm/CommObject.h"
#include "comm/Framing.h"

#include <cstdint>

using namespace pmx;
using namespace pmx::framing;
using Status = ResponseAssembler::Status;

namespace {

std::optional<QByteArray> unhex(const QByteArray& text) {
    if (text.size() % 2)
        return std::nullopt;
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int hi = checksum::hexDigitValue(text[i]);
        const int lo = checksum::hexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0 || text[i] != text.toUpper()[i] ||
            text[i + 1] != text.toUpper()[i + 1])
            return std::nullopt;
        out += char(hi * 16 + lo);
    }
    return out;
}

void checkComplete(qint16 protocol, const QByteArray& request, const QByteArray& text) {
    if (protocol == kProtocolKorvan) {
        // Lead, address .. ETX, BCC over address .. ETX; the command type and item echo ours.
        FUZZ_CHECK(text.size() >= 11);
        FUZZ_CHECK(text[0] == kAck || text[0] == kNak || text[0] == kEsc);
        FUZZ_CHECK(text[1] == request[1]);
        const qsizetype etx = text.size() - 3;
        FUZZ_CHECK(text[etx] == kEtx);
        FUZZ_CHECK(text.mid(etx + 1).toUpper() == checksum::hex2(checksum::bcc(text.mid(1, etx))));
        FUZZ_CHECK(text.mid(3, 5) == request.mid(3, 5));
        return;
    }
    // Both Modbus modes give the ASCII frame: ':' hex pairs, LRC, CR LF.
    FUZZ_CHECK(text.startsWith(':') && text.endsWith("\r\n"));
    const std::optional<QByteArray> frame = unhex(text.mid(1, text.size() - 3));
    FUZZ_CHECK(frame && frame->size() >= 3);
    const QByteArray message = frame->left(frame->size() - 1);
    FUZZ_CHECK(quint8(frame->back()) == checksum::lrc(message));
    const QByteArray ours =
        protocol == kProtocolModbusRtu ? request.left(2) : *unhex(request.mid(1, 4));
    FUZZ_CHECK(message[0] == ours[0]);
    FUZZ_CHECK((quint8(message[1]) & 0x7F) == quint8(ours[1]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6)
        return 0;
    // Request: protocol, station or address, read or write, register, value.
    const qint16 protocols[] = {kProtocolKorvan, kProtocolModbusAscii, kProtocolModbusRtu};
    const qint16 protocol = protocols[data[0] % 3];
    const bool write = data[1] & 1;
    const QByteArray item = checksum::hex2(0) + checksum::hex2(data[2] & 0x7F);
    const QByteArray value =
        write ? checksum::hex2(data[3]) + checksum::hex2(data[4]) : QByteArray();
    QByteArray request;
    if (protocol == kProtocolKorvan)
        request = korvanRequest(QByteArray(1, char(0x21 + data[1] % 94)), " ", write ? "P" : " ",
                                item, value);
    else
        request = buildRequest(protocol, checksum::hex2(data[1] >> 1), "", write ? "06" : "03",
                               write ? item : item + "0001", value);
    FUZZ_CHECK(!request.isEmpty());
    std::optional<ResponseAssembler> whole = ResponseAssembler::forRequest(protocol, request);
    std::optional<ResponseAssembler> pieces = ResponseAssembler::forRequest(protocol, request);
    FUZZ_CHECK(whole && pieces);

    // The answer arrives at once, and again in chunks whose sizes the fifth byte sets.
    const QByteArray line(reinterpret_cast<const char*>(data + 6), qsizetype(size - 6));
    const qsizetype chunk = 1 + data[5] % 7;
    Status split = Status::Pending;
    for (qsizetype at = 0; at < line.size() && split == Status::Pending; at += chunk) {
        split = pieces->feed(line.mid(at, chunk));
        FUZZ_CHECK(pieces->buffered() <= 2 * ResponseAssembler::kAsciiMaxFrame);
    }
    // Byte by byte the outcome is the same, whichever way the bytes were cut.
    Status single = Status::Pending;
    for (qsizetype at = 0; at < line.size() && single == Status::Pending; ++at)
        single = whole->feed(line.mid(at, 1));
    FUZZ_CHECK(single == split);
    FUZZ_CHECK(whole->text() == pieces->text());
    if (single == Status::Complete)
        checkComplete(protocol, request, whole->text());
    return 0;
}
