#include "tests/cli/CliTestSupport.h"

#include "shell/ProductTable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

TCliStation::TCliStation(const TUnitSimConfig& Config)
    : SimUnit(std::make_unique<TUnitSim>(Config)) {
    EXPECT_TRUE(WorkDir.isValid());
    EXPECT_TRUE(SimUnit->Start()) << SimUnit->LastError();
    EXPECT_TRUE(SimUnit->WritePortMap(Dir(), 3));
}

namespace {

// The program beside this test when it was copied there (an unprivileged run), else the
// one the build made.
std::string CliProgram() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/bootload-cli");
    return QFileInfo(beside).isExecutable() ? beside.toStdString()
                                            : std::string(BOOTLOAD_CLI_PROGRAM);
}

std::unique_ptr<TChildProcess> StartIn(const std::string& Dir,
                                       const std::vector<std::string>& Arguments) {
    std::vector<std::string> line{CliProgram()};
    line.insert(line.end(), Arguments.begin(), Arguments.end());
    return std::make_unique<TChildProcess>(line, Dir);
}

} // namespace

std::unique_ptr<TChildProcess> TCliStation::Start(const std::vector<std::string>& Arguments) const {
    return StartIn(Dir(), Arguments);
}

TCliLine::TCliLine(const std::vector<TUnitSimConfig>& Configs) {
    EXPECT_TRUE(WorkDir.isValid());
    for (const TUnitSimConfig& config : Configs) {
        Units.push_back(std::make_unique<TUnitSim>(config));
        EXPECT_TRUE(Units.back()->Start()) << Units.back()->LastError();
        EXPECT_TRUE(Units.back()->WritePortMap(Dir(), static_cast<int>(2 + Units.size())));
    }
}

std::vector<std::string> TCliLine::PortArguments() const {
    std::vector<std::string> arguments;
    for (size_t index = 0; index < Units.size(); ++index) {
        arguments.insert(arguments.end(), {"--port", ComName(index)});
    }
    return arguments;
}

std::unique_ptr<TChildProcess> TCliLine::Start(const std::vector<std::string>& Arguments) const {
    return StartIn(Dir(), Arguments);
}

TCliResult TCliLine::Run(const std::vector<std::string>& Arguments) const {
    return Collect(*Start(Arguments));
}

TCliResult TCliStation::Run(const std::vector<std::string>& Arguments) const {
    return Collect(*Start(Arguments));
}

TCliResult Collect(TChildProcess& Program) {
    TCliResult result;
    std::istringstream output(Program.ReadRest(CliBoundMs));
    for (std::string line; std::getline(output, line);) {
        result.Lines.push_back(line);
    }
    result.Status = Program.Wait(CliBoundMs);
    result.Errors = Program.ReadErrors(5000);
    return result;
}

QJsonObject ReadJsonFile(const std::string& Path) {
    QFile file(QString::fromStdString(Path));
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "no report at " << Path;
        return {};
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return document.object();
}

std::vector<uint8_t> BuildImage() {
    // Embedded in this test as in the program, so that a copy run elsewhere has it too.
    QFile file(QStringLiteral(":/firmware/HFILE"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

uint32_t BuildLastProgramAddress() {
    return ProgramLimitFor(BOOTLOAD_PROC_NUM).value_or(0);
}

void ExpectImageWritten(const TUnitSim& Unit, const std::vector<uint8_t>& Image) {
    const std::vector<uint8_t> flash = Unit.Report().Flash;
    const uint32_t last = BuildLastProgramAddress();
    ASSERT_EQ(flash.size(), 65536u);
    ASSERT_EQ(Image.size(), 65536u);
    EXPECT_TRUE(
        std::equal(Image.begin() + 0x0800, Image.begin() + last + 1, flash.begin() + 0x0800))
        << "the unit's memory differs from the image";
}
