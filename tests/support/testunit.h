// The simulated unit on a pseudo-terminal as every end-to-end test starts
// it, with what those tests ask of it: its transcript searched by frame,
// the host's close awaited, and, after a run, its port checked.
#pragma once

#include "tools/unitsim/unitsim.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a unit's flash holds before a run: firmware other than any test
// image, so that every byte a run changed, or failed to change, shows.
std::vector<uint8_t> OldFirmware();

// The terminal's path and the unit's own descriptors on it are taken when
// the unit starts: after a hang-up the terminal is gone and its name may
// already belong to another program's.
class TTestUnit : public TUnitSim {
public:
    explicit TTestUnit(const TUnitSimOptions& options);

    // The pseudo-terminal the host opens, as it was named at the start.
    const std::string& Terminal() const { return FTerminal; }

    // The index-th frame with this exact label, if there is one.
    std::optional<TSimFrame> Frame(const std::string& label, int index = 0) const;
    size_t CountFrames(const std::string& label) const;
    size_t CountFramesStartingWith(const std::string& prefix) const;
    bool HasFrame(const std::string& label) const { return CountFrames(label) > 0; }
    // The label of the last frame the host sent, "" when there is none.
    std::string LastHostFrame() const;
    // The last frames, one line each, for a failing test's output.
    std::string DescribeTail(size_t count) const;

    // Waits until the unit has handled everything the host sent before it
    // closed the port (nothing is left to arrive once it has seen the
    // close); a test failure when that takes more than 10 s.
    void WaitForHostToLetGo() const;
    // No descriptor of this process left on the terminal beyond the unit's
    // own and, while the line still exists, free for an exclusive open. A
    // unit that began to hang up finishes it on its own thread, possibly
    // after the program saw the line go and ended the run: the check waits
    // for that end rather than take the state of the moment.
    void ExpectPortReleased() const;

    // For a unit that started with OldFirmware(): it now holds the demo
    // image's area with its old firmware below; or no erase ever reached it
    // and its flash is as it was.
    void ExpectDemoAreaProgrammed() const;
    void ExpectFlashUntouched() const;

private:
    std::string FTerminal;
    int FOwnDescriptors = 0;
};
