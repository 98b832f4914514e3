// The least a kit program could be: one message box, built with the kit's
// flags. scripts/size-benchmark compares the programs with it.
#include <windows.h>

int main()
{
    MessageBoxA(nullptr, "velkor", "velkor", MB_OK);
    return 0;
}
