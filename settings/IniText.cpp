// The INI text itself: lines found and classified on the bytes, names and values decoded
// only where they are compared or returned, and one value's bytes replaced in place.
#include "settings/IniFile.h"

#include <QSet>
#include <QStringDecoder>

#include <vector>

namespace {

enum class TLineKind { Blank, Comment, Section, Key, Other };

// One line of the text as byte offsets. Name and Value are trimmed ranges; for a key
// line whose value is empty, Value is the empty range after the blanks that follow '='.
struct TLine {
    TLineKind Kind = TLineKind::Other;
    qsizetype Start = 0;
    qsizetype End = 0;  // end of the content, before the line end
    qsizetype Next = 0; // start of the next line (End when the text ends without one)
    qsizetype NameStart = 0;
    qsizetype NameEnd = 0;
    qsizetype ValueStart = 0;
    qsizetype ValueEnd = 0;
};

bool IsBlank(char Byte) {
    return Byte == ' ' || Byte == '\t' || Byte == '\r' || Byte == '\v' || Byte == '\f';
}

void Trim(const QByteArray& Text, qsizetype& From, qsizetype& To) {
    while (From < To && IsBlank(Text[From])) {
        ++From;
    }
    while (To > From && IsBlank(Text[To - 1])) {
        --To;
    }
}

// Where Byte first appears in [From, To) of Text, or -1. A search never runs past its own
// line: a file of lines without ']' or '=' reads in time that grows with its size only.
qsizetype IndexWithin(const QByteArray& Text, char Byte, qsizetype From, qsizetype To) {
    const qsizetype at = QByteArrayView(Text.constData() + From, To - From).indexOf(Byte);
    return at < 0 ? -1 : From + at;
}

TLine Classify(const QByteArray& Text, qsizetype Start, qsizetype End, qsizetype Next) {
    TLine line{TLineKind::Other, Start, End, Next};
    qsizetype from = Start;
    qsizetype to = End;
    Trim(Text, from, to);
    if (from == to) {
        line.Kind = TLineKind::Blank;
        return line;
    }
    const char first = Text[from];
    if (first == ';' || first == '#') {
        line.Kind = TLineKind::Comment;
        return line;
    }
    if (first == '[') {
        // "[Name]"; anything after the closing bracket is ignored.
        const qsizetype close = IndexWithin(Text, ']', from + 1, to);
        if (close < 0) {
            return line;
        }
        line.Kind = TLineKind::Section;
        line.NameStart = from + 1;
        line.NameEnd = close;
        Trim(Text, line.NameStart, line.NameEnd);
        return line;
    }
    // Only the first '=' separates: a value may hold more of them.
    const qsizetype equals = IndexWithin(Text, '=', from, to);
    if (equals < 0) {
        return line;
    }
    line.NameStart = from;
    line.NameEnd = equals;
    Trim(Text, line.NameStart, line.NameEnd);
    if (line.NameStart == line.NameEnd) {
        return line; // "=value": no key
    }
    line.Kind = TLineKind::Key;
    line.ValueStart = equals + 1;
    line.ValueEnd = to;
    Trim(Text, line.ValueStart, line.ValueEnd);
    return line;
}

std::vector<TLine> Lines(const QByteArray& Text) {
    std::vector<TLine> lines;
    qsizetype start = Text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < Text.size()) {
        const qsizetype newline = Text.indexOf('\n', start);
        qsizetype next = newline < 0 ? Text.size() : newline + 1;
        qsizetype end = newline < 0 ? Text.size() : newline;
        if (end > start && Text[end - 1] == '\r') {
            --end;
        }
        lines.push_back(Classify(Text, start, end, next));
        start = next;
    }
    return lines;
}

// UTF-8 where the bytes are UTF-8, else Latin-1: a file edited with a Latin-1 editor
// stays readable, one line at a time.
QString Decode(const QByteArray& Text, qsizetype From, qsizetype To) {
    const QByteArrayView bytes(Text.constData() + From, To - From);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        return QString::fromLatin1(bytes);
    }
    return text;
}

bool SameName(const QByteArray& Text, qsizetype From, qsizetype To, QStringView Name) {
    return QStringView(Decode(Text, From, To)).compare(Name.trimmed(), Qt::CaseInsensitive) == 0;
}

// Index of the first key line Key in a section Section, or -1. A section may appear more
// than once; its keys are read as one section, in file order.
qsizetype FindKey(const QByteArray& Text, const std::vector<TLine>& AllLines, QStringView Section,
                  QStringView Key) {
    bool inSection = false;
    for (size_t i = 0; i < AllLines.size(); ++i) {
        const TLine& line = AllLines[i];
        if (line.Kind == TLineKind::Section) {
            inSection = SameName(Text, line.NameStart, line.NameEnd, Section);
        } else if (inSection && line.Kind == TLineKind::Key &&
                   SameName(Text, line.NameStart, line.NameEnd, Key)) {
            return static_cast<qsizetype>(i);
        }
    }
    return -1;
}

// The line end the text uses (its first one), LF for a text without one.
QByteArray LineEnd(const QByteArray& Text) {
    const qsizetype newline = Text.indexOf('\n');
    return newline > 0 && Text[newline - 1] == '\r' ? QByteArray("\r\n") : QByteArray("\n");
}

// A section header, key or value that fits on one line and reads back as written.
bool FitsOnALine(QStringView Text) {
    return !Text.contains(u'\n') && !Text.contains(u'\r') && !Text.contains(QChar(0));
}

} // namespace

std::optional<QString> IniValue(const QByteArray& Text, QStringView Section, QStringView Key) {
    const std::vector<TLine> lines = Lines(Text);
    const qsizetype index = FindKey(Text, lines, Section, Key);
    if (index < 0) {
        return std::nullopt;
    }
    const TLine& line = lines[static_cast<size_t>(index)];
    return Decode(Text, line.ValueStart, line.ValueEnd);
}

QList<QPair<QString, QString>> IniSectionEntries(const QByteArray& Text, QStringView Section) {
    QList<QPair<QString, QString>> entries;
    QSet<QString> seen;
    bool inSection = false;
    for (const TLine& line : Lines(Text)) {
        if (line.Kind == TLineKind::Section) {
            inSection = SameName(Text, line.NameStart, line.NameEnd, Section);
        } else if (inSection && line.Kind == TLineKind::Key) {
            QString key = Decode(Text, line.NameStart, line.NameEnd);
            if (!seen.contains(key.toCaseFolded())) {
                seen.insert(key.toCaseFolded());
                entries.append({key, Decode(Text, line.ValueStart, line.ValueEnd)});
            }
        }
    }
    return entries;
}

bool IniCanHold(QStringView Section, QStringView Key, QStringView Value) {
    const QStringView section = Section.trimmed();
    const QStringView key = Key.trimmed();
    return FitsOnALine(Section) && FitsOnALine(Key) && FitsOnALine(Value) && !section.isEmpty() &&
           !section.contains(u']') && !key.isEmpty() && !key.contains(u'=') &&
           !key.startsWith(u';') && !key.startsWith(u'#') && !key.startsWith(u'[');
}

QByteArray IniWithValue(const QByteArray& Text, QStringView Section, QStringView Key,
                        const QString& Value) {
    if (!IniCanHold(Section, Key, Value)) {
        return Text;
    }
    const QString value = Value.trimmed();
    const std::vector<TLine> lines = Lines(Text);
    const qsizetype index = FindKey(Text, lines, Section, Key);
    if (index >= 0) {
        const TLine& line = lines[static_cast<size_t>(index)];
        if (Decode(Text, line.ValueStart, line.ValueEnd) == value) {
            return Text;
        }
        QByteArray changed = Text;
        changed.replace(line.ValueStart, line.ValueEnd - line.ValueStart, value.toUtf8());
        return changed;
    }

    const QByteArray lineEnd = LineEnd(Text);
    const QByteArray keyLine = Key.trimmed().toUtf8() + '=' + value.toUtf8() + lineEnd;
    // The section's last line that is neither blank nor a comment: the new key goes right
    // after it, so blank lines and comments that lead into the next section stay with it.
    qsizetype after = -1;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const TLine& line = lines[i];
        if (line.Kind == TLineKind::Section) {
            if (after >= 0) {
                break; // only the first section of that name grows
            }
            inSection = SameName(Text, line.NameStart, line.NameEnd, Section);
        }
        if (inSection && line.Kind != TLineKind::Blank && line.Kind != TLineKind::Comment) {
            after = static_cast<qsizetype>(i);
        }
    }
    QByteArray changed = Text;
    if (after >= 0) {
        const TLine& line = lines[static_cast<size_t>(after)];
        if (line.Next == Text.size() && !Text.endsWith('\n')) { // last line, no line end
            changed.append(lineEnd).append(keyLine);
        } else {
            changed.insert(line.Next, keyLine);
        }
        return changed;
    }
    const bool empty = lines.empty();
    if (!empty && !changed.endsWith('\n')) {
        changed.append(lineEnd);
    }
    if (!empty && lines.back().Kind != TLineKind::Blank) {
        changed.append(lineEnd); // a blank line between the sections
    }
    return changed.append('[' + Section.trimmed().toUtf8() + ']' + lineEnd + keyLine);
}
