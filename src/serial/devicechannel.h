// The device serial channel: the port the protocol talks through, with
// reply time-outs, the running link scrambler and waits that keep the
// application's events flowing.
#pragma once

#include "serial/comport.h"

#include <cstdint>

// A reply did not arrive in full within the reply time-out.
class EMorvexComTimeout : public Exception {
public:
    EMorvexComTimeout() : Exception("No Reply Within Time Out Period", TFailureCause::NoReply) {}
};

class TMorvexComPort : public TComPort {
    Q_OBJECT
public:
    explicit TMorvexComPort(QObject* owner = nullptr);

    void ResetScramble() { FScrambleCounter = 0; }
    uint8_t ScrambleCounter() const { return FScrambleCounter; }
    void SetReplyTimeout(int32_t ms);

    // Drops every received byte not yet read, then writes all bytes.
    void SendPlain(const uint8_t* bytes, int32_t count);
    // SendPlain, then reads exactly replyCount bytes within the reply
    // time-out or raises EMorvexComTimeout (arrived bytes stay in reply).
    void TransactPlain(const uint8_t* request, int32_t count, int32_t replyCount, uint8_t* reply);
    // XORs each byte with the running counter; the same call unscrambles.
    void ScrambleBytes(uint8_t* buffer, int32_t count);
    void SendScrambled(const uint8_t* bytes, int32_t count);
    void TransactScrambled(const uint8_t* request, int32_t count, int32_t replyCount, uint8_t* reply);

    // Waits at least ms milliseconds while the application handles its events.
    void WaitMs(int32_t ms);
    // Copies the line settings and port name; an open port is closed and reopened.
    void CopySettingsFrom(const TComPort& source);
    int32_t ActualBaudRate() const;

private:
    uint8_t FScrambleCounter = 0;
};
