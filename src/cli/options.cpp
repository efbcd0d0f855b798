#include "cli/options.h"

#include "cli/exitcodes.h"
#include "core/text.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <optional>

namespace {
// The device a port name stands for, with links followed where the device
// exists: two names of one adapter are the same port.
std::string SameDeviceKey(const std::string& port)
{
    const std::string device = PortDevicePath(port);
    const QString canonical = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical.toStdString();
}

// Every --port value, a comma list split; "" for the first port that two
// names give twice, else the usage error.
std::string ReadPorts(const QStringList& values, std::vector<std::string>& ports)
{
    std::vector<std::string> keys;
    for (const QString& value : values) {
        for (const QString& part : value.split(',')) {
            const std::string port = part.trimmed().toStdString();
            if (port.empty()) return "--port needs a port name";
            const std::string key = SameDeviceKey(port);
            for (size_t i = 0; i < keys.size(); ++i)
                if (keys[i] == key)
                    return "port " + port + " is given twice" +
                           (ports[i] != port ? " (as " + ports[i] + " too)" : std::string()) +
                           ": each unit of a gang needs a port of its own";
            keys.push_back(key);
            ports.push_back(port);
        }
    }
    return "";
}

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
bool ReadSetting(const QCommandLineParser& parser, const QCommandLineOption& option, T first, T last,
                 T (*fromText)(const std::string&), std::string (*toText)(T), T& setting, std::string& error)
{
    if (!parser.isSet(option)) return true;
    const std::string text = parser.value(option).toStdString();
    const std::optional<T> value = SettingFromText(text, fromText, toText);
    if (!value || *value < first || *value > last) {
        error = "bad value \"" + text + "\" for --" + option.names().constLast().toStdString() + " (one of " +
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
           "Gang: with several ports each unit is programmed by a process of its own, all\n"
           "at once; --yes is required, as nobody can answer a unit's questions then. On a\n"
           "terminal a live table shows each port's step, percent, bit rate and time left;\n"
           "otherwise each line comes with its port. A summary table ends it: port, adapter\n"
           "serial, unit identity, result, time and exit code.\n"
           "Station: --repeat programs unit after unit on one port (--count N: N units),\n"
           "with a tally of passed and failed. Between units it waits for Enter on a\n"
           "terminal; without one it tries the user method every 3 s, first until the last\n"
           "unit no longer answers (take it off), then until the next one answers.\n"
           "Both end with 0 only when every unit passed, otherwise with 14; each unit's own\n"
           "code is in its line and its log record. Ctrl-C between a station's units ends it\n"
           "at once; during units it stops them at their next safe point.\n"
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
    // Each option once, as an object: what is asked of the parser below
    // names the object, so a misspelt option cannot compile.
    const QCommandLineOption port(
        "port",
        "Serial port: a name as --list-ports shows it (see the notes below). Several (--port again, or a comma "
        "list): a gang that programs a unit on each at once.",
        "NAME", QString::fromStdString(defaults.Port()));
    const QCommandLineOption baud("baud", "Bit rate of the connection.", "RATE",
                                  QString::fromStdString(BaudRateToText(defaults.BaudRate())));
    const QCommandLineOption dataBits("data-bits", "Data bits: 5, 6, 7 or 8.", "N",
                                      QString::fromStdString(DataBitsToText(defaults.DataBits())));
    const QCommandLineOption stopBits("stop-bits", "Stop bits: 1, 1.5 or 2.", "N",
                                      QString::fromStdString(StopBitsToText(defaults.StopBits())));
    const QCommandLineOption parity("parity", "Parity: None, Odd, Even, Mark or Space.", "PARITY",
                                    QString::fromStdString(ParityToText(defaults.Parity().Bits())));
    const QCommandLineOption yes({"y", "yes"},
                                 "Allow the boot method without asking; do not wait at the cabling page.");
    const QCommandLineOption quiet({"q", "quiet"}, "Print only the outcome (and questions that need an answer).");
    const QCommandLineOption log("log", "Append one JSON line describing the run to FILE.", "FILE");
    const QCommandLineOption verifyOnly("verify-only",
                                        "Only check that the unit holds this image: connect, read the flash back,\n"
                                        "compare and restart the unit; nothing is erased or programmed.");
    const QCommandLineOption info("info", "Print the embedded image's name, unit type, model and size, and exit.");
    const QCommandLineOption listPorts("list-ports",
                                       "Print the serial ports with what the system knows of each, and exit.");
    const QCommandLineOption json("json", "With --list-ports: print the list as JSON, for scripts.");
    const QCommandLineOption repeat("repeat",
                                    "Station: after each unit wait for the next one on the same port (see below).");
    const QCommandLineOption count("count", "Station: stop after N units (implies --repeat).", "N");
    QCommandLineOption feed("progress-feed", "Progress as JSON lines, for a gang's parent process.");
    feed.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({port, baud, dataBits, stopBits, parity, yes, quiet, log, verifyOnly, info, listPorts, json,
                       repeat, count, feed});

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
    if (parser.isSet(info) && parser.isSet(listPorts)) return usage("--info and --list-ports exclude each other");

    if (parser.isSet(port)) {
        const std::string portError = ReadPorts(parser.values(port), options.Ports);
        if (!portError.empty()) return usage(portError);
        for (const std::string& port : options.Ports) {
            if (!IsUsbPortName(port)) continue;
            std::string error;
            const std::optional<TUsbAdapterName> adapter = ParseUsbPortName(port, error);
            if (!adapter) return usage(error);
            if (options.Ports.size() == 1) options.UsbAdapter = adapter;
        }
        options.Port = options.Ports.front();
    } else {
        options.Ports = {options.Port};
    }
    std::string error;
    if (!ReadSetting(parser, baud, br110, br256000, TextToBaudRate, BaudRateToText, options.BaudRate, error) ||
        !ReadSetting(parser, dataBits, dbFive, dbEight, TextToDataBits, DataBitsToText, options.DataBits, error) ||
        !ReadSetting(parser, stopBits, sbOneStopBit, sbTwoStopBits, TextToStopBits, StopBitsToText, options.StopBits,
                     error) ||
        !ReadSetting(parser, parity, prNone, prSpace, TextToParity, ParityToText, options.Parity, error))
        return usage(error);
    // Every serial driver refuses the other pairs when the port is set up,
    // long after the operator could have been told.
    if ((options.StopBits == sbOne5StopBits && options.DataBits != dbFive) ||
        (options.StopBits == sbTwoStopBits && options.DataBits == dbFive))
        return usage("--stop-bits " + StopBitsToText(options.StopBits) + " does not go with --data-bits " +
                     DataBitsToText(options.DataBits) +
                     " (1 stop bit goes with any data bits, 1.5 with 5 only, 2 with 6, 7 or 8)");
    options.AssumeYes = parser.isSet(yes);
    options.Quiet = parser.isSet(quiet);
    options.VerifyOnly = parser.isSet(verifyOnly);
    if (parser.isSet(log)) {
        options.LogPath = parser.value(log).toStdString();
        if (options.LogPath.empty()) return usage("--log needs a file name");
    }
    options.ProgressFeed = parser.isSet(feed);
    options.Repeat = parser.isSet(repeat) || parser.isSet(count);
    if (parser.isSet(count)) {
        bool number = false;
        options.Count = parser.value(count).toInt(&number);
        if (!number || options.Count < 1)
            return usage("bad value \"" + parser.value(count).toStdString() +
                         "\" for --count (a whole number, 1 or more)");
    }
    if (options.VerifyOnly && options.Repeat)
        return usage("--verify-only checks the one unit on the port; it does not go with --repeat or --count");
    if (options.Ports.size() > 1) {
        if (options.Repeat)
            return usage("--repeat and --count work on one port; a gang of several ports programs each unit once");
        // Each unit's run is a process of its own without the terminal:
        // a question it asked could not be answered.
        if (!options.AssumeYes)
            return usage("several ports program their units at once, and nobody can answer a unit's questions "
                         "then: add --yes (the boot method is allowed, the cabling page is not waited for)");
        result.Action = TCliAction::Gang;
    }
    if (parser.isSet(info)) result.Action = TCliAction::Info;
    if (parser.isSet(json) && !parser.isSet(listPorts)) return usage("--json goes with --list-ports");
    if (parser.isSet(listPorts)) result.Action = TCliAction::ListPorts;
    result.Json = parser.isSet(json);
    return result;
}
