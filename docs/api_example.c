/* api_example.c: compiles the coffee grammar into a translation FSG, loads
 * it, tests, translates and searches word strings with it, and shows how a
 * failure reports its message. Shown in docs/api.md; built against the
 * installed library by the install test.
 *
 *     cc api_example.c $(pkg-config --cflags --libs ksbnfc) -o api_example
 *     ./api_example examples/coffee.bnf order.fst
 */
#include <ksbnfc.h>
#include <stdio.h>
#include <stdlib.h>

/* Prints the message of a failed call; returns 1 so that callers can
 * write `return failed("...", rc);`. */
static int failed(const char* what, int rc)
{
    char* msg;
    KsGetMessage(&msg);
    fprintf(stderr, "%s failed (%d): %s\n", what, rc, msg);
    return 1;
}

static void print_words(char** words)
{
    int i;
    for (i = 0; words[i]; i++) printf("%s%s", i ? " " : "", words[i]);
}

int main(int argc, char** argv)
{
    char* order[] = {"two", "large", "lattes", NULL};
    char* unfinished[] = {"two", "large", NULL};
    char* wrong[] = {"please", "two", "teas", NULL};
    char** tests[] = {order, unfinished, wrong};
    char* sentence[] = {"i'd", "like", "two", "large", "lattes", "and", "a", "tea", "please", NULL};
    char* heard[] = {"well", "a", "tea", "please", "thanks", NULL};
    const char* meaning[] = {"rejected", "incomplete", "accepted"};
    char* msg;
    void* fsg = NULL;
    void* missing = NULL;
    void* found = NULL;
    void* substr;
    char* translation = NULL;
    int i, rc, result;

    if (argc != 3) {
        fprintf(stderr, "usage: api_example GRAMMAR.bnf OUTPUT.fst\n");
        return 2;
    }

    /* Compile: the parameters are name/value pairs; text values are
     * pointers stored in the long. */
    {
        KsArg args[] = {
            {"bnfFile", (long)argv[1]},
            {"fsgFile", (long)argv[2]},
            {"trMode", 1},   /* a translation FSG, as ksbnfc -tr */
            {"warnings", 1}, /* collect warnings in the message buffer */
        };
        rc = KsCompileGrammar(4, args);
        if (rc == 1000) return failed("KsCompileGrammar", rc);
        if (rc == 1) {
            KsGetMessage(&msg);
            printf("warnings:\n%s", msg);
        }
        printf("compiled\n");
    }

    rc = KsLoadFSG(argv[2], &fsg);
    if (rc == 1000) return failed("KsLoadFSG", rc);

    /* Test: 2 accepted, 1 can be continued, 0 rejected. */
    for (i = 0; i < 3; i++) {
        rc = KsTest(fsg, tests[i], &result);
        if (rc == 1000) return failed("KsTest", rc);
        print_words(tests[i]);
        printf(": %s\n", meaning[result]);
    }

    /* Translate: the caller releases the text with free(). */
    rc = KsGetTranslation(fsg, sentence, &translation);
    if (rc == 1000) return failed("KsGetTranslation", rc);
    printf("translation: %s\n", translation ? translation : "(none)");
    free(translation);

    /* Search: every stretch of the words that the grammar accepts, newest
     * first; the results live until KsFreeSubStrs. */
    rc = KsFindSubStrs(heard, fsg, &found);
    if (rc == 1000) return failed("KsFindSubStrs", rc);
    while ((substr = KsGetNextSubStr(found)) != NULL) {
        int first = KsGetSubStrStart(substr), last = KsGetSubStrEnd(substr);
        printf("found words %d to %d (p=%.3g):", first, last, KsGetSubStrProb(substr));
        for (i = first; i <= last; i++) printf(" %s", heard[i]);
        printf("\n");
    }
    KsFreeSubStrs(found);
    KsUnloadFSG(fsg);

    /* A failure: the call returns 1000, stores nothing, and the message
     * says why. */
    rc = KsLoadFSG("no-such-grammar.fst", &missing);
    KsGetMessage(&msg);
    printf("loading a missing file: %d, %s, %s\n", rc, missing ? "a handle" : "no handle", msg);
    return rc == 1000 && !missing ? 0 : 1;
}
