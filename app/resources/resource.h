// Resource ids shared by app.rc and the program.
#pragma once

#define IDI_APP 1
