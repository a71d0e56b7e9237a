#!/usr/bin/env python3
"""numbers_num2words.py: grammars/en/numbers.bnf and ordinals.bnf against
num2words: every value below 10,000 and a fixed random sample up to
999,999,999, spelled by num2words (hyphens and commas as blanks), must be
accepted and translate to its digits.

    numbers_num2words.py KSBNFC KSFSG GRAMMARS_DIR
"""
import os
import random
import subprocess
import sys
import tempfile

from num2words import num2words


def spoken(n, to):
    return " ".join(num2words(n, to=to).replace("-", " ").replace(",", " ").split())


def main():
    ksbnfc, ksfsg, grammars = sys.argv[1:4]
    rng = random.Random(21)
    values = list(range(10000)) + sorted(rng.sample(range(10000, 1000000000), 3000))
    failures = 0
    with tempfile.TemporaryDirectory() as out:
        for name, root, to, first in (("numbers", "number", "cardinal", 0),
                                      ("ordinals", "ordinal", "ordinal", 1)):
            subprocess.run([ksbnfc, "-tr", os.path.join(grammars, "en", name + ".bnf"), "-d", out],
                           check=True)
            checked = [v for v in values if v >= first]
            lines = [spoken(v, to) for v in checked]
            run = subprocess.run([ksfsg, "translate", os.path.join(out, root + ".fst"), "-"],
                                 input="\n".join(lines) + "\n", capture_output=True, text=True)
            results = run.stdout.splitlines()
            agree = 0
            for v, words, result in zip(checked, lines, results):
                got = result.split(" ", 2)
                if got[0] == "2" and len(got) == 3 and got[2] == str(v):
                    agree += 1
                elif failures < 20:
                    print(f"FAIL: {name}: '{words}' -> '{result}', expected {v}", file=sys.stderr)
            if len(results) != len(checked) or agree != len(checked):
                failures += 1
            print(f"{name}: {agree} of {len(checked)} spellings agree with num2words")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
