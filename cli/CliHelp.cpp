// bootload-cli's usage and help: laid out here, each paragraph and each option's text
// wrapped to HelpWidth columns, so that the texts that differ by system (CliHelpText.h)
// fit too.
#include "cli/CliHelpText.h"
#include "cli/CliOptions.h"

#include <QRegularExpression>

namespace {

// Text's words, filled into lines of at most HelpWidth columns: the first after
// FirstPrefix, the others after Indent blanks.
QString Fill(const QString& Text, const QString& FirstPrefix, int Indent) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = Text.split(blanks, Qt::SkipEmptyParts);
    QString result;
    QString line = FirstPrefix;
    bool lineHasWord = false;
    for (const QString& word : words) {
        if (lineHasWord && line.size() + 1 + word.size() > HelpWidth) {
            result += line + u'\n';
            line = QString(Indent, u' ');
            lineHasWord = false;
        }
        line += (lineHasWord ? QStringLiteral(" ") : QString()) + word;
        lineHasWord = true;
    }
    return result + line + u'\n';
}

QString Paragraph(const QString& Text) {
    return Fill(Text, QString(), 0) + u'\n';
}

constexpr int OptionColumn = 23;

QString Option(const QString& Name, const QString& Text) {
    const QString prefix = QStringLiteral("  ") + Name;
    if (prefix.size() + 1 > OptionColumn) {
        return prefix + u'\n' + Fill(Text, QString(OptionColumn, u' '), OptionColumn);
    }
    return Fill(Text, prefix.leftJustified(OptionColumn), OptionColumn);
}

QString Status(int Number, const QString& Text) {
    return Fill(Text, QStringLiteral("  %1").arg(Number).leftJustified(6), 6);
}

} // namespace

QString CliUsage(const QString& ProgramName) {
    const QString usage = QStringLiteral("Usage: %1 ").arg(ProgramName);
    const QString more = QStringLiteral("       %1 ").arg(ProgramName);
    const int indent = static_cast<int>(usage.size());
    return Fill(QStringLiteral("--port PORT [--port PORT ...] [--ports-file FILE] [--jobs N] "
                               "[--skip-current] [--slave N] [--image FILE --processor N "
                               "--model N] [--json FILE|-] [--quiet]"),
                usage, indent) +
           Fill(QStringLiteral("--identify --port PORT [--port PORT ...] [--ports-file FILE] "
                               "[--jobs N] [--json FILE|-]"),
                more, indent) +
           Fill(QStringLiteral("--list-ports | --help | --version"), more, indent);
}

QString CliHelp(const QString& ProgramName) {
    QString text = CliUsage(ProgramName) + u'\n';
    text += Paragraph(QStringLiteral(
        "Updates the firmware of units on serial ports with this build's image, running the "
        "same upgrade as the window, without a display. With several ports (--port more than "
        "once, or --ports-file) each unit runs in a program of its own, this one started "
        "again for its port, so that one unit's failure, hang or crash leaves the others "
        "alone; the command ends with a summary of every unit."));
    text += QStringLiteral("Options:\n");
    text += Option(QStringLiteral("--port PORT"),
                   PortOptionHelp() + QStringLiteral("; given more than once, one unit on each"));
    text += Option(
        QStringLiteral("--ports-file FILE"),
        QStringLiteral("the units' ports, one a line (blank lines and # comments are skipped); "
                       "for the product whose window offers the slave address, a line may add "
                       "the unit's slave address after its port. Counted with any --port."));
    text += Option(QStringLiteral("--jobs N"),
                   QStringLiteral("how many units run at once, 1 to %1 (default: all of them, "
                                  "at most %2)")
                       .arg(LastJobs)
                       .arg(DefaultJobLimit));
    text += Option(QStringLiteral("--skip-current"),
                   QStringLiteral("leave alone a unit whose running firmware reports this "
                                  "image's model and firmware version: it is listed as "
                                  "current, and nothing is written to it"));
    text += Option(QStringLiteral("--slave N"),
                   QStringLiteral("the unit's Modbus slave address, 1 to 247 (default 1); only "
                                  "for the product whose window offers it; with several ports, "
                                  "for each unit whose line gives none"));
    text += Option(
        QStringLiteral("--image FILE"),
        QStringLiteral("another image: an Intel HEX file (only the 128-byte blocks it holds data "
                       "for are written) or a raw image of exactly 65536 bytes, with "
                       "--processor N and --model N taken as the window's Load File takes them "
                       "(decimal, or hexadecimal after $ or 0x; the low 16 bits are kept); the "
                       "firmware version stays this build's"));
    text += Option(
        QStringLiteral("--json FILE|-"),
        QStringLiteral("write a JSON report (- for standard output: the progress then goes to "
                       "standard error); a file that cannot be written stops the program before "
                       "a port is opened. The report is written whole at the end, through a "
                       "temporary file beside FILE: an existing FILE is replaced only then, and "
                       "is left as it was when the report cannot be written. FILE may not be "
                       "the settings file, the image (--image) or this program, by any name (a "
                       "link counts): refused, status 2. With several units, one report: each "
                       "unit's as a single run writes it, and a summary"));
    text += Option(QStringLiteral("--quiet"),
                   QStringLiteral("print only the outcome (with several units, the summary)"));
    text += Option(QStringLiteral("--identify"),
                   QStringLiteral("read the unit's identity (running firmware or bootloader) "
                                  "and change nothing; with several ports, a table of port, "
                                  "model, firmware version and state (running, bootloader or "
                                  "silent)"));
    text += Option(QStringLiteral("--list-ports"),
                   QStringLiteral("list the serial ports found, with their COM numbers"));
    text += Option(QStringLiteral("-h, --help, /?"), QStringLiteral("this text"));
    text += Option(QStringLiteral("--version"),
                   QStringLiteral("the program's version and the image it carries: its format, "
                                  "the blocks an update sends and the SHA-256 of their bytes"));
    text += u'\n';
    text += Paragraph(QStringLiteral(
        "Each log line is printed as it changes: on a terminal the progress line is rewritten "
        "in place; otherwise one line per stage, with percentages at most every 10 %. With "
        "several units a terminal shows a line a unit (port, stage, percent, state), rewritten "
        "in place; otherwise each line that ends a stage is printed after its unit's port. A "
        "summary follows: port, outcome, seconds, firmware version before and after."));
    text += Paragraph(StopRequestHelp());
    text += Paragraph(QStringLiteral(
        "With several units each is stopped as one run is: a unit not yet erasing stops, one "
        "erasing or writing finishes, one not yet started is not started; the summary is "
        "printed and the report written all the same."));
    text += QStringLiteral("Exit status:\n");
    text += Status(0, QStringLiteral("complete: image written, unit restarted and finalised; "
                                     "with --skip-current also current (nothing written)"));
    text += Status(1, QStringLiteral("the run ended without a known outcome (an error message "
                                     "says why)"));
    text += Status(2, QStringLiteral("bad arguments, the same device named twice, or the JSON "
                                     "report cannot be written: nothing was started"));
    text += Status(3, QStringLiteral("the port cannot be opened (absent, no permission, in use; "
                                     "for a device server: its name does not resolve, it "
                                     "cannot be reached or does not answer)"));
    text += Status(4, QStringLiteral("no reply from the unit"));
    text += Status(5, QStringLiteral("incompatible model: the unit is another model than the "
                                     "image's"));
    text += Status(6, QStringLiteral("erase error: the unit's program memory is partly erased"));
    text += Status(7, QStringLiteral("write error: the unit's program memory is partly written"));
    text += Status(8, QStringLiteral("settings not saved: the unit's settings could not be "
                                     "read; the unit is untouched"));
    text += Status(9, QStringLiteral("settings not restored: the image is written, the unit's "
                                     "settings are not back"));
    text += Status(10, QStringLiteral("stopped by %1 before the erase").arg(StopRequestPhrase()));
    text += Status(11, QStringLiteral("complete (or the unit identified), but the JSON report "
                                      "could not be written whole; a run that failed keeps its "
                                      "own status. Either way an error message and the outcome "
                                      "line say so, and how the update itself ended"));
    text += Status(12, QStringLiteral("some units failed: with several units, not every one "
                                      "ended complete or current (or, with --identify, "
                                      "identified); each unit's own status is in the summary "
                                      "and the report"));
    return text;
}
