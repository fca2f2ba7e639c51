// The --help text of the virtual instrument.
#include "SimOptions.h"

namespace pmx::sim {

QString helpText() {
    return QStringLiteral(
        R"help(Usage: pmx31570a-sim [options]

A virtual PMX-31570A instrument on a new pseudo-terminal, to try the setting software
without hardware; or several, sharing the line as instruments on one RS-485 line do.
It prints the device path a client should open as the first line of its output, then
serves requests until it receives SIGTERM or SIGINT (Ctrl+C), or until it hangs up
(see --hangup-after and SIGUSR1).

Options:
  --protocol P       korvan (default), ascii (Modbus ASCII) or rtu (Modbus RTU); the
                     names the setting software stores (KORVAN, "Modbus ASCII",
                     "Modbus RTU") too, in any case.
  -a, --instrument N instrument number: 0 to 95 under KORVAN (default 0), 1 to 95 under
                     Modbus (default 1; station 0 is the broadcast address). Requests
                     for other instruments are not answered. A list such as 1,3,5-9
                     puts several instruments on the line, each with its own memory;
                     the addressed one answers, a Modbus broadcast is carried out by
                     all, and the options below apply to every one of them.
  --values FILE      initial memory: lines ITEM=VALUE (item 0000..007F in hexadecimal;
                     value decimal -32768..65535, or hexadecimal as 0x1F or 1Fh);
                     blank lines and lines starting with # are ignored. A data file
                     of the program (385 lines) is accepted too: its values are used.
                     Items not given keep their default. With several instruments a
                     %n in FILE stands for each one's number (its own file);
                     without %n all start from the same file.
  --model FILE       model definition file; its item names appear in the log.
  -b, --baud B       pace the line: the answer to a request starts no earlier than the
                     request would have taken to arrive at B baud, and every byte sent
                     takes its wire time at B baud. Without it, answers go out at once.
  --bits N           bits per character for --baud (default 10: start, 7 data, parity,
                     stop; or start, 8 data, stop). 7E2 and 8E1 are 11, 8E2 is 12.
  --line RATE-DPS    the instrument's line settings, such as 9600-7E1 or 4800-7E2
                     (rate; data bits 7 or 8; parity N, E or O; stop bits 1 or 2).
                     Then only a client whose rate and stop bits match is understood:
                     bytes at another rate are line noise (never answered; logged as
                     dropped), and at the right rate with other stop bits every answer
                     goes out as garbage bytes of its length. The client's settings
                     are read from the pseudo-terminal each time a request arrives. A
                     pseudo-terminal carries neither parity nor data bits (it always
                     passes 8 bits without parity): those two are shown, not checked.
                     Not with --tcp. Pacing stays with --baud.
  -d, --data-bits N  7 or 8,
  -s, --stop-bits N  1 or 2,
  -P, --parity P     none, even or odd (or N, E, O; any case): one field of the
                     instrument's line settings each, as --line sets them all; at
                     the rate of --line, or else of -b (one of the two is needed).
  --fault ITEM=KIND  misbehave for one item (repeatable; the last one for an item wins):
                       nak[:CC]    refuse: KORVAN NAK with error code CC, Modbus
                                   exception CC (default 04)
                       badsum      answer with a spoiled BCC / LRC / CRC
                       silent      never answer (the request is not carried out)
                       readonly    reads work; writes get NAK 03 / exception 03
                       garbage     answer with bytes that form no frame
                       delay:MS    answer MS milliseconds late (0 to 60000). Requests
                                   are still read meanwhile, so a client that gives up
                                   and sends its next request gets the late answer
                                   after that request went out; answers go out in the
                                   order of the requests, so a late one holds back
                                   those after it, as a busy instrument would.
                       late:MS     the same as delay:MS.
                       echo:ITEM2  a well-formed answer for item ITEM2 instead, as if
                                   the request had named it: KORVAN echoes ITEM2 as the
                                   data item (a read carries ITEM2's value); Modbus 06
                                   echoes register ITEM2; Modbus 03 carries ITEM2's
                                   value in ITEM's place. A write still changes ITEM.
                       clamp:MIN:MAX  acknowledge a write but keep the value limited
                                   to MIN..MAX (decimal, -32768 to 32767)
                       ignore      acknowledge a write but keep the old value
                       none        behave
                     Faults other than silent act after a write is carried out.
  --delay-all MS     delay:MS for every item that no --fault names (0 to 60000).
  --refuse-span ITEMS
                     Modbus: a read of more than one register that spans one of these
                     items (hexadecimal, comma-separated; may be repeated) gets
                     exception 02, as from an instrument that defines no register
                     there; a read of the item alone is answered.
  --max-count N      Modbus: a read of more than N registers (1 to 125, default 125)
                     gets exception 03.
  --silent           never answer anything (requests are still logged).
  --echo             the line sends every byte it gets straight back, before any
                     answer, as many two-wire RS-485 adapters do. With --silent the
                     line echoes and no instrument answers.
  --chaos-seed N     every fault at once, decided by the seed N (0 to 2^64-1), so that
                     a run can be made again exactly: each answer may come late (0 to
                     10 times --chaos-timeout), be dropped (the request was carried
                     out), come twice in one burst, come one byte a millisecond, be
                     followed by junk, or follow another instrument's answer to the
                     same request; and the seed decides whether the line echoes as
                     with --echo. The log line of each request ends with what was
                     done to its answer ([chaos: late 812 ms, split]).
  --chaos-timeout MS the client's time-out, the unit of --chaos-seed's lateness
                     (1 to 60000, default 200).
  --dump FILE        the memory as ITEM=VALUE lines (the --values format), written at
                     start and again, whole, whenever a write changed it. With several
                     instruments FILE must hold %n (each one's number).
  --live ITEM:SHAPE:SECONDS:AMPLITUDE
                     the item moves by itself, as a measured value does, around the
                     value it holds at start: SHAPE sine (one wave per SECONDS) or ramp
                     (from value - AMPLITUDE up to value + AMPLITUDE in SECONDS, then
                     again). A value written to it is soon overtaken. Repeatable, e.g.
                     --live 0001:sine:20:500 --live 0003:ramp:60:1000.
  --hangup-after N   after N requests for the instruments (broadcasts and unanswered
                     ones included) and the answer to the last of them, hang up: close
                     the pseudo-terminal, so that a client's read sees end of file or
                     an error, and exit with status 0. Further requests are not read.
                     Counts once per run: a device back after --hangup-for stays.
  --hangup-for MS    after a hang-up, do not exit: wait MS milliseconds (0 to 3600000),
                     open a new pseudo-terminal, print its path as a new line, point
                     the --link PATH at it (the link is gone meanwhile) and serve
                     again with the same memory.
  --link PATH        also create a symbolic link PATH to the device (removed at exit).
  --tcp PORT         listen on TCP port PORT (0: one the system picks) instead of
                     opening a pseudo-terminal, as a device server does, and print
                     tcp://ADDRESS:PORT. One client at a time; when it disconnects
                     the next is accepted, with the same memory. A hang-up closes
                     the client's connection; with --hangup-for the port is closed
                     for MS milliseconds, then listened on again.
  --listen ADDRESS   the address --tcp listens on (default 127.0.0.1, the loopback;
                     ::1, or 0.0.0.0 for every interface).
  --log FILE         append one line per request received, flushed at once.
  -h, --help         this text.
  --version          the program's name and version.

An option's value follows it as the next word or after '=' (--fault=0005=nak).

Exit status:
  0  ended by a signal, or hung up without --hangup-for
  1  no pseudo-terminal or link could be made, or the line failed
  2  bad options, or a values, model or log file that could not be used

Signals: SIGTERM, SIGINT and SIGHUP end the program (status 0). SIGUSR1 hangs up at
once, as --hangup-after does, dropping answers not yet sent.

Default memory: item i holds 100 * i - 1 (item 0000 holds -1 = FFFF, 0001 holds 99,
0044h holds 6799, 007Fh holds 12699). Writes change the memory, reads return it; the
memory lives as long as the process.

KORVAN frames (hexadecimal digits upper case out, either case in):
  request  STX, address (instrument number + 20h), sub-address 20h, command type
           (20h read, "P" write), item (4 hex digits), for a write the value (4 hex
           digits, 16-bit two's complement), ETX, BCC (2 hex digits: the low byte of
           the sum of every byte from the address through ETX)
  answers  ACK + the echoed address, sub-address, command type and item [+ 4 data
           digits for a read] + ETX + BCC; NAK + the echo + error code CC + ETX + BCC
           (01 item out of range, 02 command type not supported, 03 value not
           accepted, 04 not well formed); a request with a wrong BCC gets ESC + the
           echo + ETX + BCC; a request that cannot be delimited gets none.
Modbus ASCII (":" ... LRC CR LF) and RTU (CRC-16): function 03 (quantity 1 to 125) and
06; exceptions 01 illegal function, 02 illegal address, 03 illegal value; a frame with
a wrong LRC/CRC is not answered. A request for station 0 (broadcast) is carried out
(a write) and never answered. RTU requests end by their length (8 bytes for 03 and
06) or 3.5 characters of silence.

Log lines (one per request or per run of bytes dropped):
  PROTO R ITEM -> OUTCOME          a read
  PROTO R ITEM n=COUNT -> OUTCOME  a Modbus read of COUNT registers
  PROTO W ITEM VALUE -> OUTCOME    a write (value as sent, hexadecimal)
  PROTO X(...) ... -> OUTCOME      another command type or function
  PROTO ? -> ignored (address AA)  a request for another instrument
  PROTO - -> dropped N bytes (WHY) bytes that formed no request
PROTO is korvan, ascii or rtu; with several instruments, a request that one of them
served shows its number as PROTO@N (rtu@3 R 0044 -> OK 1A8F). OUTCOME is ACK [DATA],
NAK CC, ESC (KORVAN), OK [DATA], EXC CC (Modbus) or none, followed by the fault that
acted (badsum, garbage, delay MS, echo ITEM2, silent, nak, readonly) and, with --model,
the item name in double quotes.
A Modbus broadcast's OUTCOME is "none (broadcast)", or "none (broadcast; EXC CC ...)"
when it was refused. Examples:
  korvan R 0044 -> ACK 1A8F
  korvan W 0044 FFFF -> ACK
  rtu W 0012 0005 -> EXC 03 readonly
  rtu W 0044 1A8F -> none (broadcast)
  ascii R 0010 -> OK 0C7F echo 0020
)help");
}

} // namespace pmx::sim
