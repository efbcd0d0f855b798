#!/bin/sh
# The guest's /init for scripts/driver-tests.sh: loads the USB serial
# drivers, runs the cases through the real 8250 (ttyS1), ftdi_sio (ttyUSB0)
# and cdc_acm (ttyACM0) drivers and prints one line per check on the console:
#   RESULT <name> PASS|FAIL <what it saw>
# plus "OUT <run>: ..." (each run's output), "TIME <run> <seconds>" and
# "INFO ..." lines. "SYNC <what>" lines ask the host to act; "GUEST-DONE"
# marks a complete pass.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
# The pseudo-terminals, for the unit simulated in here.
mkdir -p /dev/pts
mount -t devpts devpts /dev/pts
mkdir -p /tmp

ms() { read up _ < /proc/uptime; echo "${up%.*}${up#*.}0"; } # uptime in ms (1/100 s steps)
secs() { echo "$1" | awk '{ printf "%.2f", $1 / 1000 }'; }
result() { echo "RESULT $1 $2 $3"; }
uptime_s() { cut -d' ' -f1 /proc/uptime; }

echo "BOOTED at $(uptime_s) s"
for module in $(cat /modules/order); do
  insmod "/modules/$module.ko" || echo "insmod $module failed"
done
n=0
while [ ! -e /dev/ttyUSB0 ] && [ $n -lt 100 ]; do sleep 0.2; n=$((n + 1)); done
[ -e /dev/ttyUSB0 ] && result usb-adapter PASS "ttyUSB0 ($(cat /sys/bus/usb-serial/devices/ttyUSB0/../../product 2>/dev/null)) at $(uptime_s) s" ||
  result usb-adapter FAIL "no ttyUSB0"
grep -q '^1: uart:16550A' /proc/tty/driver/serial && result uart-16550A PASS "$(grep '^1:' /proc/tty/driver/serial)" ||
  result uart-16550A FAIL "$(cat /proc/tty/driver/serial)"
LATENCY=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer

# cli NAME WANT-CODE WANT-TEXT PROGRAM ARGS...: one whole run, with no
# terminal on its input (nothing waits for an operator); its output is
# echoed as "OUT NAME: ..." lines, its exit code and message checked.
cli() {
  name=$1 want=$2 text=$3
  shift 3
  start=$(ms)
  timeout 150 "$@" < /dev/null > "/tmp/$name.out" 2>&1
  checked "$name" "$want" "$text" $?
}
# checked NAME WANT-CODE WANT-TEXT CODE: the checks of cli for a run that
# began at $start, wrote /tmp/NAME.out and ended with CODE.
checked() {
  name=$1 want=$2 text=$3 code=$4
  took=$(secs $(($(ms) - start)))
  sed "s/^/OUT $name: /" "/tmp/$name.out"
  if [ "$code" = "$want" ] && grep -q "$text" "/tmp/$name.out"; then
    result "$name" PASS "exit $code in $took s: $(grep "$text" "/tmp/$name.out" | head -1)"
  else
    result "$name" FAIL "exit $code (want $want) in $took s, want text '$text'"
  fi
  echo "TIME $name $took"
}

# --- The 8250 (ttyS1): whole runs. The unit leaves its first connect
# exchange unanswered, so the first run needs the boot method.
cli uart-boot-method 0 "Unit Successfully Programmed" morvex-flash-cli --port /dev/ttyS1 --yes
cli uart-user-method 0 "Unit Successfully Programmed" morvex-flash-cli --port /dev/ttyS1
# The same run inside the probe, which then prints the serial layer's count
# of writes that found the driver's output queue not empty.
cli uart-counted-run 0 "Unit Successfully Programmed" driverprobe run --port /dev/ttyS1
echo "INFO uart-counted-run $(grep 'queue waits' /tmp/uart-counted-run.out)"
driverprobe modem /dev/ttyS1 uart < /dev/null
driverprobe drain /dev/ttyS1 uart 1000 < /dev/null

# --- ftdi_sio (ttyUSB0): whole runs, the first by the boot method (this
# unit too leaves its first connect exchange unanswered).
cli usb-boot-method 0 "Unit Successfully Programmed" morvex-flash-cli --port /dev/ttyUSB0 --yes
cli usb-user-method 0 "Unit Successfully Programmed" morvex-flash-cli --port /dev/ttyUSB0
driverprobe modem /dev/ttyUSB0 usb < /dev/null
driverprobe rates /dev/ttyUSB0 usb 9600 19200 38400 115200 56000 1200 230400 < /dev/null
driverprobe latency /dev/ttyUSB0 usb $LATENCY < /dev/null
driverprobe drain /dev/ttyUSB0 usb 8 < /dev/null

# --- One gang over three drivers at once: the 8250 (ttyS1), ftdi_sio
# (ttyUSB0) and cdc_acm (ttyACM0). The CDC-ACM device is a USB gadget in
# here (g_serial on dummy_hcd's controller); its unit is simulated in here
# too, on the gadget side ttyGS0 through gadgetbridge. That unit holds the
# status of the second gang's eleventh program block (after the 240 blocks
# of the first gang) for 4 s, so that the unplug lands in programming.
n=0
while { [ ! -e /dev/ttyACM0 ] || [ ! -e /dev/ttyGS0 ]; } && [ $n -lt 100 ]; do sleep 0.2; n=$((n + 1)); done
[ -e /dev/ttyACM0 ] && [ -e /dev/ttyGS0 ] && result acm-device PASS "ttyACM0 ($(cat /sys/class/tty/ttyACM0/device/../product 2>/dev/null)) and ttyGS0 at $(uptime_s) s" ||
  result acm-device FAIL "ttyACM0: $(ls /dev/ttyACM0 2>&1), ttyGS0: $(ls /dev/ttyGS0 2>&1)"
unitsim --fault 'slow@program-block#250=4000' --verbose --flash-dumps /tmp/acm --link /tmp/acm-unit \
  < /dev/null > /tmp/acm-unit.log 2>&1 &
n=0
while [ ! -e /tmp/acm-unit ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
gadgetbridge /dev/ttyGS0 /dev/ttyACM0 /tmp/acm-unit < /dev/null > /tmp/gadgetbridge.log 2>&1 &
sleep 0.5
GANG="--port /dev/ttyS1 --port /dev/ttyUSB0 --port /dev/ttyACM0 --yes"

# gang_unit RUN PORT RESULT CODE: the unit on PORT has the RESULT and exit
# CODE in the gang's summary table, and one log record with that code.
gang_unit() {
  row=$(grep "^$2 " "/tmp/$1.out" | tail -1)
  records=$(grep -c "\"port\":\"$2\"" "/tmp/$1.jsonl")
  if echo "$row" | grep -q " $3 .* $4 *\$" && [ "$records" = 1 ] &&
    grep "\"port\":\"$2\"" "/tmp/$1.jsonl" | grep -q "\"exitCode\":$4[,}]"; then
    result "$1-$(basename "$2")" PASS "$(echo $row), one record"
  else
    result "$1-$(basename "$2")" FAIL "summary row '$(echo $row)', $records record(s); want $3, exit $4, one record"
  fi
}
# The image's bytes from 0x800 to 0x8000, as a digest.
area() { dd if="$1" bs=2048 skip=1 count=15 2> /dev/null | md5sum | cut -d' ' -f1; }

cli gang-three-drivers 0 "passed" morvex-flash-cli $GANG --log /tmp/gang-three-drivers.jsonl
sed "s/^/OUT gang-three-drivers record: /" /tmp/gang-three-drivers.jsonl
for port in /dev/ttyS1 /dev/ttyUSB0 /dev/ttyACM0; do gang_unit gang-three-drivers $port passed 0; done
[ -f /tmp/acm-1.bin ] && [ "$(area /tmp/acm-1.bin)" = "$(area /image.bin)" ] &&
  result acm-flash-after-gang PASS "acm-1.bin holds the image from 0x800 to 0x8000" ||
  result acm-flash-after-gang FAIL "acm-1.bin missing or differs from the image"

# The same gang, the CDC-ACM device unplugged (the gadget's controller
# drops its pull-up, as when the cable is pulled) when its unit has heard
# the program command: that unit ends with the port's error, the others
# pass.
from=$(($(wc -l < /tmp/acm-unit.log) + 1))
start=$(ms)
timeout 150 morvex-flash-cli $GANG --log /tmp/gang-acm-unplug.jsonl < /dev/null > /tmp/gang-acm-unplug.out 2>&1 &
pid=$!
n=0
until tail -n +$from /tmp/acm-unit.log | grep -q "program command" || [ $n -ge 600 ]; do sleep 0.1; n=$((n + 1)); done
echo disconnect > /sys/class/udc/dummy_udc.0/soft_connect && echo "INFO gang-acm-unplug unplugged at $(uptime_s) s"
wait $pid
checked gang-acm-unplug 14 "failed: port-error" $?
sed "s/^/OUT gang-acm-unplug record: /" /tmp/gang-acm-unplug.jsonl
gang_unit gang-acm-unplug /dev/ttyS1 passed 0
gang_unit gang-acm-unplug /dev/ttyUSB0 passed 0
gang_unit gang-acm-unplug /dev/ttyACM0 "failed: port-error" 4
[ ! -e /tmp/acm-2.bin ] && result acm-no-reset-after-unplug PASS "the unplugged run did not reset the unit" ||
  result acm-no-reset-after-unplug FAIL "the unplugged run reset the unit"
n=0
while [ -e /dev/ttyACM0 ] && [ $n -lt 50 ]; do sleep 0.2; n=$((n + 1)); done
[ ! -e /dev/ttyACM0 ] && result acm-unplug-gone PASS "ttyACM0 removed" || result acm-unplug-gone FAIL "ttyACM0 still there"
sed "s/^/OUT gadgetbridge: /" /tmp/gadgetbridge.log
head -2 /tmp/acm-unit.log | sed "s/^/OUT acm-unit: /"

# --- The 8250 again: a failing erase, last run on this unit (it stays in its loader).
cli uart-erase-fault 8 "Erase Failed" morvex-flash-cli --port /dev/ttyS1
# The drain with bytes left in the driver's output queue: RTS/CTS flow
# control with CTS low (nothing drives it) holds them there.
driverprobe held /dev/ttyS1 uart 100 < /dev/null
# Bit rates read back from the driver, four bytes sent at each: the host
# checks the rate each byte reached the unit at. 56000 is no divisor of the
# 16550A's 115200 clock: the 8250 driver picks divisor 2, 57600 on the line.
driverprobe marked-rates /dev/ttyS1 uart 9600 19200 38400 115200 56000 1200 < /dev/null

# A run the host unplugs in its programming step (when the unit has heard
# the program command); latency_timer is sampled while the run has the port.
echo "SYNC unplug-armed"
start=$(ms)
timeout 150 morvex-flash-cli --port /dev/ttyUSB0 < /dev/null > /tmp/usb-unplug.out 2>&1 &
pid=$!
samples=""
present=""
while kill -0 $pid 2>/dev/null; do
  if [ -e $LATENCY ]; then
    present=$(ms)
    samples="$samples $(cat $LATENCY 2>/dev/null)"
  fi
  sleep 0.3
done
wait $pid
code=$?
ended=$(ms)
took=$(secs $((ended - start)))
[ -n "$present" ] && echo "INFO usb-unplug the run ended $(secs $((ended - present))) s after ttyUSB0 was last seen present (sampled every 0.3 s)"
# Noticed at once: well before the 4 s the unit holds its block status and
# the 5 s the host would wait for it.
[ -n "$present" ] && [ $((ended - present)) -lt 3000 ] && atonce=yes || atonce=no
sed "s/^/OUT usb-unplug: /" /tmp/usb-unplug.out
seen=$(echo $samples | tr ' ' '\n' | sort -u | tr '\n' ' ')
# The first samples may come before the run opened the port; from the first
# 1 on, every sample must read 1 until the adapter is gone.
open_samples=$(echo "$samples" | sed 's/^[^1]*//')
[ -n "$open_samples" ] && ! echo " $open_samples " | grep -q " [02-9][0-9]* " &&
  result usb-latency-during-run PASS "latency_timer read 1 in all $(echo $open_samples | wc -w) samples from the open on (all samples: $samples)" ||
  result usb-latency-during-run FAIL "latency_timer values seen while the run had the port: $seen"
grep -q "^program: " /tmp/usb-unplug.out && program=yes || program=no
# The adapter goes while the host waits for a block's status: the protocol
# reports the block's exchange as failed ("Write Failed: No reply", exit 9);
# while a write is under way the port's own error (exit 4).
{ [ "$code" = 4 ] || { [ "$code" = 9 ] && grep -q "Write Failed: No reply" /tmp/usb-unplug.out; }; } &&
  [ $program = yes ] && [ $atonce = yes ] &&
  result usb-unplug PASS "exit $code in $took s, in the programming step, at once: $(tail -1 /tmp/usb-unplug.out)" ||
  result usb-unplug FAIL "exit $code (want 4, or 9 for the block) in $took s, programming step reached: $program, at once: $atonce"
echo "TIME usb-unplug $took"
n=0
while [ -e /dev/ttyUSB0 ] && [ $n -lt 50 ]; do sleep 0.2; n=$((n + 1)); done
[ ! -e /dev/ttyUSB0 ] && result usb-unplug-gone PASS "ttyUSB0 removed" || result usb-unplug-gone FAIL "ttyUSB0 still there"
echo "SYNC replug"
n=0
while [ ! -e /dev/ttyUSB0 ] && [ $n -lt 100 ]; do sleep 0.2; n=$((n + 1)); done
[ -e /dev/ttyUSB0 ] && result usb-replug PASS "ttyUSB0 back at $(uptime_s) s" || result usb-replug FAIL "no ttyUSB0"
# The unit, reset by the operator, connects by the boot method through the
# new adapter and fails its erase.
cli usb-erase-fault-after-replug 8 "Erase Failed" morvex-flash-cli --port /dev/ttyUSB0 --yes

echo "GUEST-DONE at $(uptime_s) s"
poweroff -f
