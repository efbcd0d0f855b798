// The cabling page of a unit type: the instruction lines with the model's
// name filled in, the cable's pin-out, and the name of the unit's picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TWizardPage {
    std::vector<std::string> Lines; // 13: five instructions, an empty line, seven cable lines
    std::string Picture;            // artwork name of the unit's picture
};

// The page for a unit type; none for the types that have no cabling page.
std::optional<TWizardPage> WizardPage(uint32_t unitType);
