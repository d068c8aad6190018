// The slave address field: a spin box whose text may hold any number of up to three
// digits while the operator types (300 included); the value the program uses follows
// the text, and a value outside the range is pulled to the nearer bound when the field
// is left.
#pragma once

#include <QLineEdit>
#include <QSpinBox>

// The integer the field's text stands for: its digits, or Minimum when it holds none.
inline int SpinEditTextValue(const QString& Text, int Minimum) {
    bool ok = false;
    const int value = Text.trimmed().toInt(&ok, 10);
    return ok ? value : Minimum;
}

class TSlaveSpinEdit : public QSpinBox {
public:
    explicit TSlaveSpinEdit(QWidget* Parent = nullptr) : QSpinBox(Parent) {
        setRange(1, 247);
        setValue(1);
        lineEdit()->setMaxLength(3);
    }

    QLineEdit* Editor() const { return lineEdit(); }

    // The value the field's text stands for, which may lie outside the range.
    int TextValue() const { return SpinEditTextValue(text(), minimum()); }

    // Writes back the text's value pulled into the range (an empty field becomes the
    // minimum), as if typed, so that whoever follows the text sees it.
    void CommitText() {
        const QString clamped = QString::number(qBound(minimum(), TextValue(), maximum()));
        if (text() != clamped) {
            lineEdit()->setText(clamped);
        }
    }

    // Digits only, at most three; the range is applied when the field is left.
    QValidator::State validate(QString& Input, int&) const override {
        if (Input.size() > 3) {
            return QValidator::Invalid;
        }
        for (const QChar c : Input) {
            if (c < u'0' || c > u'9') {
                return QValidator::Invalid;
            }
        }
        return QValidator::Acceptable;
    }

    int valueFromText(const QString& Text) const override {
        return SpinEditTextValue(Text, minimum());
    }

protected:
    void focusOutEvent(QFocusEvent* Event) override {
        CommitText();
        QSpinBox::focusOutEvent(Event);
    }
};
