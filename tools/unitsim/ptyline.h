// The unit's end of the cable: the master side of a pseudo-terminal pair in
// packet mode, a slave descriptor held open by the unit itself, and a watch
// on the slave device that reports the host opening and closing it.
//
// Holding a slave descriptor keeps the terminal alive while the host closes
// and reopens its side (as it does at the speed change and after each run),
// so the master never reports a hang-up in a loop; it also keeps the host's
// line settings, which the master reads back to learn the bit rate.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/unitsim/simline.h"

class TPtyLine {
public:
    TPtyLine(); // raises std::runtime_error when no pseudo-terminal can be had
    ~TPtyLine();
    TPtyLine(const TPtyLine&) = delete;
    TPtyLine& operator=(const TPtyLine&) = delete;

    const std::string& SlavePath() const { return FSlavePath; }
    bool IsOpen() const { return FMaster >= 0; }
    int MasterFd() const { return FMaster; }
    int WatchFd() const { return FWatch; }

    // The settings the host has given its side of the line.
    TLineState Line() const;

    enum TReadResult { rrData, rrPurged, rrStatus, rrEmpty, rrGone };
    // One packet from the master: data bytes, the news that the host purged
    // its input, another change of the host's line state, or nothing for now.
    TReadResult Read(std::vector<uint8_t>& data);

    // Writes every byte, waiting for room in the host's input queue. While
    // waiting it also watches wakeFd; when that becomes readable it calls
    // shouldAbort(), which must consume the wake-up, and gives up (false)
    // when that says so.
    bool Write(const std::vector<uint8_t>& bytes, int wakeFd, const std::function<bool()>& shouldAbort);

    // Host opens (+1) and closes (-1) of the slave device since the last call.
    std::vector<int> ReadWatch();

    // Closes the master side: the host's side hangs up, as when a USB adapter
    // is unplugged.
    void Close();

private:
    int FMaster = -1;
    int FSlave = -1;
    int FWatch = -1;
    std::string FSlavePath;
};
