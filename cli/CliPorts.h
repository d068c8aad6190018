// --list-ports: the serial ports found, each with its COM number, device and description,
// numbered as the window numbers them (a new USB adapter gets its COM number recorded in
// [Ports] of "Bootload.Ini", as the window's start-up does).
#pragma once

#include <cstdio>

class TMainForm;

// Prints one line per port: "COMn<TAB>device<TAB>description", without
// the second tab when there is no description; the exit status (0).
int ListPorts(TMainForm& Form, FILE* Out);
