// Programs that save "Bootload.Ini" side by side in one folder, as people run them (several
// copies, one per unit): every line each of them saved is in the file afterwards, and a
// number a program believes recorded is recorded.
#include "ChildProcess.h"
#include "settings/IniFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using TChildren = std::vector<std::unique_ptr<TChildProcess>>;

QString PathIn(const QTemporaryDir& Dir) {
    return Dir.filePath(QStringLiteral("Bootload.Ini"));
}

// Several rounds, each with a new file: lost lines show in most rounds, not in every one.
constexpr int Rounds = 3;

// The simulated unit writes its line ([Ports] COM<n>=<its pty>) before it prints its pty.
TEST(SettingsRace, SimulatedUnitsStartedTogetherEachKeepTheirLine) {
    const QTemporaryDir dir;
    for (int round = 0; round < Rounds; ++round) {
        QFile::remove(PathIn(dir));
        constexpr int Units = 6;
        TChildren units;
        for (int i = 0; i < Units; ++i) {
            units.push_back(std::make_unique<TChildProcess>(
                std::vector<std::string>{UNITSIM_PROGRAM, "--ini-dir", dir.path().toStdString(),
                                         "--com", std::to_string(3 + i)}));
        }
        std::vector<std::string> ptys;
        for (const auto& unit : units) {
            ptys.push_back(unit->ReadLine(20000));
            ASSERT_FALSE(ptys.back().empty()) << unit->ReadErrors(1000);
        }
        const TIniFile file = TIniFile::Read(PathIn(dir));
        ASSERT_EQ(file.State, TIniFileState::Usable);
        for (int i = 0; i < Units; ++i) {
            EXPECT_EQ(IniValue(file.Bytes, u"Ports", QStringLiteral("COM%1").arg(3 + i)),
                      QString::fromStdString(ptys[static_cast<size_t>(i)]))
                << "round " << round << ":\n"
                << file.Bytes.toStdString();
        }
    }
}

// Copies of a program that numbers new adapters, each plugging in adapters of its own one
// by one: every number is given once, and each is in the file under the adapter that got it.
TEST(SettingsRace, AdaptersNumberedByProgramsSideBySideAreAllRecordedOnce) {
    const QTemporaryDir dir;
    for (int round = 0; round < Rounds; ++round) {
        QFile::remove(PathIn(dir));
        constexpr int Programs = 5;
        constexpr int AdaptersEach = 5; // 25 of the 30 numbers COM3..COM32
        TChildren programs;
        for (int i = 0; i < Programs; ++i) {
            programs.push_back(std::make_unique<TChildProcess>(std::vector<std::string>{
                PORT_RECORDER_PROGRAM, PathIn(dir).toStdString(), std::to_string(i * AdaptersEach),
                std::to_string(AdaptersEach)}));
        }
        std::map<std::string, std::string> given; // "COM<n>" -> the adapter's name
        for (const auto& program : programs) {
            std::istringstream lines(program->ReadRest(20000));
            ASSERT_EQ(program->Wait(20000), 0) << program->ReadErrors(1000);
            int count = 0;
            for (std::string line; std::getline(lines, line); ++count) {
                const size_t equals = line.find('=');
                const size_t blank = line.rfind(' ');
                ASSERT_NE(equals, std::string::npos) << line;
                EXPECT_EQ(line.substr(blank + 1), "file") << "kept for the run only: " << line;
                EXPECT_TRUE(given
                                .emplace(line.substr(0, equals),
                                         line.substr(equals + 1, blank - equals - 1))
                                .second)
                    << "given twice: " << line;
            }
            EXPECT_EQ(count, AdaptersEach);
        }
        const TIniFile file = TIniFile::Read(PathIn(dir));
        ASSERT_EQ(file.State, TIniFileState::Usable);
        const QList<QPair<QString, QString>> entries = IniSectionEntries(file.Bytes, u"Ports");
        EXPECT_EQ(entries.size(), Programs * AdaptersEach) << file.Bytes.toStdString();
        for (const auto& [key, name] : given) {
            EXPECT_EQ(IniValue(file.Bytes, u"Ports", QString::fromStdString(key)),
                      QString::fromStdString(name))
                << "round " << round << ", " << key;
        }
    }
}

} // namespace
