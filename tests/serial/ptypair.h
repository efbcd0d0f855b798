// The far end of a pseudo-terminal pair for the serial tests: the port
// under test opens the slave path like any tty, the test plays the device
// on the master side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TPtyPair {
public:
    TPtyPair();
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    const std::string& SlavePath() const { return FSlavePath; }
    int Master() const { return FMaster; }

    void Send(const std::vector<uint8_t>& bytes);
    void Send(const std::string& text) { Send(std::vector<uint8_t>(text.begin(), text.end())); }
    // Reads until `count` bytes arrived or `timeoutMs` passed.
    std::vector<uint8_t> Receive(size_t count, int timeoutMs = 2000);
    // Hangs the slave up, as an unplugged adapter would.
    void Hangup();
    // The bit rate of the slave side, read back through the master.
    int32_t SlaveBitRate() const;

private:
    int FMaster = -1;
    std::string FSlavePath;
};

// The tests' application object, created once on the main thread.
void EnsureApplication();
// Handles the application's events for `ms` milliseconds.
void ServeEvents(int ms);
std::vector<uint8_t> Bytes(const std::string& text);
