#include "cli/options.h"

#include "cli/exitcodes.h"
#include "core/text.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <optional>

namespace {

// A setting read through its text forms. The forms give the type's default
// for a text they do not know, so a value is taken only when it reads back
// as what was written; the forms from first to last are the accepted ones.
template <typename T>
std::optional<T> SettingFromText(const std::string& text, T (*fromText)(const std::string&), std::string (*toText)(T))
{
    const T value = fromText(text);
    if (!SameTextIgnoringCase(toText(value), text)) return std::nullopt;
    return value;
}

template <typename T>
std::string AcceptedTexts(T first, T last, std::string (*toText)(T))
{
    std::string list;
    for (int value = first; value <= last; ++value) list += (list.empty() ? "" : ", ") + toText(T(value));
    return list;
}

// The text form of a setting, or the usage error that names the option and
// the values it takes.
template <typename T>
bool ReadSetting(const QCommandLineParser& parser, const QString& option, T first, T last,
                 T (*fromText)(const std::string&), std::string (*toText)(T), T& setting, std::string& error)
{
    if (!parser.isSet(option)) return true;
    const std::string text = parser.value(option).toStdString();
    const std::optional<T> value = SettingFromText(text, fromText, toText);
    if (!value || *value < first || *value > last) {
        error = "bad value \"" + text + "\" for --" + option.toStdString() + " (one of " +
                AcceptedTexts(first, last, toText) + ")";
        return false;
    }
    setting = *value;
    return true;
}

std::string HelpNotes(const TComPort& defaults)
{
    return "\n"
           "The connection options are the Setup dialog's settings. Their defaults are the\n"
           "run's own: port " +
           defaults.Port() + ", " + BaudRateToText(defaults.BaudRate()) + " bit/s, " +
           DataBitsToText(defaults.DataBits()) + " data bits, " + StopBitsToText(defaults.StopBits()) +
           " stop bit, parity " + ParityToText(defaults.Parity().Bits()) + ".\n" + PortNamingHelp() +
           "--port usb:VID:PID[:SERIAL] is the port of the USB adapter with these ids (hex)\n"
           "and serial number, as --list-ports shows them.\n"
           "\n"
           "On a terminal the cabling page waits for Enter and a failed user method asks\n"
           "whether to try the boot method. Without a terminal nothing waits, and the boot\n"
           "method is tried only with --yes. Ctrl-C cancels a question or the operator\n"
           "prompt, and otherwise stops the run at the next safe point.\n"
           "\n"
           "Exit status:\n" +
           ExitCodeTable() +
           "\n"
           "--log appends one JSON object per run, on one line (its fields are in the\n"
           "manual page): schema version, program version, times, host, port, adapter and\n"
           "settings, image, its digest, unit type and model, the unit's identity, each\n"
           "step with its duration, the method, the result, the failure kind and the message.\n";
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments, const TComPort& defaults, const std::string& description)
{
    TCommandLine result;
    TCliOptions& options = result.Options;
    options.Port = defaults.Port();
    options.BaudRate = defaults.BaudRate();
    options.DataBits = defaults.DataBits();
    options.StopBits = defaults.StopBits();
    options.Parity = defaults.Parity().Bits();

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromStdString(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
        {"port", "Serial port: a name as --list-ports shows it (see the notes below).", "NAME",
         QString::fromStdString(defaults.Port())},
        {"baud", "Bit rate of the connection.", "RATE", QString::fromStdString(BaudRateToText(defaults.BaudRate()))},
        {"data-bits", "Data bits: 5, 6, 7 or 8.", "N", QString::fromStdString(DataBitsToText(defaults.DataBits()))},
        {"stop-bits", "Stop bits: 1, 1.5 or 2.", "N", QString::fromStdString(StopBitsToText(defaults.StopBits()))},
        {"parity", "Parity: None, Odd, Even, Mark or Space.", "PARITY",
         QString::fromStdString(ParityToText(defaults.Parity().Bits()))},
        {{"y", "yes"}, "Allow the boot method without asking; do not wait at the cabling page."},
        {{"q", "quiet"}, "Print only the outcome (and questions that need an answer)."},
        {"log", "Append one JSON line describing the run to FILE.", "FILE"},
        {"verify-only", "Only check that the unit holds this image: connect, read the flash back,\n"
                        "compare and restart the unit; nothing is erased or programmed."},
        {"info", "Print the embedded image's name, unit type, model and size, and exit."},
        {"list-ports", "Print the serial ports with what the system knows of each, and exit."},
        {"json", "With --list-ports: print the list as JSON, for scripts."},
    });

    if (!parser.parse(arguments)) {
        result.Action = TCliAction::Usage;
        result.Error = parser.errorText().toStdString();
        return result;
    }
    if (parser.isSet(help)) {
        result.Action = TCliAction::Help;
        result.Help = parser.helpText().toStdString() + HelpNotes(defaults);
        return result;
    }
    if (parser.isSet(version)) {
        result.Action = TCliAction::Version;
        return result;
    }
    auto usage = [&result](std::string error) {
        result.Action = TCliAction::Usage;
        result.Error = std::move(error);
        return result;
    };
    if (!parser.positionalArguments().isEmpty())
        return usage("unexpected argument \"" + parser.positionalArguments().first().toStdString() +
                     "\" (the image is the one built into this program)");
    if (parser.isSet("info") && parser.isSet("list-ports")) return usage("--info and --list-ports exclude each other");

    if (parser.isSet("port")) {
        options.Port = parser.value("port").toStdString();
        if (options.Port.empty()) return usage("--port needs a port name");
        if (IsUsbPortName(options.Port)) {
            std::string error;
            options.UsbAdapter = ParseUsbPortName(options.Port, error);
            if (!options.UsbAdapter) return usage(error);
        }
    }
    std::string error;
    if (!ReadSetting(parser, "baud", br110, br256000, TextToBaudRate, BaudRateToText, options.BaudRate, error) ||
        !ReadSetting(parser, "data-bits", dbFive, dbEight, TextToDataBits, DataBitsToText, options.DataBits, error) ||
        !ReadSetting(parser, "stop-bits", sbOneStopBit, sbTwoStopBits, TextToStopBits, StopBitsToText, options.StopBits,
                     error) ||
        !ReadSetting(parser, "parity", prNone, prSpace, TextToParity, ParityToText, options.Parity, error))
        return usage(error);
    // Every serial driver refuses the other pairs when the port is set up,
    // long after the operator could have been told.
    if ((options.StopBits == sbOne5StopBits && options.DataBits != dbFive) ||
        (options.StopBits == sbTwoStopBits && options.DataBits == dbFive))
        return usage("--stop-bits " + StopBitsToText(options.StopBits) + " does not go with --data-bits " +
                     DataBitsToText(options.DataBits) +
                     " (1 stop bit goes with any data bits, 1.5 with 5 only, 2 with 6, 7 or 8)");
    options.AssumeYes = parser.isSet("yes");
    options.Quiet = parser.isSet("quiet");
    options.VerifyOnly = parser.isSet("verify-only");
    if (parser.isSet("log")) {
        options.LogPath = parser.value("log").toStdString();
        if (options.LogPath.empty()) return usage("--log needs a file name");
    }
    if (parser.isSet("info")) result.Action = TCliAction::Info;
    if (parser.isSet("json") && !parser.isSet("list-ports")) return usage("--json goes with --list-ports");
    if (parser.isSet("list-ports")) result.Action = TCliAction::ListPorts;
    result.Json = parser.isSet("json");
    return result;
}
