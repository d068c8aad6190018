// The log list: every change also goes, in order, to the "bootload.log" category
// (off by default: QT_LOGGING_RULES="bootload.log.info=true"). Progress percentages are
// shown once the next request is on its way (ShowProgressSoon), so that nothing is
// repainted or logged between a reply and the request that follows it.
#include "shell/Main1.h"

#include <QListWidget>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcLog, "bootload.log", QtWarningMsg)

void TMainForm::AddLogLine(QListWidget* List, const QString& Text) {
    ShowPendingProgress();
    List->addItem(Text);
    const int last = List->count() - 1;
    List->scrollToItem(List->item(last));
    List->setCurrentRow(last);
    qCInfo(lcLog).noquote() << "append:" << Text;
}

void TMainForm::ReplaceLastLogLine(const QString& Text) {
    ShowPendingProgress();
    if (ListBox1->count() == 0) {
        AddLogLine(ListBox1, Text);
        return;
    }
    ListBox1->item(ListBox1->count() - 1)->setText(Text);
    qCInfo(lcLog).noquote() << "replace:" << Text;
}

void TMainForm::AppendPlainLogLine(const QString& Text) {
    ShowPendingProgress();
    ListBox1->addItem(Text);
    qCInfo(lcLog).noquote() << "append:" << Text;
}

void TMainForm::ClearLogList() {
    PendingProgress.Waiting = false; // it belonged to the lines cleared
    ListBox1->clear();
    qCInfo(lcLog) << "clear";
}

void TMainForm::ShowProgressSoon(const QString& Line, uint32_t Done, uint32_t Total) {
    const bool queued = PendingProgress.Waiting;
    PendingProgress = {true, Line, Done, Total == 0 ? 1 : Total};
    if (!queued) {
        QMetaObject::invokeMethod(
            this, [this] { ShowPendingProgress(); }, Qt::QueuedConnection);
    }
}

void TMainForm::ShowPendingProgress() {
    if (!PendingProgress.Waiting) {
        return;
    }
    const TPendingProgress progress = PendingProgress;
    PendingProgress.Waiting = false;
    ReplaceLastLogLine(progress.Line +
                       QString::number(uint64_t{progress.Done} * 100 / progress.Total) +
                       QLatin1Char('%'));
}
