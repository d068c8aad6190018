#include "ReliabilitySupport.h"

#include <QListWidget>
#include <QTimer>

#include <utility>

TLinkedUnit::TLinkedUnit(TUnitSimConfig Config) {
    Config.LinkPath = LinkDir.filePath(QStringLiteral("ttyUnit")).toStdString();
    Sim = std::make_unique<TUnitSim>(std::move(Config));
    StartedOk = Sim->Start();
    Window = std::make_unique<TFormHarness>(QString::fromStdString(Sim->PortPath()));
}

bool TLinkedUnit::FlashHoldsImage() {
    const TUnitSimReport report = Sim->Report();
    const TMainForm& form = Form();
    if (report.Flash.size() != form.ImageBuffer.size()) {
        return false;
    }
    for (uint32_t a = 0x0800; a <= form.LastProgramAddress; ++a) {
        if (report.Flash[a] != form.ImageBuffer[a]) {
            return false;
        }
    }
    return true;
}

void WhenLineReads(TMainForm& Form, const QString& Text, std::function<void()> Action) {
    auto pending = std::make_shared<std::function<void()>>(std::move(Action));
    QListWidget* list = Form.ListBox1;
    QObject::connect(list->model(), &QAbstractItemModel::dataChanged, list,
                     [list, Text, pending](const QModelIndex& TopLeft, const QModelIndex&) {
                         QListWidgetItem* item = list->item(TopLeft.row());
                         if (!*pending || item == nullptr || item->text() != Text) {
                             return;
                         }
                         QTimer::singleShot(0, list, std::exchange(*pending, nullptr));
                     });
}

double ProcessCpuMs() {
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) * 1000.0 + static_cast<double>(used.tv_nsec) / 1e6;
}
