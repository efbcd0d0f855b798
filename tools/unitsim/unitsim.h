// The simulated unit: our stand-in for the instrument at the other end of the
// serial cable.
//
// It opens a pseudo-terminal pair, keeps the master side and speaks the
// unit's side of every frame on it; the host (our programmer, or a test
// playing the host) opens the slave path like a real serial device. The
// unit runs on its own thread; every call below is safe from any thread.
//
// The unit's behaviour, frame by frame (every byte from the speed-change
// request on is XORed with a running 8-bit counter that both ends keep):
// - running firmware: answers its model's user command (ModelUserCommand)
//   with the reply word "SwItChUp", plain, and enters its loader. Type 14 has
//   an empty command: its firmware answers when the host purges its input.
// - boot loader (after OperatorReset, or automatically after
//   AutoResetAfterConnectWords connect words): answers the connect word
//   "SwItChUp" with "SwItChUp".
// - speed change: 0x44 0x05 -> reply R (SpeedReply) -> divisor D -> the host
//   switches its line to the programming rate -> "ABCDE" echoed. The unit
//   checks D against the rate the host connected at and the model's
//   programming rate, and it checks the line really runs at that rate when
//   "ABCDE" arrives; a mismatch is answered with garbage, as a unit at
//   another bit rate would hear and answer.
// - "IDEN" -> 40 bytes "seed:start:size:name\n" (upper-case hex), 0x00 filled.
// - "ERAS" start length -> "$" after the erase time ("%" for a range outside
//   the 128 KB flash).
// - "PROG" start size -> blocks of up to 128 bytes, each answered 0x00, the
//   host's 0x00 between blocks, the host's closing 0x00 answered "#".
//   Programming only clears bits, as real flash does: programming over an
//   area that was not erased leaves the AND of old and new contents.
// - "READ" start length -> the first block of up to 32 bytes at once, the
//   next block for each host 0x00, and one closing host 0x00 after the last.
// - "RSET" -> back to running firmware. Closing the port also brings the unit
//   back to running firmware once its loader is in use, except for the close
//   and reopen of the speed change, so a simulator serves run after run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/demounit.h"
#include "tools/unitsim/unitcatalogue.h"

// The points at which the unit answers (or, for RSET, acts); a fault names
// one of them.
enum TFramePhase {
    fpConnect,      // reply to the user command, the type-14 purge, or the connect word
    fpSpeedReply,   // reply R to the speed-change request 0x44 0x05
    fpSpeedEcho,    // echo of "ABCDE"
    fpIdentity,     // 40-byte identity reply to "IDEN"
    fpErase,        // erase status
    fpProgramBlock, // status after each program block
    fpProgramClose, // status after the host's closing 0x00
    fpReadBlock,    // each block of a read
    fpReset         // "RSET" (no reply; only a hang-up applies)
};

enum TFaultKind {
    fkSilence,    // no reply at all
    fkWrongReply, // Bytes instead of the reply (empty Bytes: the reply with its byte SpoiledByte XOR 0x40)
    fkShortReply, // only the first half of the reply (nothing for a one-byte reply)
    fkNoise,      // Value (default 3) noise bytes on the line before the reply
    fkSlowReply,  // the reply leaves Value ms (default 1500) later than it would
    fkHangUp,     // the master side is closed instead of answering
    fkWrongStart, // identity reports flash start Value (default: the true start + 0x100)
    fkWrongSize   // identity reports flash size Value (default: the true size - 0x100)
};

// One fault at one frame. Index counts the frames of that phase since the
// host opened the port to the running firmware (0 is the first); -1 means
// every frame of the phase. fpConnect counts every connect exchange the unit
// hears (user command, purge for type 14, connect word), answered or not.
struct TUnitFault {
    TFaultKind Kind = fkSilence;
    TFramePhase Phase = fpConnect;
    int Index = -1;
    std::vector<uint8_t> Bytes;    // fkWrongReply: plain bytes sent instead of the reply
    std::optional<uint32_t> Value; // fkNoise, fkSlowReply, fkWrongStart, fkWrongSize
    // fkWrongReply without Bytes: the byte of the reply that is spoiled,
    // counted from 0; kLastByte for the last (a check that stops one byte
    // short notices no fault in the first).
    int SpoiledByte = 0;
};
inline constexpr int kLastByte = -1;

enum TSimDirection {
    sdHostToUnit,
    sdUnitToHost,
    sdEvent // something the unit noticed or did: purge, open/close, reset, hang-up, a complaint
};

// One frame as the unit saw or sent it. Plain holds the bytes before
// scrambling (after unscrambling for host frames); Line the bytes on the
// wire. Before the speed change both are the same. Events carry no bytes.
struct TSimFrame {
    TSimDirection Direction = sdEvent;
    std::vector<uint8_t> Plain;
    std::vector<uint8_t> Line;
    std::string Label;
    uint32_t BitRate = 0; // the line's bit rate when the frame passed
};

struct TUnitSimOptions {
    uint32_t UnitType = 3; // below kSimModelCount: area, user command, programming rate, name
    uint16_t ChecksumSeed = kDemoChecksumSeed;
    bool FirmwareAnswersUserCommand = true; // false: the firmware ignores its command (boot method only)
    int AutoResetAfterConnectWords = -1;    // >= 0: the operator resets the unit after that many
                                            // unanswered connect words (0: before the first)
    bool Paced = false;                     // each byte takes its line time: start, data and stop bits at
                                            // the host's rate (a pty keeps no parity: 10 or 11 bits)
    int EraseMs = 0;                        // time the erase takes before "$"
    std::string LinkPath;                   // symlink to the slave, removed with the simulator
    std::vector<TUnitFault> Faults;
    uint8_t SpeedReply = 192;    // the byte R the unit answers the speed-change request with
    uint32_t ConnectRate = 9600; // the rate the firmware and boot loader listen at (0: any)
    std::string IdentityName;    // name in the identity text (empty: the model's name)
    bool KeepTranscript = true;  // false: frames only go to OnFrame (long-running program)
    // Called on the unit's thread for every frame as it is recorded (verbose output).
    std::function<void(const TSimFrame&)> OnFrame;
    // Called on the unit's thread once the master side has been closed by a hang-up.
    std::function<void()> OnHangUp;
};

// Where the unit is in its protocol.
enum TUnitState {
    usFirmware,   // running firmware
    usBootLoader, // reset by the operator: waits for the connect word
    usSpeedWait,  // answered the connect exchange: waits for the speed-change request
    usEchoWait,   // got the divisor: waits for "ABCDE" at the programming rate
    usCommand,    // link up: waits for a command word
    usBusy,       // inside a command's frames (fields, blocks, acknowledgements)
    usLost,       // out of step after a bad speed change: ignores everything until the port closes
    usHungUp      // the master side is closed
};

class TUnitSim {
public:
    explicit TUnitSim(const TUnitSimOptions& options); // raises std::runtime_error when no pty can be opened
    ~TUnitSim();
    TUnitSim(const TUnitSim&) = delete;
    TUnitSim& operator=(const TUnitSim&) = delete;

    std::string PortPath() const;       // slave device path for the host to open
    void OperatorReset();               // the operator resets the unit: it starts in its boot loader
    std::vector<uint8_t> Flash() const; // 128 KB, 0xFF when erased
    void LoadFlash(uint32_t address, const std::vector<uint8_t>& bytes); // preset contents (old firmware)
    std::vector<TSimFrame> Transcript() const;
    void ClearTranscript();
    void HangUp(); // close the master side now (an unplugged adapter)
    TUnitState State() const;
    // Waits until the unit reaches the state (true) or the time is up (false).
    bool WaitForState(TUnitState state, int timeoutMs) const;
    // Waits until a frame with this label is in the transcript.
    bool WaitForFrame(const std::string& label, int timeoutMs) const;

    struct TImpl;

private:
    std::unique_ptr<TImpl> FImpl;
};

std::string UnitStateName(TUnitState state);

// Text forms of faults, as the program takes them on its command line:
//   KIND@PHASE[#INDEX][=VALUE]
// KIND: silence wrong short noise slow hangup wrong-start wrong-size
// PHASE: connect speed-reply speed-echo identity erase program-block
//        program-close read-block reset
// VALUE: for wrong, the reply bytes as text ("%") or as hex digits after 0x
// ("0x2522"); for the others a number (decimal, or hex after 0x).
// Raises std::invalid_argument with a message naming what is wrong.
TUnitFault ParseFault(const std::string& text);
std::string FaultToText(const TUnitFault& fault);
std::string FaultHelpText(); // the list of kinds and phases, for --help

// One line for a frame: direction, label, plain and line bytes in hex.
std::string DescribeFrame(const TSimFrame& frame);
