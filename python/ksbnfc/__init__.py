"""Compile BNF grammars into finite-state grammars and match word strings.

The Python face of libksbnfc: compile() turns a grammar into engine FSGs
(.fsg) or translation FSGs (.fst), load() reads one, and the returned Fsg
tests, translates and searches word strings, lists accepted and random
sentences and shows its states and arcs.

    >>> import ksbnfc
    >>> order = ksbnfc.load("order.fst")
    >>> order.translate("two large lattes please")
    Translation(text='2 large latte', probability=...)

Words are encoded in the grammar's code page; a word that the code page
cannot hold matches nothing. Failures raise ksbnfc.Error, with the file,
line and column where the library names them; compiler warnings go through
the warnings module as CompileWarning.
"""
# This module owns the Python habits (keywords, text, named tuples, enums,
# exceptions); _ksbnfc does the work in C++.

import enum
import os
import threading
import warnings as _warnings
from typing import NamedTuple, Optional, Sequence, Tuple, Union

from . import _ksbnfc

__all__ = [
    "Arc", "CompileWarning", "Error", "Flag", "Fsg", "Intent", "Network", "Result", "SubString",
    "Translation", "code_page", "codec", "compile", "load", "set_code_page",
]


# ---- errors and warnings ----

class Error(Exception):
    """A failure of the compiler or the run time.

    `message` is the library's text; `file`, `line` and `column` say where,
    when the library names a place (None otherwise).
    """

    def __init__(self, message: str, file: Optional[str] = None,
                 line: Optional[int] = None, column: Optional[int] = None):
        super().__init__(message)
        self.message = message
        self.file = file
        self.line = line
        self.column = column


class CompileWarning(UserWarning):
    """A warning of the grammar compiler; `file`, `line` and `column` say
    where, when the compiler names a place (None otherwise)."""

    def __init__(self, message: str, file: Optional[str] = None,
                 line: Optional[int] = None, column: Optional[int] = None):
        super().__init__(message)
        self.message = message
        self.file = file
        self.line = line
        self.column = column


def _error(failure, file: Optional[str] = None) -> Error:
    """An Error from a library failure, whose record is (message, file, line,
    column); `file` is the file the call was reading, for failures that name
    none."""
    message, at, line, column = failure.args
    return Error(message, at or file, line, column)


def _call(fn, *args, file=None, **kw):
    try:
        return fn(*args, **kw)
    except _ksbnfc.Failure as e:
        raise _error(e, file) from None


# ---- code pages ----

# Code pages whose Python codec is not simply "cp<number>".
_CODECS = {65001: "utf-8", 936: "gbk", 20127: "ascii", 28591: "latin-1"}


def codec(code_page: int) -> str:
    """The Python codec of a code page (1252 -> 'cp1252', 65001 -> 'utf-8')."""
    name = _CODECS.get(code_page, "cp%d" % code_page)
    import codecs
    try:
        return codecs.lookup(name).name
    except LookupError:
        raise Error("code page %d has no Python codec" % code_page) from None


def code_page() -> int:
    """The library's process-wide code page (chosen from the environment,
    SPCH_CODEPAGE or LANG, on first use; 1252 by default)."""
    return _ksbnfc.code_page()


def set_code_page(cp: int) -> None:
    """Sets the process-wide code page that grammars are compiled and
    loaded in (0: from the environment again). Loaded grammars keep theirs."""
    if cp:
        codec(cp)  # a code page Python cannot encode for is refused here
    _ksbnfc.set_code_page(int(cp))


# ---- compiling ----

class Flag(enum.IntFlag):
    """Phrase flags stored in an FSG file (compile(flags=...))."""
    ALLOW_SILENCES = 0x10
    SHOW_SILENCES = 0x20
    NO_SILENCES = 0x40
    CONST_PROBABILITIES = 0x80
    ALLOW_INSERTIONS = 0x100
    SHOW_INSERTIONS = 0x200
    NO_INSERTIONS = 0x400
    NORMALIZE = 0x800
    DONT_NORMALIZE = 0x1000


# Mode -> extension of the compiled files.
_MODES = {"engine": ".fsg", "translation": ".fst", None: ".fsg"}


def _is_grammar_text(source) -> bool:
    if isinstance(source, (bytes, bytearray)):
        return True
    if isinstance(source, os.PathLike):
        return False
    if os.path.isfile(source):
        return False
    # Every rule and extern statement names a <nonterminal>; file names
    # seldom hold '<', '=' or a line end.
    return any(c in source for c in "<=\n")


def compile(source: Union[str, bytes, "os.PathLike[str]"], mode: Optional[str] = "engine",
            roots: Optional[Sequence[str]] = None, code_page: Optional[int] = None,
            out_dir: Optional[Union[str, "os.PathLike[str]"]] = None, *,
            equalize_arc_probabilities: Optional[bool] = None,
            equalize_sentence_probabilities: Optional[bool] = None,
            flags: Optional[int] = None, null_arcs: Optional[bool] = None,
            annotations: Optional[bool] = None, debug_level: Optional[int] = None,
            time: Optional[bool] = None) -> dict:
    """Compiles a grammar; returns {root name: compiled grammar}.

    `source` is the path of a .bnf file (a .txt file is a slot list, see
    docs/grammars.md), or grammar text (bytes, or a str that is not the
    name of a file and holds '<', '=' or a line end). Text is named
    "<string>" in messages; its relative includes are looked for from the
    current directory, then in the built-in grammars' folders.

    `mode` is "engine" (.fsg files for the recogniser), "translation" (.fst
    files that translate) or None (the library's defaults). With `out_dir`
    every root is written there as <root>.fsg / <root>.fst and the values
    are the paths; without it the values are the files' bytes. `roots`
    keeps only the roots named (an Error if one is missing).

    The other keywords are the compile parameters; None leaves the
    library's default: equalize_arc_probabilities (default on),
    equalize_sentence_probabilities (when arc equalisation is off),
    flags (Flag values, default NO_INSERTIONS | ALLOW_SILENCES), null_arcs
    (keep null arcs; on in translation mode), annotations (keep
    annotations; off in engine mode), debug_level (0 to 9: listings on
    standard output), time (compile time on standard error).

    `code_page` compiles in that code page and leaves it the process's
    code page, as the library does. Warnings are issued as CompileWarning.
    """
    if mode not in _MODES:
        raise ValueError("mode must be 'engine', 'translation' or None, not %r" % (mode,))
    if code_page is not None:
        code_page = int(code_page)
        codec(code_page)
    if debug_level is not None and not 0 <= int(debug_level) <= 9:
        raise ValueError("debug_level must be from 0 to 9, not %r" % (debug_level,))

    def given(value, kind):
        return None if value is None else kind(value)

    if _is_grammar_text(source):
        name = "<string>"
        text = bytes(source) if isinstance(source, (bytes, bytearray)) else \
            source.encode(codec(code_page or _ksbnfc.code_page()))
    else:
        name, text = os.fspath(source), None
    try:
        made, found = _ksbnfc.compile(
            name, text, mode, code_page or 0,
            equalize_arc_probabilities=given(equalize_arc_probabilities, bool),
            equalize_sentence_probabilities=given(equalize_sentence_probabilities, bool),
            flags=given(flags, int), null_arcs=given(null_arcs, bool),
            annotations=given(annotations, bool), debug_level=given(debug_level, int),
            time=given(time, bool))
    except _ksbnfc.Failure as e:
        # A source that cannot be read has no place in it.
        raise _error(e, file=name if "'%s'" % name in e.args[0] else None) from None
    for message, at, line, column in found:
        _warnings.warn(CompileWarning(message, at, line, column), stacklevel=2)
    # Keyed and ordered by the names of the files the roots are written to.
    results = dict(sorted((root.replace("<", "").replace(">", ""), data) for root, data in made))
    if roots is not None:
        missing = [r for r in roots if r.strip("<>") not in results]
        if missing:
            raise Error("no root %s in the grammar (roots: %s)"
                        % (", ".join(missing), ", ".join(results) or "none"))
        results = {r.strip("<>"): results[r.strip("<>")] for r in roots}
    if out_dir is None:
        return results
    os.makedirs(out_dir, exist_ok=True)
    out = {}
    for root, data in results.items():
        out[root] = os.path.join(os.fspath(out_dir), root + _MODES[mode])
        with open(out[root], "wb") as f:
            f.write(data)
    return out


# ---- loading ----

class Result(enum.IntEnum):
    """What Fsg.test says of a word string."""
    REJECTED = 0
    PREFIX = 1    # not accepted, but a continuation of it would be
    ACCEPTED = 2


class Translation(NamedTuple):
    """The translation of an accepted word string and the probability of
    the path that gave it ('' when the path translates to nothing)."""
    text: str
    probability: float


class Intent(NamedTuple):
    """What a grammar with intent and slot tags understood (docs/intents.md):
    the intent's name (None when the sentence names none) and the slots, in
    the order the sentence fills them; a value written as a number is an int
    or a float."""
    name: Optional[str]
    slots: dict


class SubString(NamedTuple):
    """A stretch words[start:end + 1] the grammar accepts, its probability
    and its translation (None when it translates to nothing)."""
    start: int
    end: int
    probability: float
    translation: Optional[str]


class Arc(NamedTuple):
    """An arc of a network. kind is "word", "null" (consumes nothing),
    "intern" (calls network `word_id` of Fsg.networks, offset by one) or
    "extern" (calls the extern grammar named `word`). target is the next
    state's index, None when the arc leaves the network."""
    word: str
    kind: str
    word_id: int
    target: Optional[int]
    probability: float
    annotation: Optional[str]


class Network(NamedTuple):
    """A network: the main grammar or an intern sub-network. states[i] is
    the tuple of arcs of state i; state 0 is the initial state."""
    name: str
    states: Tuple[Tuple[Arc, ...], ...]


Words = Union[str, Sequence[Union[str, bytes]]]


# Extern grammars live in one cache per process: a name once registered
# keeps its grammar. The files they came from, to refuse another.
_externs = {}
_externs_lock = threading.Lock()


def _register_extern(name: str, source) -> None:
    name = name.strip("<>")
    if isinstance(source, (bytes, bytearray, memoryview)):
        data = bytes(source)
        shown, key = "<bytes>", ("bytes", hash(data))
    else:
        data, shown = None, os.fspath(source)
        key = ("file", os.path.realpath(shown))
    with _externs_lock:
        old = _externs.get(name)
        if old is None and _ksbnfc.extern_registered(name):
            old = ("unknown", None)
        if old is not None:
            if old != key:
                raise Error("extern grammar <%s> is already loaded (from %s); extern grammars "
                            "stay loaded until the process ends" % (name, old[1] or "elsewhere"))
            return
        if data is None:
            _call(_ksbnfc.register_extern, name, shown, file=shown)
        else:
            _call(_ksbnfc.register_extern_bytes, name, data, shown, file=shown)
        _externs[name] = key


def load(source: Union[str, bytes, "os.PathLike[str]"], externs=None,
         code_page: Optional[int] = None) -> "Fsg":
    """Loads an FSG file (a path, or the file's bytes) as an Fsg.

    `externs` maps extern grammar names (with or without the brackets) to
    their files (paths or bytes; a .txt slot list, one value a line or
    "spoken words : value", is compiled here); True loads every extern the grammar names
    from the file beside it with the grammar's extension. Extern grammars
    are shared by the whole process and stay loaded: registering a name
    again with another file is an Error.

    `code_page` sets the process's code page first; the grammar's words are
    read and matched in it.
    """
    if code_page is not None:
        set_code_page(code_page)
    if isinstance(source, (bytes, bytearray, memoryview)):
        if externs is True:
            raise ValueError("externs=True needs a file: give the externs by name")
        shown = "<bytes>"
        grammar = _call(_ksbnfc.Grammar.from_bytes, bytes(source), shown, file=shown)
    else:
        path = shown = os.fspath(source)
        grammar = _call(_ksbnfc.Grammar.load, path, file=path)
    fsg = Fsg(grammar, shown)
    if externs is True:
        _call(grammar.load_externs)
    elif externs:
        for name, file in dict(externs).items():
            _register_extern(name, file)
    return fsg


# ---- the loaded grammar ----

# Words the code page cannot hold (or that hold a NUL byte, which would end
# them early) come back as None: such a word matches nothing. _ksbnfc reads
# a str and lists and tuples of str and bytes itself, and calls this for
# the rest.
def _encode(words: Words, codec: str) -> list:
    if isinstance(words, str):
        words = words.split()
    elif isinstance(words, (bytes, bytearray)):
        raise TypeError("words must be a str or a sequence of str, not bytes")
    out = []
    for w in words:
        if isinstance(w, str):
            try:
                w = w.encode(codec)
            except UnicodeEncodeError:
                w = None
        elif isinstance(w, (bytes, bytearray)):
            w = bytes(w)
        else:
            raise TypeError("a word must be a str, not %s" % type(w).__name__)
        out.append(None if w is None or b"\0" in w else w)
    return out


_ASCII = "".join(map(chr, range(128)))


class Fsg:
    """A loaded FSG. Matching methods may be called from several threads at
    once; they release the GIL while they run, except test and translate
    on up to 8 words, which take less time than letting it go."""

    def __init__(self, grammar, name: str):
        self._g = grammar
        self.name = name
        self.code_page = grammar.code_page
        self.codec = codec(self.code_page)
        self._networks = None
        # Where the codec writes ASCII as itself, _ksbnfc passes ASCII words
        # on as they are.
        raw = _ASCII.encode("ascii")
        try:
            ascii_same = _ASCII.encode(self.codec) == raw and raw.decode(self.codec) == _ASCII
        except UnicodeError:
            ascii_same = False
        grammar.bind(self.codec, ascii_same, _encode, tuple(Result), Translation)

    def __repr__(self):
        return "<ksbnfc.Fsg %r code_page=%d>" % (self.name, self.code_page)

    def _encode(self, words: Words):
        return _encode(words, self.codec)

    def _decode(self, b: Optional[bytes]) -> Optional[str]:
        return None if b is None else b.decode(self.codec, "surrogateescape")

    def test(self, words: Words) -> Result:
        """ACCEPTED if the grammar accepts the words, PREFIX if it accepts a
        continuation of them, else REJECTED."""
        try:
            return self._g.test(words)
        except _ksbnfc.Failure as e:
            raise _error(e) from None

    def translate(self, words: Words, vocabs: Optional[Sequence[Optional[str]]] = None
                  ) -> Optional[Translation]:
        """The translation of the first accepting path, or None when the
        grammar rejects the words. vocabs[i] names the word class of
        words[i], which lets it match an extern reference of that name."""
        if not vocabs:
            try:
                return self._g.translate(words)
            except _ksbnfc.Failure as e:
                raise _error(e) from None
        encoded = self._encode(words)
        if None in encoded:
            return None
        tags = []
        for v in vocabs:
            if v is None:
                break
            try:
                tags.append(v.strip("<>").encode(self.codec))
            except UnicodeEncodeError:  # names no extern of the grammar
                tags.append(b"")
        return _call(self._g.translate, encoded, tags)

    def understand(self, words: Words) -> Optional[Intent]:
        """The intent and slots of the words, or None when the grammar does
        not accept them. A grammar compiled without tags gives no intent and
        no slots."""
        encoded = self._encode(words)
        if None in encoded:
            return None
        found = _call(self._g.understand, encoded)
        if found is None:
            return None
        name, slots = found
        values = {}
        for slot, number, value in slots:
            text = self._decode(value)
            values[self._decode(slot)] = (float(text) if "." in text else int(text)) if number else text
        return Intent(self._decode(name), values)

    def substrings(self, words: Words) -> list:
        """Every accepted stretch of the words as SubString(start, end,
        probability, translation), the latest start first: each stretch
        once, with the best probability of its paths."""
        encoded = self._encode(words)
        # A word the code page cannot hold splits the search: no stretch
        # can cross it.
        runs, start = [], 0
        for i, w in enumerate(encoded + [None]):
            if w is None:
                if i > start:
                    runs.append((start, encoded[start:i]))
                start = i + 1
        out = []
        for offset, run in reversed(runs):
            for s, e, p, t in _call(self._g.substrings, run):
                out.append(SubString(s + offset, e + offset, p, self._decode(t)))
        return out

    def sentences(self, limit: int = 100, max_words: int = 20, max_loops: int = 1,
                  full: bool = False) -> list:
        """Up to `limit` sentences the grammar accepts, as word strings, in
        the order the library's enumeration lists them (depth first in arc
        order; `max_words` arcs per sentence, a state at most `max_loops`
        times on a path, with `full` every arc to a state rather than the
        first)."""
        if limit <= 0:
            return []
        lines = _call(self._g.sentences, int(limit), int(max_words), int(max_loops), bool(full))
        return [self._decode(s) for s in lines]

    def random(self, n: int = 10, seed: int = 1) -> list:
        """n random sentences as (probability, words), each arc drawn by its
        probability; the same seed gives the same sentences as
        `ksfsg random -n N --seed SEED`."""
        return [(p, [self._decode(w) for w in words])
                for p, words in _call(self._g.random, int(n), int(seed) & 0xFFFFFFFF)]

    def export(self, format: str, *, splice: bool = True, lower: bool = False,
               name: Optional[str] = None) -> str:
        """The grammar as text, as `ksfsg export --format FORMAT` writes it:
        "sphinx" (the recogniser's text FSG), "openfst" (an acceptor for
        `fstcompile --acceptor`, symbols from export_symbols) or "dot" (a
        Graphviz drawing).

        With `splice` sub-grammar and extern calls are copied in place of
        their arcs (externs not registered are read from beside the file,
        as load(externs=True) does); without it they stay arcs labelled
        <NAME>. `lower` lower-cases the words; `name` is the grammar name
        written (default: the file's base name)."""
        return self._export(format, splice, lower, name)[0]

    def export_symbols(self, *, splice: bool = True, lower: bool = False) -> str:
        """The symbol table that goes with export("openfst")."""
        return self._export("openfst", splice, lower, None)[1]

    def _export(self, format, splice, lower, name):
        text, symbols = _call(self._g.export, format, bool(splice), bool(lower), name or "")
        return self._decode(text), self._decode(symbols)

    @property
    def flags(self) -> Flag:
        """The phrase flags stored in the file."""
        return Flag(self._g.flags)

    @property
    def words(self) -> Tuple[Optional[str], ...]:
        """The word texts by id; words[0] is the empty word."""
        return tuple(self._decode(w) for w in self._g.word_texts(0))

    @property
    def externs(self) -> Tuple[str, ...]:
        """The names of the extern grammars the grammar calls, bracketed."""
        return tuple(self._decode(w) or "" for w in self._g.word_texts(1))

    @property
    def networks(self) -> Tuple[Network, ...]:
        """The main network, then each intern sub-network."""
        if self._networks is None:
            nets = []
            for name, states in self._g.networks():
                nets.append(Network(name, tuple(
                    tuple(Arc(self._decode(word) or "", kind, wid, None if to < 0 else to, p,
                              self._decode(anno))
                          for to, kind, wid, word, anno, p in arcs)
                    for arcs in states)))
            self._networks = tuple(nets)
        return self._networks

    @property
    def states(self) -> Tuple[Tuple[Arc, ...], ...]:
        """The states of the main network (networks[0].states)."""
        return self.networks[0].states

    @property
    def sub_networks(self) -> Tuple[Network, ...]:
        """The intern sub-networks; an intern arc with word_id k calls
        sub_networks[k]."""
        return self.networks[1:]
