// The JSON report of the command-line program end to end: written whole or not at all,
// never over a file the run needs.
#include "QtPrinters.h"
#include "tests/cli/CliTestSupport.h"

#include <QDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string ReadText(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// While it lasts, files are limited to Bytes, and a write past that fails rather than
// ending the writer (SIGXFSZ ignored). A program started meanwhile keeps both.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t Bytes) {
        Saved = ::getrlimit(RLIMIT_FSIZE, &Limit) == 0;
        const rlimit limited{Bytes, Limit.rlim_max};
        Set = Saved && ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
        SizeSignal = ::signal(SIGXFSZ, SIG_IGN);
    }
    ~TFileSizeLimit() {
        if (Saved) {
            ::setrlimit(RLIMIT_FSIZE, &Limit);
        }
        ::signal(SIGXFSZ, SizeSignal);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
    bool IsSet() const { return Set; }

private:
    rlimit Limit{};
    bool Saved = false;
    bool Set = false;
    sighandler_t SizeSignal = SIG_DFL;
};

TEST(CliReportTest, ReportThatCannotBeWrittenWholeFailsACompleteRunAndLeavesTheOldFile) {
    TCliStation station;
    const std::string earlier = "{\"Outcome\": \"an earlier run\"}\n";
    std::ofstream(station.File("run.json")) << earlier;
    std::unique_ptr<TChildProcess> program;
    {
        // Room for the settings file, not for the report.
        const TFileSizeLimit limit(256);
        ASSERT_TRUE(limit.IsSet());
        program = station.Start({"--port", "COM3", "--json", "run.json"});
    }
    const TCliResult result = Collect(*program);
    EXPECT_EQ(result.Status, 11) << result.Errors;
    EXPECT_THAT(result.Errors, HasSubstr("Cannot write the report run.json"));
    EXPECT_THAT(result.Errors, HasSubstr("the update itself ended: complete"));
    ASSERT_FALSE(result.Lines.empty());
    EXPECT_EQ(result.Lines.back(), "Outcome: complete, report not written (exit status 11)");
    EXPECT_EQ(station.Unit().Report().Restarts, 1u);
    // The earlier report as it was, and no temporary file of the new one beside it.
    EXPECT_EQ(ReadText(station.File("run.json")), earlier);
    const QStringList left =
        QDir(QString::fromStdString(station.Dir()))
            .entryList({QStringLiteral("run.json*")}, QDir::Files | QDir::Hidden | QDir::System);
    EXPECT_THAT(left, ElementsAre(QStringLiteral("run.json")));
}

TEST(CliReportTest, ReportNamingTheSettingsFileOrTheImageIsRefusedAndBothAreKept) {
    TCliStation station;
    std::ofstream(station.File("own.bin"), std::ios::binary) << std::string(65536, 'z');
    // Other names of the same files: a hard link and a symbolic link.
    std::filesystem::create_hard_link(station.File("Bootload.Ini"), station.File("settings.json"));
    std::filesystem::create_symlink("own.bin", station.File("image.json"));
    const std::string settings = ReadText(station.File("Bootload.Ini"));
    const std::string image = ReadText(station.File("own.bin"));
    const struct {
        std::vector<std::string> Arguments;
        const char* Says;
    } cases[] = {
        {{"--port", "COM3", "--json", "Bootload.Ini"}, "is the settings file"},
        {{"--identify", "--port", "COM3", "--json", "settings.json"}, "is the settings file"},
        {{"--port", "COM3", "--image", "own.bin", "--processor", "5525", "--model", "5516",
          "--json", station.File("image.json")},
         "is the image"},
    };
    for (const auto& c : cases) {
        const TCliResult result = station.Run(c.Arguments);
        EXPECT_EQ(result.Status, 2) << c.Says << ": " << result.Errors;
        EXPECT_THAT(result.Errors, HasSubstr(c.Says));
    }
    EXPECT_EQ(ReadText(station.File("Bootload.Ini")), settings);
    EXPECT_TRUE(ReadText(station.File("own.bin")) == image) << "the image was replaced";
    EXPECT_TRUE(station.Unit().Report().Frames.empty());
}

} // namespace
