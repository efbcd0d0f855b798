// driverprobe: checks one real serial driver through our serial layer, for
// scripts/driver-tests.sh (run inside its virtual machine). Every check
// prints one line "RESULT <name> PASS|FAIL <what it saw>".
//
//   driverprobe rates DEVICE NAME RATE[=EXPECTED]...  set each bit rate, read it back
//   driverprobe marked-rates DEVICE NAME RATE...       the same, four bytes 0x55 sent at each rate
//   driverprobe modem DEVICE NAME                     TIOCMGET, DTR and RTS follow the settings
//   driverprobe latency DEVICE NAME SYSFS_FILE        low latency on while open, restored at close
//   driverprobe drain DEVICE NAME BYTES               one write's wait for its bytes, a tcdrain
//   driverprobe held DEVICE NAME BYTES                a write held back by RTS/CTS flow control
//   driverprobe run CLI-ARGUMENTS...                  the command-line run, then the drain counter
#include "cli/cliprogram.h"
#include "serial/serialdevice_linux.h"

#include <QCoreApplication>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <termios.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

int failures = 0;

void Result(const std::string& name, bool pass, const std::string& detail)
{
    std::printf("RESULT %s %s %s\n", name.c_str(), pass ? "PASS" : "FAIL", detail.c_str());
    std::fflush(stdout);
    if (!pass) ++failures;
}

int ModemLines(int fd)
{
    int lines = 0;
    return ioctl(fd, TIOCMGET, &lines) == 0 ? lines : -1;
}

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    if (!std::getline(file, line)) return "(unreadable)";
    return line;
}

std::string ProbeText(TProbe probe)
{
    return probe == TProbe::Yes ? "on" : probe == TProbe::No ? "off" : "unsupported";
}

// Each rate on a fresh open, as a run sets it: the driver's read-back rate.
// With mark, one byte goes out after each rate change, for the unit at the
// other end to tell the rate the line really runs at.
void Rates(const std::string& device, const std::string& name, int count, char** rateTexts, bool mark)
{
    for (int i = 0; i < count; ++i) {
        const std::string rateText = rateTexts[i];
        const size_t equals = rateText.find('=');
        const int32_t rate = std::atoi(rateText.substr(0, equals).c_str());
        const int32_t expected = equals == std::string::npos ? rate : std::atoi(rateText.substr(equals + 1).c_str());
        std::string detail = "set " + std::to_string(rate) + " expect " + std::to_string(expected);
        bool pass = false;
        try {
            TSerialDevice port;
            port.Open(device);
            TLineSettings config;
            config.BitRate = rate;
            port.ApplyLine(config, dtrEnable, rtsEnable);
            const int32_t back = port.BitRate();
            detail += " read " + std::to_string(back);
            pass = back == expected;
            if (mark) {
                // Four bytes: a unit that waits for four-byte command words
                // tells of each byte it drops, at the rate it heard it.
                const uint8_t bytes[4] = {0x55, 0x55, 0x55, 0x55};
                port.Write(bytes, 4);
                usleep(300000); // the unit reads them before the rate changes again
            }
            port.Close();
        } catch (const EComPort& e) {
            detail +=
                " error code " + std::to_string(e.MessageCode()) + " errno " + std::to_string(e.SystemErrorCode());
        }
        Result(name + "-rate-" + std::to_string(rate), pass, detail);
    }
}

void Modem(const std::string& device, const std::string& name)
{
    try {
        TSerialDevice port;
        port.Open(device);
        TLineSettings config;
        const struct {
            TDTRFlowControl Dtr;
            TRTSFlowControl Rts;
            bool DtrUp, RtsUp;
            const char* Label;
        } cases[] = {{dtrEnable, rtsEnable, true, true, "dtr-on-rts-on"},
                     {dtrDisable, rtsEnable, false, true, "dtr-off-rts-on"},
                     {dtrEnable, rtsDisable, true, false, "dtr-on-rts-off"},
                     {dtrDisable, rtsDisable, false, false, "dtr-off-rts-off"},
                     {dtrHandshake, rtsHandshake, true, true, "dtr-handshake-rts-handshake"}};
        for (const auto& c : cases) {
            port.ApplyLine(config, c.Dtr, c.Rts);
            const int lines = ModemLines(port.Handle());
            char detail[160];
            std::snprintf(detail, sizeof detail, "TIOCMGET 0x%03x dtr %d rts %d (want %d %d)", lines,
                          lines >= 0 && (lines & TIOCM_DTR) != 0, lines >= 0 && (lines & TIOCM_RTS) != 0, c.DtrUp,
                          c.RtsUp);
            Result(name + "-modem-" + c.Label,
                   lines >= 0 && ((lines & TIOCM_DTR) != 0) == c.DtrUp && ((lines & TIOCM_RTS) != 0) == c.RtsUp,
                   detail);
        }
        const TComSignals inputLines = port.ModemSignals();
        Result(name + "-modem-signals", true,
               "ModemSignals 0x" + std::to_string(inputLines) + " (the query did not fail)");
        port.Close();
    } catch (const EComPort& e) {
        Result(name + "-modem", false,
               "error code " + std::to_string(e.MessageCode()) + " errno " + std::to_string(e.SystemErrorCode()));
    }
}

void Latency(const std::string& device, const std::string& name, const std::string& sysfs)
{
    const std::string before = ReadFirstLine(sysfs);
    std::string during, after;
    TProbe modeDuring = TProbe::Unsupported, modeAfter = TProbe::Unsupported;
    try {
        TSerialDevice port;
        port.Open(device);
        during = ReadFirstLine(sysfs);
        ReadLowLatency(port.Handle(), modeDuring);
        port.Close();
        after = ReadFirstLine(sysfs);
        const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            ReadLowLatency(fd, modeAfter);
            close(fd);
        }
    } catch (const EComPort& e) {
        Result(name + "-latency", false,
               "error code " + std::to_string(e.MessageCode()) + " errno " + std::to_string(e.SystemErrorCode()));
        return;
    }
    const std::string detail = "latency_timer before " + before + " open " + during + " after close " + after +
                               "; low-latency flag open " + ProbeText(modeDuring) + " after close " +
                               ProbeText(modeAfter);
    Result(name + "-latency",
           during == "1" && after == before && before != "1" && modeDuring == TProbe::Yes && modeAfter == TProbe::No,
           detail);
}

// Times one write through the serial layer (which waits until its bytes
// are sent) and one plain tcdrain, and reports the layer's drain counter.
void Drain(const std::string& device, const std::string& name, int bytes)
{
    try {
        TSerialDevice port;
        port.Open(device);
        TLineSettings config;
        port.ApplyLine(config, dtrEnable, rtsEnable);
        port.ApplyTimeouts(TTimeoutValues{});
        std::string data(static_cast<size_t>(bytes), 'U');
        const uint64_t before = port.QueueWaits();
        auto start = std::chrono::steady_clock::now();
        const int32_t sent = port.Write(data.data(), bytes);
        const auto writeMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        const uint64_t waits = port.QueueWaits() - before;
        data.assign(1, 'U');
        if (write(port.Handle(), data.data(), 1) != 1) throw EComPort(CError_WriteFailed, errno);
        start = std::chrono::steady_clock::now();
        alarm(5);
        const int drained = tcdrain(port.Handle());
        alarm(0);
        const auto drainMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        // The transmitter as the driver's line status tells it, after a pause.
        usleep(300000);
        unsigned int lsr = 0;
        const int lsrError = ioctl(port.Handle(), TIOCSERGETLSR, &lsr) == 0 ? 0 : errno;
        port.Close();
        // At 9600 bit/s the bytes take (bytes * 10 / 9.6) ms on the line.
        Result(name + "-drain-write", sent == bytes,
               "wrote " + std::to_string(sent) + "/" + std::to_string(bytes) + " bytes in " + std::to_string(writeMs) +
                   " ms (line time " + std::to_string(bytes * 10 * 1000 / 9600) + " ms), queue waits " +
                   std::to_string(waits) + "; tcdrain of 1 byte " + (drained == 0 ? "returned" : "failed") + " after " +
                   std::to_string(drainMs) + " ms; TIOCSERGETLSR 0.3 s later: " +
                   (lsrError               ? "errno " + std::to_string(lsrError)
                    : (lsr & TIOCSER_TEMT) ? "empty"
                                           : "not empty"));
    } catch (const EComPort& e) {
        Result(name + "-drain-write", false,
               "error code " + std::to_string(e.MessageCode()) + " errno " + std::to_string(e.SystemErrorCode()));
    }
}

// A write that the driver cannot send: RTS/CTS flow control with CTS low
// (nothing drives it) holds the bytes in the driver's output queue. The
// layer waits for the queue until the write's time-out, then drops what is
// left and does not count it as written.
void Held(const std::string& device, const std::string& name, int bytes)
{
    try {
        TSerialDevice port;
        port.Open(device);
        TLineSettings config;
        config.RtsCtsFlow = true;
        port.ApplyLine(config, dtrEnable, rtsHandshake);
        const int lines = ModemLines(port.Handle());
        TTimeoutValues timeouts;
        timeouts.WriteTotalMultiplier = 0;
        timeouts.WriteTotalConstant = 500;
        port.ApplyTimeouts(timeouts);
        const std::string data(static_cast<size_t>(bytes), 'U');
        const uint64_t before = port.QueueWaits();
        const int32_t sent = port.Write(data.data(), bytes);
        const uint64_t waits = port.QueueWaits() - before;
        int queued = -1;
        ioctl(port.Handle(), TIOCOUTQ, &queued);
        port.Close();
        Result(name + "-held-write", lines >= 0 && (lines & TIOCM_CTS) == 0 && waits > 0 && sent < bytes && queued == 0,
               std::string("CTS ") + (lines >= 0 && (lines & TIOCM_CTS) ? "high" : "low") + "; write of " +
                   std::to_string(bytes) + " bytes counted " + std::to_string(sent) + " as written, queue waits " +
                   std::to_string(waits) + ", output queue afterwards " + std::to_string(queued));
    } catch (const EComPort& e) {
        Result(name + "-held-write", false,
               "error code " + std::to_string(e.MessageCode()) + " errno " + std::to_string(e.SystemErrorCode()));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "run") {
        // The command-line program's own run, then how often a write found
        // bytes still queued in the driver and waited for them to go.
        QCoreApplication application(argc, argv);
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        std::signal(SIGPIPE, SIG_IGN);
        QStringList arguments = QCoreApplication::arguments();
        arguments.removeAt(1);
        // A gang's units run as this probe's "run" too.
        const int code = RunCommandLine(arguments, StoredImage, StoredImageDigest,
                                        {QCoreApplication::applicationFilePath(), "run"});
        std::printf("queue waits: %llu\n", static_cast<unsigned long long>(TSerialDevice::QueueWaitsOfAllDevices()));
        return code;
    }
    if (argc >= 4 && (std::string(argv[1]) == "rates" || std::string(argv[1]) == "marked-rates")) {
        Rates(argv[2], argv[3], argc - 4, argv + 4, std::string(argv[1]) == "marked-rates");
    } else if (argc == 5 && std::string(argv[1]) == "drain") {
        std::signal(SIGALRM, [](int) {});
        Drain(argv[2], argv[3], std::atoi(argv[4]));
    } else if (argc == 5 && std::string(argv[1]) == "held") {
        Held(argv[2], argv[3], std::atoi(argv[4]));
    } else if (argc == 4 && std::string(argv[1]) == "modem") {
        Modem(argv[2], argv[3]);
    } else if (argc == 5 && std::string(argv[1]) == "latency") {
        Latency(argv[2], argv[3], argv[4]);
    } else {
        std::fprintf(stderr, "usage: see the comment at the top of driverprobe.cpp\n");
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
