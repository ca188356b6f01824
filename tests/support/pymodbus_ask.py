# pymodbus_ask.py PORT FUNCTION:UNIT:REGISTER:COUNT...: a line per request, the
# registers read, "exception N", "written" or "error" (no answer).
import sys

from pymodbus.client import ModbusTcpClient

client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=3, retries=0)
client.connect()
for request in sys.argv[2:]:
    f, u, a, n = (int(x) for x in request.split(":"))
    ask = {3: lambda: client.read_holding_registers(a, n, slave=u),
           4: lambda: client.read_input_registers(a, n, slave=u),
           5: lambda: client.write_coil(a, True, slave=u),
           6: lambda: client.write_register(a, 7, slave=u),
           15: lambda: client.write_coils(a, [True] * n, slave=u),
           16: lambda: client.write_registers(a, [7] * n, slave=u),
           22: lambda: client.mask_write_register(address=a, and_mask=0, or_mask=7, slave=u),
           23: lambda: client.readwrite_registers(read_address=a, read_count=n, write_address=a,
                                                  write_registers=[7] * n, slave=u)}[f]
    r = ask()
    print("exception %d" % r.exception_code if hasattr(r, "exception_code") else "error" if r.isError()
          else " ".join(map(str, r.registers)) if hasattr(r, "registers") else "written")
