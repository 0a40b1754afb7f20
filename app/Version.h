// The program's version: the one place it is written. The resource script's version
// information and the release package's name are made from these two lines.
#pragma once

#define MVU_VERSION_NUMBERS 3, 1, 9, 0
#define MVU_VERSION_TEXT "3.1.9.0"
