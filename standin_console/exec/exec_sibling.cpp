// A library that the stand-in variant built with EXEC_STANDIN_NEEDS_SIBLING
// imports from beside itself, as a console library may need others of its
// installation.
#include <windows.h>

extern "C" __declspec(dllexport) unsigned WINAPI execSiblingVersion()
{
    return 0x00050202;
}
