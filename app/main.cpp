// mvupdate.exe: brings the host agent up to date, then starts it.
#include "app/Entry.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, PWSTR lpCmdLine, int /*nShowCmd*/)
{
    return RunUpdater(hInstance, lpCmdLine, kStartDelayMs);
}
