#include "cli/CliOptions.h"

#include "cli/CliUnitPorts.h"
#include "firmware/ImageFile.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

namespace {

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

std::optional<TCliOptions> ParseCliOptions(const QStringList& Arguments, bool SlaveAddressAllowed,
                                           QString& Error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption portsFile(QStringLiteral("ports-file"), QString(),
                                       QStringLiteral("file"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("n"));
    const QCommandLineOption skipCurrent(QStringLiteral("skip-current"));
    const QCommandLineOption slave(QStringLiteral("slave"), QString(), QStringLiteral("n"));
    const QCommandLineOption image(QStringLiteral("image"), QString(), QStringLiteral("file"));
    const QCommandLineOption processor(QStringLiteral("processor"), QString(), QStringLiteral("n"));
    const QCommandLineOption model(QStringLiteral("model"), QString(), QStringLiteral("n"));
    const QCommandLineOption json(QStringLiteral("json"), QString(), QStringLiteral("file"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption identify(QStringLiteral("identify"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption help(
        QStringList{QStringLiteral("help"), QStringLiteral("h"), QStringLiteral("?")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({port, portsFile, jobs, skipCurrent, slave, image, processor, model, json,
                       quiet, identify, listPorts, help, version});
    // "/?" asks for the help as it does of any Windows program.
    QStringList arguments = Arguments;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        if (arguments[index] == QLatin1String("/?")) {
            arguments[index] = QStringLiteral("--help");
        }
    }
    if (!parser.parse(arguments)) {
        return Refuse(Error, parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Refuse(
            Error,
            QStringLiteral("Unexpected argument '%1'").arg(parser.positionalArguments().first()));
    }
    // An option given twice would leave one of its values unused (--port names a unit
    // each time).
    for (const QCommandLineOption* option :
         {&portsFile, &jobs, &slave, &image, &processor, &model, &json}) {
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

    for (const QString& name : parser.values(port)) {
        TCliPort named{name, 0, std::nullopt, QStringLiteral("--port")};
        if (!CheckPortName(named, Error)) {
            return std::nullopt;
        }
        options.Ports << named;
    }
    if (parser.isSet(portsFile)) {
        if (!ReadPortsFile(parser.value(portsFile), SlaveAddressAllowed, options.Ports, Error)) {
            return std::nullopt;
        }
        if (options.Ports.isEmpty()) {
            return Refuse(
                Error,
                QStringLiteral("--ports-file %1 names no port").arg(parser.value(portsFile)));
        }
    }
    if (options.Ports.isEmpty()) {
        return Refuse(Error, QStringLiteral("--port is required (or --ports-file)"));
    }
    options.Many = options.Ports.size() > 1 || parser.isSet(portsFile);
    options.Port = options.Ports.first().Name;
    options.ComNumber = options.Ports.first().ComNumber;

    if (parser.isSet(jobs)) {
        bool ok = false;
        options.Jobs = parser.value(jobs).toInt(&ok);
        if (!ok || options.Jobs < 1 || options.Jobs > LastJobs) {
            return Refuse(Error, QStringLiteral("--jobs: '%1' is not a number from 1 to %2")
                                     .arg(parser.value(jobs))
                                     .arg(LastJobs));
        }
    }
    options.SkipCurrent = parser.isSet(skipCurrent);
    if (options.SkipCurrent && options.Action == TCliAction::Identify) {
        return Refuse(Error, QStringLiteral("--skip-current is for an update, not --identify"));
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
    for (TCliPort& named : options.Ports) {
        if (!named.Slave) {
            named.Slave = options.Slave;
        }
    }
    options.Slave = options.Ports.first().Slave;

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
