// The text forms of the serial settings: what the Setup dialog's lists show,
// the command line's options accept and the run log records.
#pragma once

#include "serial/comport.h"

#include <string>

std::string BaudRateToText(TBaudRate value);
std::string DataBitsToText(TDataBits value);
std::string StopBitsToText(TStopBits value);
std::string ParityToText(TParityBits value);
std::string FlowControlToText(TFlowControl value);

// Upper-cased exact match against the text forms; a text that matches
// none gives the type's default (br9600, dbEight, sbOneStopBit, prNone,
// fcCustom).
TBaudRate TextToBaudRate(const std::string& text);
TDataBits TextToDataBits(const std::string& text);
TStopBits TextToStopBits(const std::string& text);
TParityBits TextToParity(const std::string& text);
TFlowControl TextToFlowControl(const std::string& text);
