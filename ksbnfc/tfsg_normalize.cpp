// tfsg_normalize.cpp: normalisation of a compiled grammar (TFSG::Normalize,
// TSubFSG::Normalize) and the compile pipeline.
//
// PROVISIONAL: placeholders that only make the virtual tables linkable until
// the normalisation pipeline lands. They refuse to run.
#include "tfsg.h"

void TSubFSG::Normalize()
{
    Error("normalisation of %s is not available in this build", name.s ? name.s : "");
}

void TFSG::Normalize()
{
    Error("normalisation of %s is not available in this build", name.s ? name.s : "");
}
