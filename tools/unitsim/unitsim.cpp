// The simulator around the unit's protocol engine: the pseudo-terminal, the
// unit's thread, time on the line, the transcript and the requests that
// come from other threads.
#include "tools/unitsim/unitsim.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tools/unitsim/flashmemory.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/unitengine.h"

namespace {

using TClock = std::chrono::steady_clock;

std::chrono::nanoseconds ByteTime(const TLineState& line)
{
    if (line.BitRate == 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<int64_t>(line.BitsPerByte) * 1000000000LL / line.BitRate);
}

void MakeLink(const std::string& link, const std::string& target)
{
    namespace fs = std::filesystem;
    const fs::path path(link);
    std::error_code error;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
    // A link left behind by a simulator that was killed is replaced; anything
    // else at that path is not ours to remove.
    if (fs::is_symlink(fs::symlink_status(path, error))) fs::remove(path, error);
    fs::create_symlink(target, path, error);
    if (error) throw std::runtime_error("cannot create link " + link + ": " + error.message());
}

void RemoveLink(const std::string& link, const std::string& target)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(link, error)) && fs::read_symlink(link, error) == fs::path(target))
        fs::remove(link, error);
}

} // namespace

struct TUnitSim::TImpl : public TUnitPort {
    explicit TImpl(const TUnitSimOptions& options);
    ~TImpl() override;

    // TUnitPort, on the unit's thread.
    void Send(const TUnitReply& reply) override;
    void Record(TSimFrame frame) override;
    void HangUp() override;
    void StateChanged(TUnitState state) override;

    // What the line brought: bytes, or the host purging its input.
    struct TInput {
        bool Purged = false;
        std::vector<uint8_t> Bytes;
        TLineState Line;
        TClock::time_point At;
    };

    void Run();
    void Wake();
    bool ConsumeWake(); // true when the current work must stop (stop or hang-up requested)
    void ApplyRequests();
    void Serve();
    void DrainLine(std::vector<TInput>& input);
    void Feed(const std::vector<TInput>& input);
    bool SleepUntil(TClock::time_point until);
    void WriteLine(const std::vector<uint8_t>& bytes);
    void RecordReply(const std::string& label, const std::vector<uint8_t>& plain, const std::vector<uint8_t>& line);

    const TUnitSimOptions FOptions;
    TPtyLine FLine;
    const std::string FSlavePath;
    TFlashMemory FFlash;
    TUnitEngine FEngine;
    int FWake = -1;

    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    std::vector<TSimFrame> FTranscript;
    TUnitState FState = usFirmware;
    bool FStopRequested = false;
    bool FHangUpRequested = false;
    bool FResetRequested = false;

    // Unit's thread only.
    int FHostOpens = 0;
    TClock::time_point FInboundFree;    // when the host's last byte has fully arrived
    TClock::time_point FOutboundFree;   // when the unit's last byte has fully left
    TClock::time_point FCurrentArrival; // when the byte being handled arrived
    std::thread FThread;
};

TUnitSim::TImpl::TImpl(const TUnitSimOptions& options)
    : FOptions(options), FSlavePath(FLine.SlavePath()), FEngine(options, FFlash, *this)
{
    if (options.UnitType >= kSimModelCount) throw std::invalid_argument("unit type must be " + ModelRangeText());
    FWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWake < 0) throw std::runtime_error("eventfd failed");
    try {
        if (!options.LinkPath.empty()) MakeLink(options.LinkPath, FSlavePath);
    } catch (...) {
        ::close(FWake);
        throw;
    }
    FThread = std::thread([this] { Run(); });
}

TUnitSim::TImpl::~TImpl()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStopRequested = true;
    }
    Wake();
    FThread.join();
    ::close(FWake);
    if (!FOptions.LinkPath.empty()) RemoveLink(FOptions.LinkPath, FSlavePath);
}

void TUnitSim::TImpl::Wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(FWake, &one, sizeof one);
}

bool TUnitSim::TImpl::ConsumeWake()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(FWake, &count, sizeof count);
    std::lock_guard<std::mutex> lock(FMutex);
    return FStopRequested || FHangUpRequested;
}

void TUnitSim::TImpl::ApplyRequests()
{
    bool reset = false, hangUp = false;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        std::swap(reset, FResetRequested);
        std::swap(hangUp, FHangUpRequested);
    }
    if (hangUp && FLine.IsOpen()) {
        TSimFrame frame;
        frame.Label = "hang-up";
        Record(std::move(frame));
        HangUp();
    }
    if (reset) FEngine.OperatorReset(false);
}

void TUnitSim::TImpl::Run()
{
    // Paced replies sleep until their last byte would have left the wire;
    // the default timer slack (50 us) would add to every one of them.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FStopRequested) break;
        }
        // A request whose wake-up a paced reply consumed is served here.
        ApplyRequests();
        pollfd fds[3] = {{FWake, POLLIN, 0}, {FLine.WatchFd(), POLLIN, 0}, {FLine.MasterFd(), POLLIN | POLLPRI, 0}};
        const nfds_t count = FLine.IsOpen() ? 3 : 1;
        if (::poll(fds, count, -1) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            ConsumeWake();
            ApplyRequests();
        }
        if (count > 1 && FLine.IsOpen() && ((fds[1].revents & POLLIN) || (fds[2].revents & (POLLIN | POLLPRI))))
            Serve();
    }
}

// The bytes on the line and the host's opens and closes come through
// different channels, so their order has to be worked out. The line is read
// before the opens and closes: a host that has reopened the port and written
// must have queued its open before those bytes were read. So when the host
// ends up closed, every byte read belongs before the last close; when it
// ends up open after a close, the bytes belong after the reopen (a new run,
// or the speed change's reopen, which the loader expects).
void TUnitSim::TImpl::Serve()
{
    std::vector<TInput> input;
    DrainLine(input);
    std::vector<bool> transitions; // true: the host opened the port, false: closed it
    for (const int change : FLine.ReadWatch()) {
        if (change > 0 && FHostOpens++ == 0) transitions.push_back(true);
        if (change < 0 && FHostOpens > 0 && --FHostOpens == 0) transitions.push_back(false);
    }
    const bool endsClosed = !transitions.empty() && !transitions.back();
    const size_t first = endsClosed ? transitions.size() - 1 : transitions.size();
    for (size_t i = 0; i < first; ++i) transitions[i] ? FEngine.HostOpened() : FEngine.HostClosed();
    Feed(input);
    if (endsClosed && FLine.IsOpen()) FEngine.HostClosed();
}

void TUnitSim::TImpl::DrainLine(std::vector<TInput>& input)
{
    std::vector<uint8_t> data;
    while (FLine.IsOpen()) {
        const TPtyLine::TReadResult result = FLine.Read(data);
        if (result == TPtyLine::rrEmpty) return;
        if (result == TPtyLine::rrGone) {
            // Cannot happen while we hold a slave descriptor; stop rather than spin.
            HangUp();
            return;
        }
        if (result == TPtyLine::rrStatus) continue;
        input.push_back({result == TPtyLine::rrPurged, data, FLine.Line(), TClock::now()});
    }
}

void TUnitSim::TImpl::Feed(const std::vector<TInput>& input)
{
    for (const TInput& item : input) {
        ApplyRequests();
        if (!FLine.IsOpen()) return;
        if (item.Purged) {
            FCurrentArrival = item.At;
            FEngine.InputPurged(item.Line);
            continue;
        }
        const std::chrono::nanoseconds byteTime = ByteTime(item.Line);
        for (const uint8_t b : item.Bytes) {
            if (FOptions.Paced) {
                FInboundFree = std::max(FInboundFree, item.At) + byteTime;
                FCurrentArrival = FInboundFree;
            } else {
                FCurrentArrival = item.At;
            }
            FEngine.HostByte(b, item.Line);
            if (!FLine.IsOpen()) return;
            std::lock_guard<std::mutex> lock(FMutex);
            if (FStopRequested) return;
        }
    }
}

// Sleeps until the time, unless a stop or hang-up is requested (false).
bool TUnitSim::TImpl::SleepUntil(TClock::time_point until)
{
    for (;;) {
        const TClock::time_point now = TClock::now();
        if (now >= until) return true;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - now);
        timespec timeout{static_cast<time_t>(left.count() / 1000000000LL),
                         static_cast<long>(left.count() % 1000000000LL)};
        pollfd fd{FWake, POLLIN, 0};
        if (::ppoll(&fd, 1, &timeout, nullptr) > 0 && ConsumeWake()) return false;
    }
}

void TUnitSim::TImpl::WriteLine(const std::vector<uint8_t>& bytes)
{
    if (!FLine.Write(bytes, FWake, [this] { return ConsumeWake(); })) ApplyRequests();
}

void TUnitSim::TImpl::Send(const TUnitReply& reply)
{
    const TLineState line = FLine.Line();
    const std::chrono::nanoseconds byteTime = FOptions.Paced ? ByteTime(line) : std::chrono::nanoseconds(0);
    TClock::time_point start = std::max(TClock::now(), FCurrentArrival);
    if (FOptions.Paced) start = std::max(start, FOutboundFree);
    start += std::chrono::milliseconds(reply.DelayMs);

    // Each part leaves whole once its last byte would have left the wire.
    TClock::time_point end = start + byteTime * static_cast<int64_t>(reply.Noise.size());
    if (!reply.Noise.empty()) {
        if (!SleepUntil(end)) return ApplyRequests();
        WriteLine(reply.Noise);
        RecordReply("noise", reply.Noise, reply.Noise);
    }
    end += byteTime * static_cast<int64_t>(reply.Line.size());
    if (!reply.Line.empty()) {
        if (!SleepUntil(end)) return ApplyRequests();
        if (!FLine.IsOpen()) return;
        WriteLine(reply.Line);
        RecordReply(reply.Label, reply.Plain, reply.Line);
    }
    FOutboundFree = end;
}

void TUnitSim::TImpl::RecordReply(const std::string& label, const std::vector<uint8_t>& plain,
                                  const std::vector<uint8_t>& line)
{
    TSimFrame frame;
    frame.Direction = sdUnitToHost;
    frame.Plain = plain;
    frame.Line = line;
    frame.Label = label;
    frame.BitRate = FLine.Line().BitRate;
    Record(std::move(frame));
}

void TUnitSim::TImpl::Record(TSimFrame frame)
{
    if (FOptions.OnFrame) FOptions.OnFrame(frame);
    if (!FOptions.KeepTranscript) return;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FTranscript.push_back(std::move(frame));
    }
    FChanged.notify_all();
}

void TUnitSim::TImpl::HangUp()
{
    if (!FLine.IsOpen()) return;
    FLine.Close();
    if (!FOptions.LinkPath.empty()) RemoveLink(FOptions.LinkPath, FSlavePath);
    // Last, the state: whoever waits for it finds everything else done.
    if (FOptions.OnHangUp) FOptions.OnHangUp();
    FEngine.LineGone();
}

void TUnitSim::TImpl::StateChanged(TUnitState state)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FState = state;
    }
    FChanged.notify_all();
}

// ---- Public face ----------------------------------------------------------------

TUnitSim::TUnitSim(const TUnitSimOptions& options) : FImpl(std::make_unique<TImpl>(options)) {}

TUnitSim::~TUnitSim() = default;

std::string TUnitSim::PortPath() const { return FImpl->FSlavePath; }

void TUnitSim::OperatorReset()
{
    {
        std::lock_guard<std::mutex> lock(FImpl->FMutex);
        FImpl->FResetRequested = true;
    }
    FImpl->Wake();
}

std::vector<uint8_t> TUnitSim::Flash() const { return FImpl->FFlash.Contents(); }

void TUnitSim::LoadFlash(uint32_t address, const std::vector<uint8_t>& bytes) { FImpl->FFlash.Load(address, bytes); }

std::vector<TSimFrame> TUnitSim::Transcript() const
{
    std::lock_guard<std::mutex> lock(FImpl->FMutex);
    return FImpl->FTranscript;
}

void TUnitSim::ClearTranscript()
{
    std::lock_guard<std::mutex> lock(FImpl->FMutex);
    FImpl->FTranscript.clear();
}

void TUnitSim::HangUp()
{
    {
        std::lock_guard<std::mutex> lock(FImpl->FMutex);
        if (FImpl->FState == usHungUp) return;
        FImpl->FHangUpRequested = true;
    }
    FImpl->Wake();
    WaitForState(usHungUp, 5000);
}

TUnitState TUnitSim::State() const
{
    std::lock_guard<std::mutex> lock(FImpl->FMutex);
    return FImpl->FState;
}

bool TUnitSim::WaitForState(TUnitState state, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(FImpl->FMutex);
    return FImpl->FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FImpl->FState == state; });
}

bool TUnitSim::WaitForFrame(const std::string& label, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(FImpl->FMutex);
    return FImpl->FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const TSimFrame& frame : FImpl->FTranscript)
            if (frame.Label == label) return true;
        return false;
    });
}
