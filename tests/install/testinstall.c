/* Built in C against an installed libksbnfc: proves the header is valid C,
 * the package files find the library, and the exported names resolve. */
#include <ksbnfc.h>
#include <stdio.h>

int main(void)
{
    char* msg = 0;
    KsArg arg = {"bnfFile", 0};
    if (KsGetMessage(&msg) != 0 || msg != KsMsgBuf) return 1;
    if (arg.name == 0 || (PV_PHRASE_NO_INSERTIONS | PV_PHRASE_ALLOW_SILENCES) != 1040) return 1;
    dbglevel = 0;
    warnings = 0;
    printf("libksbnfc install ok\n");
    return 0;
}
