#!/usr/bin/env python3
"""The registry keys that USB serial adapters' drivers create on Windows,
as a .reg file for Wine's regedit: the device's instance in the device tree
(HKLM\\SYSTEM\\CurrentControlSet\\Enum), its Device Parameters with the
port name (and an FTDI adapter's latency timer), and its entry in the
serial device map.

    adapterkeys.py add      the keys, to import with `wine regedit /s`
    adapterkeys.py remove   the same keys and values deleted again
    adapterkeys.py expect   the --list-ports line each port must give
"""
import sys

PORTS_CLASS = "{4d36e978-e325-11ce-bfc1-08002be10318}"
ENUM = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum"
SERIALCOMM = r"HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM"

# port, device object, instance path under Enum, values, latency timer,
# and the line --list-ports gives for it.
ADAPTERS = [
    ("COM21", r"\Device\VCP0", r"FTDIBUS\VID_0403+PID_6001+A12345BCA\0000",
     {"FriendlyName": "USB Serial Port (COM21)", "Mfg": "@oem12.inf,%ftdi%;FTDI", "Service": "FTSER2K",
      "HardwareID": ["FTDIBUS\\COMPORT&VID_0403&PID_6001"]}, 16,
     r'COM21  \\.\COM21 -> \Device\VCP0  "USB Serial Port (COM21)"  driver FTSER2K  usb 0403:6001 "FTDI"'
     r'  serial A12345BC  latency timer 16 ms'),
    ("COM22", r"\Device\CH341SER0", r"USB\VID_1A86&PID_7523\5&2f3c1a&0&2",
     {"FriendlyName": "USB-SERIAL CH340 (COM22)", "Mfg": "wch.cn", "Service": "CH341SER_A64",
      "HardwareID": ["USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523"]}, None,
     r'COM22  \\.\COM22 -> \Device\CH341SER0  "USB-SERIAL CH340 (COM22)"  driver CH341SER_A64  usb 1A86:7523'
     r' "wch.cn"'),
    ("COM23", r"\Device\ProlificSerial0", r"USB\VID_067B&PID_2303\6&1b2c3d4e&0&1",
     {"FriendlyName": "Prolific USB-to-Serial Comm Port (COM23)", "Mfg": "Prolific", "Service": "Ser2pl64",
      "HardwareID": ["USB\\VID_067B&PID_2303&REV_0300"]}, None,
     r'COM23  \\.\COM23 -> \Device\ProlificSerial0  "Prolific USB-to-Serial Comm Port (COM23)"  driver Ser2pl64'
     r'  usb 067B:2303 "Prolific"'),
    ("COM24", r"\Device\Silabser0", r"USB\VID_10C4&PID_EA60\0001",
     {"FriendlyName": "Silicon Labs CP210x USB to UART Bridge (COM24)", "Mfg": "Silicon Labs",
      "Service": "silabser", "HardwareID": ["USB\\VID_10C4&PID_EA60&REV_0100"]}, None,
     r'COM24  \\.\COM24 -> \Device\Silabser0  "Silicon Labs CP210x USB to UART Bridge (COM24)"  driver silabser'
     r'  usb 10C4:EA60 "Silicon Labs"  serial 0001'),
    ("COM25", r"\Device\USBSER000", r"USB\VID_2341&PID_0043\75735323434351E0E1A1",
     {"DeviceDesc": "@usbser.inf,%usbser.devicedesc%;USB Serial Device", "Mfg": "@usbser.inf,%msft%;Microsoft",
      "Service": "usbser", "HardwareID": ["USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043"]}, None,
     r'COM25  \\.\COM25 -> \Device\USBSER000  "USB Serial Device"  driver usbser  usb 2341:0043 "Microsoft"'
     r'  serial 75735323434351E0E1A1'),
]
# The USB device above the FTDI port, whose name is the serial number.
PARENTS = [(r"USB\VID_0403&PID_6001\A12345BC", {"DeviceDesc": "USB Serial Converter", "Service": "FTDIBUS"})]


def text(value):
    return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


def multi(values):
    data = "".join(v + "\0" for v in values) + "\0"
    return "hex(7):" + ",".join("%02x" % b for b in data.encode("utf-16-le"))


def key_values(values):
    lines = []
    for name, value in values.items():
        lines.append("%s=%s" % (text(name), multi(value) if isinstance(value, list) else text(value)))
    return lines


def add():
    out = ["Windows Registry Editor Version 5.00", ""]
    for path, values in PARENTS:
        out += ["[%s\\%s]" % (ENUM, path)] + key_values(values) + [""]
    for port, device, path, values, latency, _ in ADAPTERS:
        out += ["[%s\\%s]" % (ENUM, path), '"ClassGUID"=%s' % text(PORTS_CLASS)] + key_values(values) + [""]
        out += ["[%s\\%s\\Device Parameters]" % (ENUM, path), '"PortName"=%s' % text(port)]
        if latency is not None:
            out.append('"LatencyTimer"=dword:%08x' % latency)
        out.append("")
    out += ["[%s]" % SERIALCOMM] + ["%s=%s" % (text(a[1]), text(a[0])) for a in ADAPTERS] + [""]
    return out


def remove():
    out = ["Windows Registry Editor Version 5.00", ""]
    # The device keys of each enumerator these adapters use.
    for path in sorted({p.rsplit("\\", 1)[0] for p, _ in PARENTS} | {a[2].rsplit("\\", 1)[0] for a in ADAPTERS}):
        out += ["[-%s\\%s]" % (ENUM, path), ""]
    out += ["[%s]" % SERIALCOMM] + ["%s=-" % text(a[1]) for a in ADAPTERS] + [""]
    return out


if __name__ == "__main__":
    what = sys.argv[1] if len(sys.argv) > 1 else ""
    if what in ("add", "remove"):
        # regedit's own format: UTF-16 with its byte-order mark, CR LF.
        lines = add() if what == "add" else remove()
        sys.stdout.buffer.write(("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-16-le"))
    elif what == "expect":
        print("\n".join(a[5] for a in ADAPTERS))
    else:
        sys.exit(__doc__)
