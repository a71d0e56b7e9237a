// nlsfunc.h: code pages and multibyte (DBCS) text.
#ifndef KSBNFC_NLSFUNC_H
#define KSBNFC_NLSFUNC_H

#include "ksbnfc.h"

#endif // KSBNFC_NLSFUNC_H
