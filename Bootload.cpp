// The program's main block: the main window brought up (its start-up shows it, then the
// about box and the port selection dialog are made hidden), then the event loop.
#include "shell/Main1.h"
#include "shell/StartUp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const std::unique_ptr<TMainForm> mainForm = MakeMainForm();
    // Closed while start-up still had a message on screen: there is no loop to run.
    if (!StartMainForm(*mainForm)) {
        return 0;
    }
    return QApplication::exec();
}
