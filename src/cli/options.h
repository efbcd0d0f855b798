// The command line of morvex-flash-cli. The connection options are the
// Setup dialog's settings: whatever is not given keeps the run's default,
// and every value is read through the serial layer's own text forms.
#pragma once

#include "cli/usbport.h"
#include "serial/comport.h"

#include <QStringList>
#include <string>
#include <vector>

enum class TCliAction {
    Program,   // one programming run, or a station's run after run (Repeat)
    Gang,      // one unit on each of several ports at once, a child process each
    Info,      // describe the embedded image
    ListPorts, // the Port list with what the system knows of each port
    Help,
    Version,
    Usage, // the command line cannot be carried out: Error says why
};

struct TCliOptions {
    std::string Port;               // the one port, or the first of a gang's
    std::vector<std::string> Ports; // every port given, in order (a gang has two or more)
    std::optional<TUsbAdapterName> UsbAdapter; // --port usb:...: the port is the one this adapter is on
    TBaudRate BaudRate = br9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;
    bool AssumeYes = false; // --yes: the boot method is allowed, the cabling page is not waited for
    bool Quiet = false;     // --quiet: only the outcome (and questions that need an answer)
    std::string LogPath;    // --log: "" for none
    bool VerifyOnly = false; // --verify-only: compare the unit's flash with the image, change nothing
    bool Repeat = false;    // --repeat (or --count): unit after unit on the one port
    int Count = 0;          // --count: how many units the station programs, 0 for no limit
    bool ProgressFeed = false; // --progress-feed (hidden): progress as JSON lines for a gang's parent
};

struct TCommandLine {
    TCliAction Action = TCliAction::Program;
    TCliOptions Options;
    std::string Error; // Usage: what is wrong, one line
    std::string Help;  // Help: the whole text
    bool Json = false; // ListPorts: as JSON
};

// Parses the arguments, the program's name first. The connection settings
// start from those of defaults (the run's connection port); description
// opens the help text. Needs the application object (for its name).
TCommandLine ParseCommandLine(const QStringList& arguments, const TComPort& defaults, const std::string& description);
