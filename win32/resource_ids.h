// Names of the resources that win32/kestrafin.rc.in puts into the program.
#pragma once

// The lowest ID, so that the shell shows this icon for the program file.
#define IDI_KESTRAFIN 1
#define IDB_LOGO 2
