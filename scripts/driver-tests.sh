#!/bin/bash
# The serial layer and morvex-flash-cli through real kernel drivers: a QEMU
# guest (Debian's kernel, a busybox initramfs) whose ttyS1 is an emulated
# 16550A UART (the 8250 driver) and whose ttyUSB0 is an emulated FTDI
# adapter on an xHCI controller (the ftdi_sio driver). Each is wired to a
# simulated unit (unitsim) on a host pseudo-terminal. A third unit runs in
# the guest behind a USB gadget (g_serial on dummy_hcd) that the guest's own
# cdc_acm driver sees as ttyACM0, for a gang over all three. The guest's init
# (tests/drivers/init.sh) runs the cases and prints "RESULT name PASS|FAIL
# detail" lines on its console; this script adds the checks of the units'
# flash and the unplug through QEMU's monitor, and fails on any failure.
#
# Environment: MORVEX_SKIP_DRIVERS=1 skips it all; MORVEX_DRIVER_BUILD names
# a configured build to take the programs from (default: a lean one of its
# own in build-drivers); MORVEX_DRIVER_CACHE is where the kernel package is
# kept (default .cache/drivers); MORVEX_DRIVER_USB_HOST picks the adapter's
# host controller (xhci, the default, or uhci); JOBS as for scripts/test.sh.
# The guest's work, console and the units' logs are in build-drivers/vm.
set -euo pipefail
[ "${MORVEX_SKIP_DRIVERS:-0}" = "1" ] && {
  echo "driver tests skipped (MORVEX_SKIP_DRIVERS=1)"
  exit 0
}
cd "$(dirname "$0")/.."
ROOT=$PWD
# A build that already has the programs (scripts/test.sh passes its own),
# or a lean one of our own.
BUILD=${MORVEX_DRIVER_BUILD:-}
CACHE=${MORVEX_DRIVER_CACHE:-$ROOT/.cache/drivers}
WORK=$ROOT/build-drivers/vm
JOBS="${JOBS:-2}"
BOOT_TIMEOUT=${MORVEX_DRIVER_BOOT_TIMEOUT:-240}
T0=$(date +%s)

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# --- Debian packages: the emulator, busybox, depmod, cpio; the kernel is only unpacked.
source scripts/lib/packages.sh
ensure_packages qemu-system-x86 busybox-static kmod cpio
mkdir -p "$CACHE"
if [ ! -f "$CACHE/kernel.ready" ]; then
  (
    cd "$CACHE"
    rm -rf kernel ./*.deb
    apt-get download linux-image-amd64 2>/dev/null || { $SUDO apt-get update && apt-get download linux-image-amd64; }
    # The meta package names the real one.
    real=$(dpkg-deb -f linux-image-amd64_*.deb Depends | sed 's/ .*//')
    apt-get download "$real"
    dpkg -x "$real"_*.deb kernel
    version=$(ls kernel/lib/modules)
    /sbin/depmod -b "$PWD/kernel" "$version" 2>/dev/null || depmod -b "$PWD/kernel" "$version"
    touch kernel.ready
  )
fi
KVERSION=$(ls "$CACHE/kernel/lib/modules")
KDIR=$CACHE/kernel/lib/modules/$KVERSION
VMLINUZ=$CACHE/kernel/boot/vmlinuz-$KVERSION

# --- The programs: the real CLI, the probe, the simulated unit.
mkdir -p "$ROOT/build-drivers"
BUILD_LOG=$ROOT/build-drivers/driver-build.log
if [ -n "$BUILD" ]; then
  BUILD=$(cd "$BUILD" && pwd)
  configure=true
else
  BUILD=$ROOT/build-drivers
  configure="cmake -S . -B $BUILD -DCMAKE_BUILD_TYPE=Release -DMORVEX_BUILD_APP=OFF -DMORVEX_BUILD_BENCH=OFF"
fi
if ! { $configure && cmake --build "$BUILD" -j"$JOBS" --target morvex-flash-cli driverprobe gadgetbridge unitsim morvex_demo_image; } \
  >"$BUILD_LOG" 2>&1; then
  tail -30 "$BUILD_LOG"
  echo "driver tests: the build failed (see $BUILD_LOG)"
  exit 1
fi
CLI=$BUILD/src/cli/morvex-flash-cli
PROBE=$BUILD/tests/drivers/driverprobe
BRIDGE=$BUILD/tests/drivers/gadgetbridge
UNITSIM=$BUILD/tools/unitsim/unitsim
IMAGE=$BUILD/firmware/demo-4620.bin

# --- The initramfs.
rm -rf "$WORK"
mkdir -p "$WORK/root/bin" "$WORK/root/modules" "$WORK/root/proc" "$WORK/root/sys" "$WORK/root/dev" "$WORK/root/tmp"
R=$WORK/root
cp "$(command -v busybox)" "$R/bin/busybox"
for tool in $("$R/bin/busybox" --list); do [ "$tool" = busybox ] || ln -sf busybox "$R/bin/$tool"; done
cp "$CLI" "$PROBE" "$UNITSIM" "$BRIDGE" "$R/bin/"
strip "$R/bin/morvex-flash-cli" "$R/bin/driverprobe" "$R/bin/unitsim" "$R/bin/gadgetbridge"
cp "$IMAGE" "$R/image.bin"
# Their shared libraries, at the paths the loader looks in.
for lib in $(ldd "$CLI" "$PROBE" "$UNITSIM" | awk '/=> \//{ print $3 } /^\t\/.*ld-linux/{ print $1 }' | sort -u); do
  mkdir -p "$R$(dirname "$lib")"
  cp -L "$lib" "$R$lib"
done
# Qt reads no plugins for a QCoreApplication; the loader needs its cache-free default paths only.
# The USB serial modules with their dependencies, in load order (modules.dep).
order=""
add_module() { # path relative to $KDIR
  case " $order " in *" $1 "*) return ;; esac
  for dep in $(sed -n "s|^$1: *||p" "$KDIR/modules.dep"); do add_module "$dep"; done
  order="$order $1"
}
# The adapter's host controller: xHCI (qemu-xhci) or UHCI (PIIX3).
USB_HOST=${MORVEX_DRIVER_USB_HOST:-xhci}
case $USB_HOST in
  xhci) HC_MODULES="xhci-hcd xhci-pci" HC_DEVICE="qemu-xhci,id=hc" ;;
  uhci) HC_MODULES="uhci-hcd" HC_DEVICE="piix3-usb-uhci,id=hc" ;;
  *)
    echo "MORVEX_DRIVER_USB_HOST: xhci or uhci"
    exit 2
    ;;
esac
# The CDC-ACM link: a gadget controller with its own host side (dummy_hcd),
# the serial gadget (g_serial finds its function, usb_f_acm, by name: loaded
# before it) and the host's cdc_acm driver.
for m in usb-common usbcore $HC_MODULES usbserial ftdi_sio dummy_hcd usb_f_acm g_serial cdc-acm; do
  add_module "$(grep -o "^[^:]*/$m\.ko" "$KDIR/modules.dep")"
done
: >"$R/modules/order"
for path in $order; do
  name=$(basename "$path" .ko)
  cp "$KDIR/$path" "$R/modules/$name.ko"
  echo "$name" >>"$R/modules/order"
done
cp "${MORVEX_DRIVER_INIT:-tests/drivers/init.sh}" "$R/init"
chmod +x "$R/init"
(cd "$R" && find . | cpio -o -H newc --quiet | gzip -1) >"$WORK/initramfs.gz"
echo "initramfs: $(du -h "$WORK/initramfs.gz" | cut -f1), modules:$(tr '\n' ' ' <"$R/modules/order" | sed 's/^/ /')"

# --- The simulated units. The UART's unit leaves its first connect
# exchange unanswered (the boot method) and fails its sixth erase (three
# runs alone, two in gangs). So does the USB adapter's unit; it fails its
# sixth erase (two whole runs alone, two in gangs, then the run that is
# unplugged, then the one after the re-plug), and holds the status of the
# unplugged run's eleventh program block (after the 960 blocks of the four
# whole runs) for 4 s, so that the unplug lands in programming.
"$UNITSIM" --reset-after 0 --fault 'silence@connect#0' --fault 'wrong@erase#5=%' --verbose \
  --flash-dumps "$WORK/uart" --link "$WORK/uart-unit" </dev/null >"$WORK/uart-unit.log" 2>&1 &
UART_SIM=$!
"$UNITSIM" --reset-after 0 --fault 'silence@connect#0' --fault 'wrong@erase#5=%' \
  --fault 'slow@program-block#970=4000' --verbose \
  --flash-dumps "$WORK/usb" --link "$WORK/usb-unit" </dev/null >"$WORK/usb-unit.log" 2>&1 &
USB_SIM=$!
QEMU_PID=""
cleanup() {
  [ -n "$QEMU_PID" ] && kill "$QEMU_PID" 2>/dev/null || true
  kill "$UART_SIM" "$USB_SIM" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
n=0
while { [ ! -e "$WORK/uart-unit" ] || [ ! -e "$WORK/usb-unit" ]; } && [ $n -lt 50 ]; do
  sleep 0.1
  n=$((n + 1))
done

# --- The boot.
MONITOR=$WORK/monitor.sock
# One command on QEMU's human monitor (a Unix socket).
monitor() {
  python3 - "$MONITOR" "$1" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall((sys.argv[2] + "\n").encode())
time.sleep(0.5)
s.close()
PY
}
BOOT_START=$(date +%s.%N)
timeout "$BOOT_TIMEOUT" qemu-system-x86_64 -m 512 -smp 1 -nographic -no-reboot \
  -kernel "$VMLINUZ" -initrd "$WORK/initramfs.gz" \
  -append "console=ttyS0 quiet panic=-1 rdinit=/init" \
  -monitor "unix:$MONITOR,server,nowait" \
  -chardev "file,id=con,path=$WORK/console.log" -serial chardev:con \
  -chardev "serial,id=uart,path=$WORK/uart-unit" -serial chardev:uart \
  -chardev "serial,id=ftdi,path=$WORK/usb-unit" \
  -device "$HC_DEVICE" -device usb-serial,chardev=ftdi,id=adapter \
  >"$WORK/qemu.log" 2>&1 &
QEMU_PID=$!

# The unplug: armed by the guest, done when the unit is inside the late
# program block; the operator resets the unit before plugging it in again.
# (grep reads to the end rather than quit at the first match, which would
# cut tail's pipe and fail the pipeline.)
wait_for_line() { # file pattern [after-line]
  until tail -n +"${3:-1}" "$1" 2>/dev/null | grep "$2" >/dev/null; do
    kill -0 "$QEMU_PID" 2>/dev/null || return 1
    sleep 0.1
  done
}
if wait_for_line "$WORK/console.log" "SYNC unplug-armed"; then
  from=$(($(wc -l <"$WORK/usb-unit.log") + 1))
  if wait_for_line "$WORK/usb-unit.log" "program command" "$from"; then
    monitor "device_del adapter"
    echo "unplugged at $(date +%T.%N | cut -c1-12)"
    if wait_for_line "$WORK/console.log" "SYNC replug"; then
      kill -USR1 "$USB_SIM" # the operator resets the unit
      sleep 0.5
      monitor "device_add usb-serial,chardev=ftdi,id=adapter2"
      echo "plugged in again at $(date +%T.%N | cut -c1-12)"
    fi
  fi
fi
set +e
wait "$QEMU_PID"
QEMU_RC=$?
set -e
QEMU_PID=""
BOOT_SECONDS=$(echo "$BOOT_START $(date +%s.%N)" | awk '{ printf "%.1f", $2 - $1 }')
kill -TERM "$UART_SIM" "$USB_SIM" 2>/dev/null || true
wait "$UART_SIM" "$USB_SIM" 2>/dev/null || true

# --- The results.
RESULTS=$WORK/results.txt
tr -d '\r' <"$WORK/console.log" | grep '^RESULT ' >"$RESULTS" || true
# The unit's flash after each run that ended with a reset equals the image.
flash_check() { # name dump
  if [ -f "$2" ] && cmp -s -i 2048:2048 -n $((32768 - 2048)) "$IMAGE" "$2"; then
    echo "RESULT $1 PASS $(basename "$2") holds the image from 0x800 to 0x8000" >>"$RESULTS"
  else
    echo "RESULT $1 FAIL $(basename "$2") missing or differs from the image" >>"$RESULTS"
  fi
}
for i in 1 2 3 4 5; do flash_check "uart-flash-after-run-$i" "$WORK/uart-$i.bin"; done
for i in 1 2 3 4; do flash_check "usb-flash-after-run-$i" "$WORK/usb-$i.bin"; done
# The bytes the rate probe sent after the failed erase reached the unit at
# the rates the guest set, with 56000 rounded to the 16550A's 57600.
# (The unit waits for four-byte words: it tells of each byte it drops at the
# rate of the byte that made it drop one, so each rate is listed once.)
last=$(grep -n 'erase status' "$WORK/uart-unit.log" | tail -1 | cut -d: -f1 || true)
seen=$(tail -n +"${last:-1}" "$WORK/uart-unit.log" | grep 'unrecognised byte' | grep -o '\[[0-9]* bit/s\]' |
  tr -d '[]' | sed 's| bit/s||' | uniq | tr '\n' ' ' | sed 's/ $//' || true)
[ "$seen" = "9600 19200 38400 115200 57600 1200" ] &&
  echo "RESULT uart-line-rates PASS the unit heard the probe's bytes at $seen bit/s" >>"$RESULTS" ||
  echo "RESULT uart-line-rates FAIL the unit heard the probe's bytes at '$seen' bit/s (want 9600 19200 38400 115200 57600 1200)" >>"$RESULTS"
# No other run ended with a reset.
for dump in "$WORK/uart-6.bin" "$WORK/usb-5.bin"; do
  [ ! -e "$dump" ] && echo "RESULT no-reset-$(basename "$dump" .bin) PASS no further run reset the unit" >>"$RESULTS" ||
    echo "RESULT no-reset-$(basename "$dump" .bin) FAIL an unexpected run ended with a reset" >>"$RESULTS"
done
grep -q '^GUEST-DONE' "$WORK/console.log" && echo "RESULT guest-finished PASS qemu exit $QEMU_RC after $BOOT_SECONDS s" >>"$RESULTS" ||
  echo "RESULT guest-finished FAIL qemu exit $QEMU_RC after $BOOT_SECONDS s (see $WORK/console.log)" >>"$RESULTS"

grep -E '^(TIME|INFO|BOOTED|GUEST-DONE)' "$WORK/console.log" | tr -d '\r' || true
cat "$RESULTS"
pass=$(grep -c ' PASS ' "$RESULTS" || true)
fail=$(grep -c ' FAIL ' "$RESULTS" || true)
echo "driver tests: $pass passed, $fail failed, boot $BOOT_SECONDS s, whole script $(($(date +%s) - T0)) s"
[ "$fail" -eq 0 ] && [ "$pass" -gt 0 ]
