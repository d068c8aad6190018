// While either program runs it holds a mark by which the installer and the uninstaller know
// that its files are in use: on Windows a named mutex, called after the product build
// ("bootload-rm5516"), which they open by the same name. Elsewhere there is none.
#pragma once

// Takes the mark for the rest of the process's life; again, nothing more.
void HoldRunningMark();
