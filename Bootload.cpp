// The program's main block: the main window (whose start-up shows it), then the about
// box and the port selection dialog, hidden, then the event loop.
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/about.h"
#include "shell/commsel.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ApplicationTitle().clear();
    TMainForm mainForm;
    mainForm.FormCreate();
    // Closed while start-up still had a message on screen: there is no loop to run.
    if (!mainForm.isVisible()) {
        return 0;
    }
    mainForm.AboutBox = new TAboutBox(&mainForm);
    mainForm.AboutBox->hide();
    mainForm.CommSelFrm = new TCommSelFrm(&mainForm);
    mainForm.CommSelFrm->hide();
    return QApplication::exec();
}
