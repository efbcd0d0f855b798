// What the unit's protocol engine needs from the line around it: the line's
// current settings, a way to send a reply with its line time, and a place to
// record frames and events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/unitsim/unitsim.h"

// The host's line settings as the unit hears them.
struct TLineState {
    uint32_t BitRate = 9600;
    uint32_t BitsPerByte = 10; // start bit, data bits, parity bit, stop bits
};

struct TUnitReply {
    std::string Label;
    std::vector<uint8_t> Plain; // the reply as the unit means it
    std::vector<uint8_t> Line;  // the reply as it goes on the wire
    std::vector<uint8_t> Noise; // line noise before the reply
    int DelayMs = 0;            // time the unit takes before it starts to answer
};

class TUnitPort {
public:
    virtual ~TUnitPort() = default;
    // Puts the reply on the line; returns once its last byte has left.
    virtual void Send(const TUnitReply& reply) = 0;
    virtual void Record(TSimFrame frame) = 0;
    // Closes the unit's side of the line for good.
    virtual void HangUp() = 0;
    virtual void StateChanged(TUnitState state) = 0;
};
