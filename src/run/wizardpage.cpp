#include "run/wizardpage.h"

#include "core/text.h"
#include "target/unitmodels.h"

namespace {
const std::vector<std::string> InstructionsArrow = {
    "Instructions:", " 1 Connect a serial cable to serial port of", "    the $UNIT as shown (by red arrow)",
    " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"};
const std::vector<std::string> InstructionsPlain = {
    "Instructions:", " 1 Connect a serial cable to serial port of", "    the $UNIT as shown",
    " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"};
const std::vector<std::string> InstructionsSerial2 = {
    "Instructions:", " 1 Connect a serial cable to SERIAL 2 of the", "    $UNIT as shown",
    " 2 Connect the other end to the PC serial port", " 3 Click the 'Next' button"};
const std::string CableInformation = "\rCable Information:\r"
                                     "  Crossed DB9 Female - DB9 Female\r"
                                     "  RS232 Serial Cable\r"
                                     "    Pin      Pin\r"
                                     "     2  ----  3\r"
                                     "     3  ----  2\r"
                                     "     5  ----  5";
const std::string UnitPlaceholder = "$UNIT";

const std::vector<std::string>* InstructionLines(TInstructionSet set)
{
    switch (set) {
    case TInstructionSet::Arrow: return &InstructionsArrow;
    case TInstructionSet::Plain: return &InstructionsPlain;
    case TInstructionSet::Serial2: return &InstructionsSerial2;
    case TInstructionSet::None: break;
    }
    return nullptr;
}

}

std::optional<TWizardPage> WizardPage(uint32_t unitType)
{
    const TUnitType* type = FindUnitType(unitType);
    if (!type || !type->CablePicture) return std::nullopt;
    const std::vector<std::string>* instructions = InstructionLines(type->Instructions);
    if (!instructions) return std::nullopt;
    std::string text;
    for (const std::string& line : *instructions) text += line + "\r\n";
    text += CableInformation;
    const std::string model = UnitModelNames[unitType];
    for (size_t at = text.find(UnitPlaceholder); at != std::string::npos;
         at = text.find(UnitPlaceholder, at + model.size()))
        text.replace(at, UnitPlaceholder.size(), model);
    return TWizardPage{SplitLines(text), type->CablePicture};
}
