// The log list: every change also goes, in order, to the "bootload.log" category
// (off by default: QT_LOGGING_RULES="bootload.log.info=true").
#include "shell/Main1.h"

#include <QListWidget>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcLog, "bootload.log", QtWarningMsg)

void TMainForm::AddLogLine(QListWidget* List, const QString& Text) {
    List->addItem(Text);
    const int last = List->count() - 1;
    List->scrollToItem(List->item(last));
    List->setCurrentRow(last);
    qCInfo(lcLog).noquote() << "append:" << Text;
}

void TMainForm::ReplaceLastLogLine(const QString& Text) {
    if (ListBox1->count() == 0) {
        AddLogLine(ListBox1, Text);
        return;
    }
    ListBox1->item(ListBox1->count() - 1)->setText(Text);
    qCInfo(lcLog).noquote() << "replace:" << Text;
}

void TMainForm::AppendPlainLogLine(const QString& Text) {
    ListBox1->addItem(Text);
    qCInfo(lcLog).noquote() << "append:" << Text;
}

void TMainForm::ClearLogList() {
    ListBox1->clear();
    qCInfo(lcLog) << "clear";
}
