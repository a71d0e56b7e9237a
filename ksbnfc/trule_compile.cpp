// trule_compile.cpp: compilation of rule lists into sub-FSGs for TGrammar.
// PROVISIONAL: only the virtual TGrammar::GetFSG is defined here, so that the
// vtable links; rule compilation itself is still to be written.
#include "trule.h"

TSubFSG* TGrammar::GetFSG(mbstring name, int, TFSG*)
{
    Error("not implemented: GetFSG %s", name.s ? name.s : "");
}
