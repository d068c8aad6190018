#include "CompleteRun.h"

QStringList CompleteRunLog() {
    return {"Initialising Upgrade.....Done (1)",
            "Enabling BootLoader.....Done",
            "Retrieving Bootloader Info......RM5516 v1.50",
            "Retrieving Model Number......OK",
            "Erasing Program Memory......100%",
            "Sending New Program Data......100%",
            "Disabling Boot Mode......Done",
            "Restarting Unit......Done",
            "Finalising Upgrade.....Done"};
}
