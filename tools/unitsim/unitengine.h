// The unit's side of the protocol as a state machine: it hears the host's
// bytes one at a time (with the line settings they arrived at), the host's
// input purges and its opening and closing of the port, and answers through
// a TUnitPort. It knows nothing of pseudo-terminals, threads or time on the
// line; the simulator around it supplies those.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tools/unitsim/faultplan.h"
#include "tools/unitsim/flashmemory.h"
#include "tools/unitsim/simline.h"

class TUnitEngine {
public:
    TUnitEngine(const TUnitSimOptions& options, TFlashMemory& flash, TUnitPort& port);

    void HostByte(uint8_t lineByte, const TLineState& line);
    void InputPurged(const TLineState& line);
    void HostOpened();
    void HostClosed();
    void OperatorReset(bool automatic);
    // The line is gone (hang-up from outside): the unit stops for good.
    void LineGone();

    TUnitState State() const { return FState; }

private:
    // Bytes of one frame, as meant and as on the wire.
    struct TBytes {
        std::vector<uint8_t> Plain;
        std::vector<uint8_t> Line;
        void Add(uint8_t plain, uint8_t line)
        {
            Plain.push_back(plain);
            Line.push_back(line);
        }
        size_t Size() const { return Plain.size(); }
        void Clear()
        {
            Plain.clear();
            Line.clear();
        }
    };
    enum TAnswer { anSent, anGarbled, anSilent, anHungUp };
    enum TCommand { cmNone, cmErase, cmProgram, cmRead };
    enum TStep { stFields, stData, stAck, stClose };

    void SetState(TUnitState state);
    void EnterFirmware(const std::string& why);
    void EnterSpeedWait(const std::vector<uint8_t>& answered, bool byPurge);
    void RecordHost(const std::string& label, const TBytes& bytes, const TLineState& line);
    void RecordEvent(const std::string& label);
    void Complain(const std::string& text);
    void FlushPending(const TLineState& line);
    bool PendingEndsWith(const std::vector<uint8_t>& word) const;

    TAnswer Answer(const TFaultAction& action, const std::string& label, std::vector<uint8_t>& plain, bool scrambled,
                   int delayMs = 0);
    uint8_t Unscramble(uint8_t lineByte) { return static_cast<uint8_t>(lineByte ^ FCounter++); }

    void ConnectByte(uint8_t lineByte, const TLineState& line);
    bool MatchConnect(const std::vector<uint8_t>& word, const std::string& label, const TLineState& line);
    void AnswerConnect(const std::vector<uint8_t>& answered, bool byPurge);
    void IgnoreConnectWord();
    void SpeedByte(uint8_t lineByte, const TLineState& line);
    void EchoByte(uint8_t lineByte, const TLineState& line);
    void CommandByte(uint8_t lineByte, const TLineState& line);
    void StartCommand(const std::string& word, const TLineState& line);
    void FieldsDone(const TLineState& line);
    void SendIdentity();
    void ProgramBlockDone(const TLineState& line);
    void SendReadBlock();

    const TUnitSimOptions FOptions;
    TFlashMemory& FFlash;
    TUnitPort& FPort;
    TFaultPlan FFaults;
    TUnitState FState = usFirmware;
    uint8_t FCounter = 0;

    // Connect exchange: plain bytes heard since the last recorded frame, and
    // which of them were heard at a bit rate the unit does not listen at.
    TBytes FPending;
    std::vector<bool> FMisheard;
    bool FRateComplained = false;
    int FUnansweredWords = 0;

    // Speed change.
    std::vector<uint8_t> FAnswered; // the command whose reply brought the unit into its loader
    bool FAnsweredByPurge = false;
    std::chrono::steady_clock::time_point FAnsweredAt;
    TBytes FSpeed;
    uint32_t FSpeedRate = 0;
    bool FAwaitDivisor = false;
    uint32_t FUnitRate = 0; // the rate the loader runs at after the divisor (0: none the host can use)
    TBytes FEcho;
    bool FEchoMisheard = false;
    uint32_t FEchoRate = 0;
    int FSpeedCloses = 0; // host closes since the speed-change reply

    // Commands.
    TBytes FWord;
    TCommand FCommand = cmNone;
    TStep FStep = stFields;
    TBytes FField;
    TBytes FBlock;
    uint32_t FAddress = 0;
    uint32_t FRemaining = 0;
    int FBlockIndex = 0;
    bool FRefuseProgram = false;
};
