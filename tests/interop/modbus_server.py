#!/usr/bin/python3
"""A Modbus RTU or ASCII server on a serial device, built on the pymodbus library, so the
program is tried against a Modbus implementation that is not its own.

Holding register i holds (3 * i + 7) & 0xFFFF for i below --registers; a request touching
a register at or past --registers gets exception 02, as an instrument with fewer items
answers. Prints "ready" once the device is open.
"""
import argparse
import asyncio
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncSerialServer
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--device", required=True)
    ap.add_argument("--framer", choices=["rtu", "ascii"], default="rtu")
    ap.add_argument("--unit", type=int, default=1)
    ap.add_argument("--registers", type=int, default=128)
    ap.add_argument("--broadcast", action="store_true")
    a = ap.parse_args()

    values = [(3 * i + 7) & 0xFFFF for i in range(a.registers)]
    slave = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, values), zero_mode=True)
    context = ModbusServerContext(slaves={a.unit: slave}, single=False)

    async def serve():
        loop = asyncio.get_running_loop()
        loop.call_later(0.2, lambda: print("ready", flush=True))
        # A pseudo-terminal carries 8 bits without parity whatever is asked, and the
        # serial library refuses settings that do not stick: ask for what it carries.
        await StartAsyncSerialServer(
            context=context,
            framer=ModbusRtuFramer if a.framer == "rtu" else ModbusAsciiFramer,
            port=a.device, baudrate=9600, bytesize=8, parity="N", stopbits=1,
            broadcast_enable=a.broadcast)

    try:
        asyncio.run(serve())
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
