// params.cpp: compile parameters: the `parms` defaults and modes, the
// parameter look-up KsGetArg, ArgsToParms, and the message accessor
// KsGetMessage.
#include "common.h"

namespace {

// Finds and consumes the single record named `name`; a second record of the
// same name is an error, even after the first has been taken.
bool TakeArg(int n, KsArg* args, const char* name, long& value)
{
    bool found = false;
    for (int i = 0; i < n; i++) {
        if (!args[i].name || std::strcmp(args[i].name, name) != 0) continue;
        if (found) Error("duplicate parameter %s", name);
        value = args[i].value;
        args[i].name = nullptr;
        found = true;
    }
    return found;
}

} // namespace

int KsGetArg(int n, KsArg* args, const char* name, int& a)
{
    long v;
    if (!TakeArg(n, args, name, v)) return 0;
    a = (int)v;
    return 1;
}

int KsGetArg(int n, KsArg* args, const char* name, char*& a)
{
    long v;
    if (!TakeArg(n, args, name, v)) return 0;
    a = reinterpret_cast<char*>(v);
    return 1;
}

void parms::SetDefaults()
{
    bnf_file = fsg_file = fsg_directory = nullptr;
    eq_arcs = 1;
    flags = PV_PHRASE_NO_INSERTIONS | PV_PHRASE_ALLOW_SILENCES;
    use_null_arcs = 0;
    annotations = 1;
    numonly = 0;
    intern_all = 0;
    default_extension = ".fsg";
    dbglevel = 0;
    eq_sentences = 0;
    time = 0;
    codepage = 0;
    warnings = 0;
    syntax = nullptr;
}

void parms::do_en_mode()
{
    annotations = 0;
}

void parms::do_tr_mode()
{
    use_null_arcs = 1;
    default_extension = ".fst";
    intern_all = 1;
}

// The look-up order is part of the contract: the flag fix-up sees only the
// explicit flags, and explicit "useNullArcs"/"emitAnnotations" override the
// modes because they are read after them.
void ArgsToParms(int nargs, KsArg* args, parms& p)
{
    KsGetArg(nargs, args, "bnfFile", p.bnf_file);
    KsGetArg(nargs, args, "fsgFile", p.fsg_file);
    KsGetArg(nargs, args, "fsgDirectory", p.fsg_directory);
    KsGetArg(nargs, args, "equalizeArcProbabilities", p.eq_arcs);
    KsGetArg(nargs, args, "fsgFlags", p.flags);
    KsGetArg(nargs, args, "warnings", p.warnings);

    if ((p.flags & PV_PHRASE_INSERTION_MASK) == 0) p.flags |= PV_PHRASE_NO_INSERTIONS;
    if ((p.flags & PV_PHRASE_SILENCE_MASK) == 0) p.flags |= PV_PHRASE_ALLOW_SILENCES;
    if (p.eq_arcs == 0) p.flags |= PV_PHRASE_DONT_NORMALIZE;

    int mode = 0;
    if (KsGetArg(nargs, args, "enMode", mode) && mode) p.do_en_mode();
    mode = 0;
    if (KsGetArg(nargs, args, "trMode", mode) && mode) p.do_tr_mode();

    KsGetArg(nargs, args, "useNullArcs", p.use_null_arcs);
    KsGetArg(nargs, args, "emitAnnotations", p.annotations);
    KsGetArg(nargs, args, "dbglevel", p.dbglevel);
    KsGetArg(nargs, args, "equalizeSentenceProbabilities", p.eq_sentences);
    KsGetArg(nargs, args, "time", p.time);
    KsGetArg(nargs, args, "codePage", p.codepage);
    KsGetArg(nargs, args, "syntax", p.syntax);

    for (int i = 0; i < nargs; i++)
        if (args[i].name) Error("unknown parameter %s", args[i].name);
}

int KsGetMessage(char** message)
{
    *message = KsMsgBuf;
    return 0;
}
