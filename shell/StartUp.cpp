#include "shell/StartUp.h"

#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/about.h"
#include "shell/commsel.h"

std::unique_ptr<TMainForm> MakeMainForm() {
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
