// The host's end of the cable for tests of the simulated unit, in plain
// POSIX calls on the pseudo-terminal's slave side: open at a bit rate,
// purge, write, read with a deadline, and the link's running scramble
// counter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

TBytes Bytes(const std::string& text);

// The divisor a host computes for a rate change (the unit must agree).
uint8_t HostDivisor(uint8_t reply, uint32_t currentRate, uint32_t newRate);

class THostLine {
public:
    explicit THostLine(std::string path, uint32_t bitRate = 9600);
    ~THostLine();
    THostLine(const THostLine&) = delete;
    THostLine& operator=(const THostLine&) = delete;

    void Open(uint32_t bitRate);
    void Close();
    bool IsOpen() const { return FFd >= 0; }
    void SetRate(uint32_t bitRate);
    void SetTwoStopBits(bool two); // 8N2 instead of 8N1 (a pty keeps no parity)
    void Purge();                  // drops received bytes not yet read
    void Write(const TBytes& bytes);
    // Reads up to count bytes, waiting at most timeoutMs for all of them.
    TBytes Read(size_t count, int timeoutMs);
    // Waits for the unit's side to go away (hang-up); false when it stays.
    bool WaitHangUp(int timeoutMs);

    // Plain frames: purge, write, read the reply.
    TBytes Transact(const TBytes& request, size_t replyCount, int timeoutMs = 500);
    // Scrambled frames with the running counter (the reply is unscrambled
    // only when it arrived in full, as the programmer does).
    void ResetCounter() { FCounter = 0; }
    uint8_t Counter() const { return FCounter; }
    TBytes Scramble(const TBytes& bytes);
    void SendScrambled(const TBytes& bytes);
    TBytes TransactScrambled(const TBytes& request, size_t replyCount, int timeoutMs = 500);

    // The whole speed change as the programmer does it, from the connect
    // rate to newRate: the divisor for newRate, then a reopen at lineRate
    // (0: newRate; another value plays a host that switches wrongly).
    // Returns the unscrambled echo (empty on no reply).
    TBytes ChangeSpeed(uint32_t newRate, uint32_t lineRate = 0);
    // The user-method connect exchange followed by the speed change.
    bool LinkUp(const TBytes& command, uint32_t programRate);

    uint32_t Rate() const { return FRate; }

private:
    std::string FPath;
    int FFd = -1;
    uint32_t FRate = 9600;
    uint8_t FCounter = 0;
};

// Fields most significant byte first, as on the line.
TBytes Field(uint32_t value);
TBytes Concat(std::initializer_list<TBytes> parts);
