#include "shell/StartUp.h"

#include "shell/ChipIcon.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/RunningMark.h"
#include "shell/about.h"
#include "shell/commsel.h"

#include <QApplication>

std::unique_ptr<TMainForm> MakeMainForm() {
    HoldRunningMark();
    // Every window and dialog made from here on, and the taskbar's button, show the chip.
    QApplication::setWindowIcon(ChipIcon());
    ApplicationTitle().clear();
    return std::make_unique<TMainForm>();
}

bool StartMainForm(TMainForm& Form) {
    Form.FormCreate();
    // Closed while start-up still had a message on screen: nothing more to make.
    if (!Form.isVisible()) {
        return false;
    }
    Form.AboutBox = new TAboutBox(&Form);
    Form.AboutBox->hide();
    Form.CommSelFrm = new TCommSelFrm(&Form);
    Form.CommSelFrm->hide();
    return true;
}
