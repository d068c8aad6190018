#include "cli/CliOptions.h"

#include "cli/CliHelpText.h"
#include "firmware/ImageFile.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// COM numbers the port component can hold (its number is stored as 8 bits).
constexpr int LastComNumber = 256;

std::optional<TCliOptions> Refuse(QString& Error, const QString& Reason) {
    Error = Reason;
    return std::nullopt;
}

// Told by its content, as the window's Load File tells it; a file that cannot be read
// is left to the load, which says so.
bool IsHexFile(const QString& Path) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray head = file.read(static_cast<qint64>(HexFileLimit));
    return DetectImageFormat(std::span(reinterpret_cast<const uint8_t*>(head.constData()),
                                       static_cast<size_t>(head.size()))) == TImageFormat::IntelHex;
}

} // namespace

QString CliUsage(const QString& ProgramName) {
    return QStringLiteral(
               "Usage: %1 --port COMn|DEVICE [--slave N] [--image FILE --processor N --model N]\n"
               "          [--json FILE|-] [--quiet]\n"
               "       %1 --identify --port COMn|DEVICE [--json FILE|-]\n"
               "       %1 --list-ports | --help | --version\n")
        .arg(ProgramName);
}

QString CliHelp(const QString& ProgramName) {
    return CliUsage(ProgramName) +
           QStringLiteral(R"(
Updates the firmware of one unit on one serial port with this build's image, running the
same upgrade as the window, without a display. Several copies, one per port, may run
side by side.

Options:
  --port COMn|DEVICE   %1
  --slave N            the unit's Modbus slave address, 1 to 247 (default 1); only for
                       the product whose window offers it
  --image FILE         another image: an Intel HEX file (only the 128-byte blocks it
                       holds data for are written) or a raw image of exactly 65536 bytes,
                       with --processor N and --model N taken as the window's Load File
                       takes them (decimal, or hexadecimal after $ or 0x; the low 16 bits
                       are kept); the firmware version stays this build's
  --json FILE|-        write a JSON report (- for standard output: the progress then goes
                       to standard error); a file that cannot be written stops the program
                       before the port is opened. The report is written whole at the end,
                       through a temporary file beside FILE: an existing FILE is replaced
                       only then, and is left as it was when the report cannot be written.
                       FILE may not be the settings file, the image (--image) or this
                       program, by any name (a link counts): refused, status 2
  --quiet              print only the outcome
  --identify           read the unit's identity (running firmware or bootloader) and change
                       nothing
  --list-ports         list the serial ports found, with their COM numbers
  --help               this text
  --version            the program's version and the image it carries: its format, the
                       blocks an update sends and the SHA-256 of their bytes

Each log line is printed as it changes: on a terminal the progress line is rewritten in
place; otherwise one line per stage, with percentages at most every 10 %.

%2
Exit status:
  0   complete: image written, unit restarted and finalised
  1   the run ended without a known outcome (an error message says why)
  2   bad arguments, or the JSON report cannot be written: nothing was started
  3   the port cannot be opened (absent, no permission, in use; for a device server:
      its name does not resolve, it cannot be reached or does not answer)
  4   no reply from the unit
  5   incompatible model: the unit is another model than the image's
  6   erase error: the unit's program memory is partly erased
  7   write error: the unit's program memory is partly written
  8   settings not saved: the unit's settings could not be read; the unit is untouched
  9   settings not restored: the image is written, the unit's settings are not back
  10  stopped by %3 before the erase
  11  complete (or the unit identified), but the JSON report could not be written
      whole; a run that failed keeps its own status. Either way an error message and
      the outcome line say so, and how the update itself ended
)")
               .arg(PortOptionHelp(), StopRequestHelp(), StopRequestPhrase());
}

std::optional<TCliOptions> ParseCliOptions(const QStringList& Arguments, bool SlaveAddressAllowed,
                                           QString& Error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption slave(QStringLiteral("slave"), QString(), QStringLiteral("n"));
    const QCommandLineOption image(QStringLiteral("image"), QString(), QStringLiteral("file"));
    const QCommandLineOption processor(QStringLiteral("processor"), QString(), QStringLiteral("n"));
    const QCommandLineOption model(QStringLiteral("model"), QString(), QStringLiteral("n"));
    const QCommandLineOption json(QStringLiteral("json"), QString(), QStringLiteral("file"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption identify(QStringLiteral("identify"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions(
        {port, slave, image, processor, model, json, quiet, identify, listPorts, help, version});
    if (!parser.parse(Arguments)) {
        return Refuse(Error, parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Refuse(
            Error,
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    }
    // An option given twice would leave one of its values unused.
    for (const QCommandLineOption* option : {&port, &slave, &image, &processor, &model, &json}) {
        if (parser.values(*option).size() > 1) {
            return Refuse(Error,
                          QStringLiteral("--%1 given more than once").arg(option->names().first()));
        }
    }

    TCliOptions options;
    const int actions = int(parser.isSet(identify)) + int(parser.isSet(listPorts)) +
                        int(parser.isSet(help)) + int(parser.isSet(version));
    if (actions > 1) {
        return Refuse(
            Error,
            QStringLiteral("--identify, --list-ports, --help and --version exclude each other"));
    }
    if (parser.isSet(help)) {
        options.Action = TCliAction::Help;
        return options;
    }
    if (parser.isSet(version)) {
        options.Action = TCliAction::Version;
        return options;
    }
    if (parser.isSet(listPorts)) {
        for (const QString& name : parser.optionNames()) {
            if (name != QLatin1String("list-ports")) {
                return Refuse(Error, QStringLiteral("--list-ports takes no other option"));
            }
        }
        options.Action = TCliAction::ListPorts;
        return options;
    }
    options.Action = parser.isSet(identify) ? TCliAction::Identify : TCliAction::Update;

    if (!parser.isSet(port)) {
        return Refuse(Error, QStringLiteral("--port is required"));
    }
    options.Port = parser.value(port);
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch match = comName.match(options.Port); match.hasMatch()) {
        options.ComNumber = match.captured(1).toInt();
        if (options.ComNumber < 1 || options.ComNumber > LastComNumber) {
            return Refuse(
                Error, QStringLiteral("--port: COM numbers run from 1 to %1").arg(LastComNumber));
        }
    } else if (options.Port.isEmpty()) {
        return Refuse(Error, QStringLiteral("--port: empty device name"));
    }

    if (parser.isSet(slave)) {
        if (!SlaveAddressAllowed) {
            return Refuse(
                Error, QStringLiteral("--slave: this product's unit has no slave address to set"));
        }
        bool ok = false;
        const int address = parser.value(slave).toInt(&ok);
        if (!ok || address < FirstSlaveAddress || address > LastSlaveAddress) {
            return Refuse(Error, QStringLiteral("--slave: '%1' is not a slave address (%2 to %3)")
                                     .arg(parser.value(slave))
                                     .arg(FirstSlaveAddress)
                                     .arg(LastSlaveAddress));
        }
        options.Slave = address;
    }

    const bool imageGiven = parser.isSet(image);
    if (imageGiven != parser.isSet(processor) || imageGiven != parser.isSet(model)) {
        return Refuse(Error, QStringLiteral("--image, --processor and --model go together"));
    }
    if (imageGiven) {
        options.ImagePath = parser.value(image);
        options.ProcessorText = parser.value(processor);
        options.ModelText = parser.value(model);
        const QFileInfo file(options.ImagePath);
        if (!file.exists()) {
            return Refuse(Error,
                          QStringLiteral("--image: %1 does not exist").arg(options.ImagePath));
        }
        if (!file.isFile()) {
            return Refuse(Error,
                          QStringLiteral("--image: %1 is not a file").arg(options.ImagePath));
        }
        if (file.size() != ImageFileSize && !IsHexFile(options.ImagePath)) {
            return Refuse(Error, QStringLiteral("--image: %1 is %2 bytes long; a raw image is "
                                                "exactly %3 bytes (an Intel HEX file may have "
                                                "any length)")
                                     .arg(options.ImagePath)
                                     .arg(file.size())
                                     .arg(ImageFileSize));
        }
    }

    if (parser.isSet(json)) {
        options.JsonPath = parser.value(json);
        if (options.JsonPath.isEmpty()) {
            return Refuse(Error, QStringLiteral("--json: empty file name"));
        }
    }
    options.Quiet = parser.isSet(quiet);
    return options;
}
