// common.h: shared declarations of the library: containers and the string
// handle, error/warning/debug reporting, compile parameters, file names and
// paths, the character stream and the annotation action language.
#ifndef KSBNFC_COMMON_H
#define KSBNFC_COMMON_H

#include "ksbnfc.h"
#include "nlsfunc.h"

// ---- diagnostics ----

// ---- containers ----

// ---- compile parameters ----

// ---- file names and paths ----

// ---- character stream ----

// ---- annotation actions ----

#endif // KSBNFC_COMMON_H
