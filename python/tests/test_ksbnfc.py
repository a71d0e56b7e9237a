# Tests of what the Python module adds to the library: the compile keywords
# against the compiler tool, text and encodings, results as Python values,
# errors with their places, damaged input, externs and matching on threads.
# Run by ctest (python_module) with PYTHONPATH at the build's python/ and
# KSBNFC_TOOL / KSBNFC_EXAMPLES naming the compiler tool and the examples.
import json
import os
import random
import subprocess
import sys
import warnings
from concurrent.futures import ThreadPoolExecutor

import pytest

import ksbnfc
from ksbnfc import Result

TOOL = os.environ.get("KSBNFC_TOOL", "ksbnfc")
KSFSG = os.environ.get("KSBNFC_KSFSG", "ksfsg")
EXAMPLES = os.environ.get("KSBNFC_EXAMPLES",
                          os.path.join(os.path.dirname(__file__), "..", "..", "examples"))


def tool(tmp, *args):
    """Runs the compiler tool; returns {file name: bytes} of what it wrote to tmp."""
    subprocess.run([TOOL, *args, "-d", str(tmp)], check=True, capture_output=True)
    return {f: open(os.path.join(tmp, f), "rb").read() for f in os.listdir(tmp)}


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    d = tmp_path_factory.mktemp("examples")
    for mode, grammar in (("-tr", "coffee"), ("-en", "dialer"), ("-en", "contacts"), ("-tr", "home")):
        tool(d, mode, os.path.join(EXAMPLES, grammar + ".bnf"))
    return d


@pytest.fixture(scope="module")
def order(built):
    return ksbnfc.load(str(built / "order.fst"))


@pytest.fixture(scope="module")
def dial(built):
    return ksbnfc.load(built / "dial.fsg", externs={"contact": built / "contact.fsg"})


ORDERS = [
    ("two large lattes please", "2 large latte"),
    ("i'd like two large lattes and a tea please", "2 large latte, 1 regular tea"),
    ("a small espresso", "1 small espresso"),
    ("can i have three cappuccinos and one medium hot chocolate and two teas please",
     "3 regular cappuccino, 1 medium hot chocolate, 2 regular tea"),
    ("give me a flat white please", "1 regular flat white"),
    ("THREE Small teas", "3 small tea"),
]


@pytest.mark.parametrize("words,text", ORDERS)
def test_coffee_orders_translate(order, words, text):
    t = order.translate(words)
    assert t.text == text and 0 < t.probability <= 1
    assert order.translate(words.split()) == t
    assert order.test(words) is Result.ACCEPTED


@pytest.mark.parametrize("words,result", [
    ("two large", Result.PREFIX),
    ("", Result.PREFIX),
    ("please two", Result.REJECTED),
    ("two large lattés", Result.REJECTED),     # encodable, but not a word
    ("two large latte\u2615", Result.REJECTED),  # not in the code page
    (["two", "large", "latte\0s"], Result.REJECTED),
    (("two", b"large", "lattes", "please"), Result.ACCEPTED),
    ("two\x1clarge\u3000lattes please\n", Result.ACCEPTED),  # white space as str.split() sees it
])
def test_test_and_rejections(order, words, result):
    assert order.test(words) == result
    if result != Result.ACCEPTED:
        assert order.translate(words) is None


@pytest.mark.parametrize("words", [b"two", ["two", None], ("two", 2), [bytearray(b"two"), 2]])
def test_words_of_other_types(order, words):
    for call in (order.test, order.translate):
        with pytest.raises(TypeError):
            call(words)


def test_words_outside_the_code_page_split_the_search(order):
    plain = order.substrings("well a tea please thanks")
    assert [tuple(s[:2]) for s in plain] == [(1, 3), (1, 2)]
    assert plain[0].translation == "1 regular tea"
    # The cup cannot be encoded: it matches nothing and no stretch crosses it.
    found = order.substrings("a tea \u2615 two lattes")
    assert [(s.start, s.end, s.translation) for s in found] == [
        (3, 4, "2 regular latte"), (0, 1, "1 regular tea")]


# (grammar, mode, keywords of compile, switches of the tool)
SAME_BYTES = [
    ("coffee.bnf", "translation", {}, ["-tr"]),
    ("dialer.bnf", "engine", {}, ["-en"]),
    ("contacts.bnf", "engine", {}, ["-en"]),
    ("coffee.bnf", "translation", {"equalize_arc_probabilities": False,
                                   "equalize_sentence_probabilities": True},
     ["-tr", "--eq-arcs", "0", "--eq-sentences", "1"]),
    ("dialer.bnf", "engine", {"null_arcs": True, "flags": ksbnfc.Flag.ALLOW_INSERTIONS},
     ["-en", "--null-arcs", "1", "--flags", "0x100"]),
    ("contacts.bnf", "engine", {"annotations": True, "code_page": 1252},
     ["-en", "--annotations", "1", "-c", "1252"]),
]


@pytest.mark.parametrize("grammar,mode,kw,switches", SAME_BYTES)
def test_compile_gives_the_tools_bytes(tmp_path, grammar, mode, kw, switches):
    src = os.path.join(EXAMPLES, grammar)
    expected = tool(tmp_path, *switches, src)
    got = ksbnfc.compile(src, mode, **kw)
    ext = ".fst" if mode == "translation" else ".fsg"
    assert {root + ext: data for root, data in got.items()} == expected
    files = ksbnfc.compile(src, mode, out_dir=tmp_path / "out", **kw)
    assert {os.path.basename(p): open(p, "rb").read() for p in files.values()} == expected


def test_compile_text_and_roots(tmp_path):
    text = open(os.path.join(EXAMPLES, "contacts.bnf"), encoding="cp1252").read()
    from_file = ksbnfc.compile(os.path.join(EXAMPLES, "contacts.bnf"))
    assert ksbnfc.compile(text) == from_file == ksbnfc.compile(text.encode("cp1252"))
    two = "<<a>> = x y .\n<<b>> = z .\n"
    assert list(ksbnfc.compile(two)) == ["a", "b"]
    assert list(ksbnfc.compile(two, roots=["<b>"])) == ["b"]
    with pytest.raises(ksbnfc.Error, match="no root c"):
        ksbnfc.compile(two, roots=["c"])
    with pytest.raises(ValueError):
        ksbnfc.compile(two, mode="fast")
    with pytest.raises(ValueError, match="debug_level"):
        ksbnfc.compile(two, debug_level=2**31)
    with pytest.raises(TypeError):
        ksbnfc.compile(two, colour=1)
    g = ksbnfc.load(ksbnfc.compile("<<w>> = hello world -> hi .", mode="translation")["w"])
    assert g.translate("Hello World") == ("hi", 1.0)


def test_understand_agrees_with_the_tool(built, order):
    """Every sample of examples/home.txt: Fsg.understand gives what ksfsg
    understand prints (both through the C++ library ksintent)."""
    artists = os.path.join(EXAMPLES, "artists.txt")
    artist = "artist=%s" % artists
    home = ksbnfc.load(built / "home.fst", externs={"artist": artists})
    with open(os.path.join(EXAMPLES, "home.txt")) as f:
        samples = f.read()
    run = subprocess.run([KSFSG, "understand", "-x", artist, str(built / "home.fst"), "-"],
                         input=samples, capture_output=True, text=True)
    assert run.returncode == 1  # the last sample is not understood
    printed = run.stdout.splitlines()
    assert len(printed) == len(samples.splitlines()) > 10
    for words, line in zip(samples.splitlines(), printed):
        got = home.understand(words)
        assert json.dumps({"text": words, "understood": got is not None, "intent": got and got.name,
                           "slots": got.slots if got else {}}) == line
    assert home.understand("set the heating to twenty one") == ("SetTemperature", {"degrees": 21})
    assert order.understand("a tea please") == (None, {})


def test_vocabularies_let_words_match_externs():
    g = ksbnfc.load(ksbnfc.compile("extern <city>.\n<<t>> = fly to {<city>} -> to {1} .",
                                   mode="translation")["t"])
    assert g.translate("fly to paris", vocabs=["", "", "city"]) == ("to paris", 1.0)
    assert g.translate("fly to paris", vocabs=["", "", "<city>"]).text == "to paris"
    for vocabs in (None, ["", "", "town"], ["", "", "\u2615"], ["", None, "city"]):
        assert g.translate("fly to paris", vocabs=vocabs) is None


def test_warnings_go_through_the_warnings_module():
    with pytest.warns(ksbnfc.CompileWarning, match="<spare> defined but not used"):
        ksbnfc.compile("<<a>> = x .\n<spare> = y .\n")
    with pytest.warns(ksbnfc.CompileWarning, match="empty rule ignored") as found:
        ksbnfc.compile("<<a>> = x | y .\n<<b>> = y | .\n")
    assert [(w.message.line, w.message.column) for w in found] == [(2, 12)]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ksbnfc.compile("<<a>> = x .\n")


# (grammar text, message part, line, column)
ERRORS = [
    ("<<a>> = b c | .\n<x> = ", "syntax error", 2, 7),
    ("<<a>> = b .\n\n  <<a>> = c .\n", "multiply defined", 3, 3),
    ("<<a>> = ( b .\n", "", 1, None),
    ('include "/nonexistent/x.bnf".\n<<a>> = b .\n', "", None, None),
]


@pytest.mark.parametrize("text,part,line,column", ERRORS)
def test_errors_carry_their_place(text, part, line, column):
    with pytest.raises(ksbnfc.Error) as e:
        ksbnfc.compile(text)
    assert part in e.value.message and str(e.value) == e.value.message
    if line is not None:
        assert (e.value.file, e.value.line) == ("<string>", line)
    if column is not None:
        assert e.value.column == column
    assert "ksbnfc-" not in e.value.message  # no scratch names


def test_file_errors_name_the_file(tmp_path):
    bad = tmp_path / "bad.bnf"
    bad.write_text("<<a>> = b\n  c | | .\n<q = \n")
    with pytest.raises(ksbnfc.Error) as e:
        ksbnfc.compile(bad)
    assert (e.value.file, e.value.line) == (str(bad), 3)
    with pytest.raises(ksbnfc.Error) as e:
        ksbnfc.load(tmp_path / "missing.fst")
    assert e.value.file == str(tmp_path / "missing.fst") and e.value.line is None


def damaged(data, seed):
    """Variants of a file: truncations, then bytes overwritten at random."""
    out = [data[:n] for n in (0, 15, 16, 63, 64, 100, len(data) // 2, len(data) - 1)]
    rng = random.Random(seed)
    for _ in range(150):
        b = bytearray(data)
        for _ in range(rng.choice((1, 2, 8))):
            b[rng.randrange(len(b))] = rng.choice((0, 0xFF, 0x7F, rng.randrange(256)))
        out.append(bytes(b))
    return out


@pytest.mark.parametrize("name", ["order.fst", "dial.fsg"])
def test_damaged_files_raise_error(built, name):
    data = (built / name).read_bytes()
    loaded = 0
    for i, variant in enumerate(damaged(data, len(name))):
        try:
            g = ksbnfc.load(variant)
        except ksbnfc.Error as e:
            assert e.message and e.file == "<bytes>", e.message
            continue
        loaded += 1
        # What loads must still match without crashing.
        for call in (lambda: g.translate("two large lattes please"), lambda: g.test("call mum"),
                     lambda: g.substrings("a tea please"), lambda: g.random(3, i),
                     lambda: g.sentences(5), lambda: g.networks):
            try:
                call()
            except ksbnfc.Error:
                pass
    assert loaded < len(damaged(data, 0))


def accepted(g, words):
    return g.test(words) is Result.ACCEPTED


@pytest.mark.parametrize("which", ["order", "dial"])
def test_found_sentences_are_accepted(request, which):
    g = request.getfixturevalue(which)
    drawn = g.random(40, seed=7)
    assert len(drawn) == 40 and drawn == g.random(40, seed=7) != g.random(40, seed=8)
    for p, words in drawn:
        assert 0 < p <= 1 and accepted(g, words), words
    line = "hello " + " ".join(drawn[0][1]) + " there " + " ".join(drawn[1][1])
    words = line.split()
    found = g.substrings(line)
    assert found
    for s in found:
        assert accepted(g, words[s.start:s.end + 1]) and s.probability > 0


def test_enumerated_sentences_are_accepted(built):
    g = ksbnfc.load(built / "contact.fsg")
    found = g.sentences(200, full=True)
    assert "anna berg" in found and len(found) == 11
    assert all(accepted(g, s) for s in found) and g.sentences(3, full=True) == found[:3]
    assert set(g.sentences(200)) < set(found)


def test_sentences_of_a_translation_grammar(order):
    found = order.sentences(50)
    assert found and all(accepted(order, s) for s in found)


def test_externs(built, dial, tmp_path):
    assert [dial.test(w) for w in ("call anna berg at home", "call", "call bob")] == [
        Result.ACCEPTED, Result.PREFIX, Result.REJECTED]
    assert dial.externs == ("<contact>",)
    # The same file again is fine; another file under the same name is not.
    ksbnfc.load(built / "dial.fsg", externs={"<contact>": built / "contact.fsg"})
    with pytest.raises(ksbnfc.Error, match="already loaded"):
        ksbnfc.load(built / "dial.fsg", externs={"contact": built / "order.fst"})
    also = ksbnfc.load(built / "dial.fsg", externs=True)
    assert also.test("ring the dentist") is Result.ACCEPTED
    # Externs from bytes; no bytes are no grammar.
    fly = ksbnfc.compile("extern <town>.\n<<f>> = fly to <town> .\n")["f"]
    for town in (b"", ksbnfc.compile("<<town>> = paris | rome .\n")["town"]):
        try:
            g = ksbnfc.load(fly, externs={"town": town})
        except ksbnfc.Error as e:
            assert not town and e.file == "<bytes>"
    assert g.test("fly to rome") is Result.ACCEPTED
    # A slot list is compiled as it is loaded.
    (tmp_path / "cities.txt").write_text("new york : NYC\nparis\n")
    hop = ksbnfc.compile("extern <city>.\n<<h>> = hop to {<city>} -> {1} .\n", "translation")["h"]
    assert ksbnfc.load(hop, externs={"city": tmp_path / "cities.txt"}).translate("hop to new york").text == "NYC"


def test_inspection(order):
    assert order.words[0] == "" and "latte" in order.words
    assert order.flags & ksbnfc.Flag.NO_INSERTIONS
    nets = order.networks
    assert nets[0].states is order.states and nets[1:] == order.sub_networks
    called = {a.word_id for net in nets for arcs in net.states for a in arcs if a.kind == "intern"}
    assert called == set(range(len(order.sub_networks)))
    for net in nets:
        for arcs in net.states:
            for a in arcs:
                assert a.target is None or 0 <= a.target < len(net.states)
                if a.kind == "intern":
                    assert 0 <= a.word_id < len(order.sub_networks)
                elif a.kind == "word":
                    assert order.words[a.word_id] == a.word
    assert any(a.annotation for net in nets for arcs in net.states for a in arcs)
    with pytest.raises(TypeError):
        order.test(b"two lattes")


# (grammar, format, keywords of export, switches of ksfsg export)
EXPORTS = [
    ("order.fst", "sphinx", {}, []),
    ("order.fst", "dot", {"splice": False}, ["--no-splice"]),
    ("order.fst", "openfst", {"lower": True, "name": "coffee"}, ["--lower", "--name", "coffee"]),
    ("dial.fsg", "sphinx", {}, []),
]


@pytest.mark.parametrize("grammar,format,kw,switches", EXPORTS)
def test_export_gives_the_tools_text(built, tmp_path, grammar, format, kw, switches):
    g = ksbnfc.load(built / grammar)
    cmd = [KSFSG, "export", "--format", format, *switches, str(built / grammar),
           "-o", str(tmp_path / "out")]
    if format == "openfst":
        cmd += ["--symbols", str(tmp_path / "syms")]
    subprocess.run(cmd, check=True, capture_output=True)
    assert g.export(format, **kw) == (tmp_path / "out").read_text(encoding="cp1252")
    if format == "openfst":
        kw.pop("name")
        assert g.export_symbols(**kw) == (tmp_path / "syms").read_text(encoding="cp1252")
    with pytest.raises(ValueError):
        g.export("png")


@pytest.mark.parametrize("cp,name", [(1252, "cp1252"), (850, "cp850"), (932, "cp932"),
                                     (936, "gbk"), (949, "cp949"), (950, "cp950"),
                                     (65001, "utf-8"), (12345, None)])
def test_code_page_codecs(cp, name):
    if name:
        assert ksbnfc.codec(cp) == name
    else:
        with pytest.raises(ksbnfc.Error, match="no Python codec"):
            ksbnfc.codec(cp)


@pytest.fixture
def saved_code_page():
    """The process's code page, set back after the test."""
    saved = ksbnfc.code_page()
    yield saved
    ksbnfc.set_code_page(saved)


def test_two_byte_code_page(saved_code_page):
    data = ksbnfc.compile("<<ja>> = コーヒー を ください -> コーヒー .\n",
                          mode="translation", code_page=932)["ja"]
    g = ksbnfc.load(data, code_page=932)
    # The grammar matches in its own code page whatever the process's is.
    ksbnfc.set_code_page(saved_code_page)
    assert g.code_page == 932 and ksbnfc.code_page() == saved_code_page
    assert g.translate("コーヒー を ください").text == "コーヒー"
    assert g.test("コーヒー を") is Result.PREFIX
    assert g.test("\u00e9") is Result.REJECTED  # not in code page 932


def test_readme_example(tmp_path):
    readme = open(os.path.join(EXAMPLES, "..", "README.md"), encoding="utf-8").read()
    code = readme.split("```python\n", 1)[1].split("```", 1)[0]
    os.symlink(os.path.abspath(EXAMPLES), tmp_path / "examples")
    run = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                         text=True, check=True)
    assert run.stdout.splitlines()[:3] == [
        "Translation(text='2 large latte, 1 regular tea', probability=2.480455153906422e-08)",
        "None", "PREFIX"]
    assert "ACCEPTED" in run.stdout and "<string> 2 7 syntax error" in run.stdout


def test_utf8_grammar_keeps_its_code_page(saved_code_page):
    data = ksbnfc.compile("<<c>> = один кофе -> 1 кофе | crème brûlée -> dessert .\n",
                          mode="translation", code_page=65001)["c"]
    ksbnfc.set_code_page(saved_code_page)
    g = ksbnfc.load(data)  # the file records its code page
    assert g.codec == "utf-8" and "кофе" in g.words
    assert [g.translate(w).text for w in ("ОДИН Кофе", "CRÈME BRÛLÉE")] == ["1 кофе", "dessert"]
    assert g.test("один \ud800") is Result.REJECTED  # a lone surrogate is no UTF-8
    assert sorted(g.sentences(10)) == ["crème brûlée", "один кофе"]


def test_threads_translate_as_one(order):
    lines = [w for w, _ in ORDERS] + ["two large", "please two"] * 3
    single = [order.translate(w) for w in lines]
    # The pool hands a thread's exception on to map's caller.
    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda _: [[order.translate(w) for w in lines] for _ in range(40)], range(4)))
    assert all(rep == single for r in results for rep in r)
