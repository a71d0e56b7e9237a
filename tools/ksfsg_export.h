// ksfsg_export.h: the "export" command of the run-time tool, which writes an
// FSG file in another tool's text format (export/fsg_export.h).
#ifndef KSBNFC_TOOLS_KSFSG_EXPORT_H
#define KSBNFC_TOOLS_KSFSG_EXPORT_H

#include <cstdio>

// argv[0] is "export"; returns the exit code (0, 1 on errors, 2 on usage).
int ExportCommand(int argc, char** argv, std::FILE* out, std::FILE* err);

#endif // KSBNFC_TOOLS_KSFSG_EXPORT_H
