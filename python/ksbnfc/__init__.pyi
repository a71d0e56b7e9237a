# Type stubs of the ksbnfc package: the interface an IDE or a type checker
# sees. The behaviour is documented in the docstrings of __init__.py.
import enum
import os
from typing import Dict, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

_Path = Union[str, "os.PathLike[str]"]
Words = Union[str, Sequence[Union[str, bytes]]]

class Error(Exception):
    message: str
    file: Optional[str]
    line: Optional[int]
    column: Optional[int]
    def __init__(self, message: str, file: Optional[str] = ..., line: Optional[int] = ...,
                 column: Optional[int] = ...) -> None: ...

class CompileWarning(UserWarning):
    message: str
    file: Optional[str]
    line: Optional[int]
    column: Optional[int]
    def __init__(self, message: str, file: Optional[str] = ..., line: Optional[int] = ...,
                 column: Optional[int] = ...) -> None: ...

class Flag(enum.IntFlag):
    ALLOW_SILENCES: int
    SHOW_SILENCES: int
    NO_SILENCES: int
    CONST_PROBABILITIES: int
    ALLOW_INSERTIONS: int
    SHOW_INSERTIONS: int
    NO_INSERTIONS: int
    NORMALIZE: int
    DONT_NORMALIZE: int

class Result(enum.IntEnum):
    REJECTED: int
    PREFIX: int
    ACCEPTED: int

class Translation(NamedTuple):
    text: str
    probability: float

class Intent(NamedTuple):
    name: Optional[str]
    slots: Dict[str, Union[str, int, float]]

class SubString(NamedTuple):
    start: int
    end: int
    probability: float
    translation: Optional[str]

class Arc(NamedTuple):
    word: str
    kind: str
    word_id: int
    target: Optional[int]
    probability: float
    annotation: Optional[str]

class Network(NamedTuple):
    name: str
    states: Tuple[Tuple[Arc, ...], ...]

def codec(code_page: int) -> str: ...
def code_page() -> int: ...
def set_code_page(cp: int) -> None: ...

def compile(source: Union[_Path, bytes], mode: Optional[str] = ...,
            roots: Optional[Sequence[str]] = ..., code_page: Optional[int] = ...,
            out_dir: Optional[_Path] = ..., *,
            equalize_arc_probabilities: Optional[bool] = ...,
            equalize_sentence_probabilities: Optional[bool] = ...,
            flags: Optional[int] = ..., null_arcs: Optional[bool] = ...,
            annotations: Optional[bool] = ..., debug_level: Optional[int] = ...,
            time: Optional[bool] = ...) -> Dict[str, Union[bytes, str]]: ...

def load(source: Union[_Path, bytes],
         externs: Union[None, bool, Mapping[str, Union[_Path, bytes]]] = ...,
         code_page: Optional[int] = ...) -> Fsg: ...

class Fsg:
    name: str
    code_page: int
    codec: str
    def test(self, words: Words) -> Result: ...
    def translate(self, words: Words,
                  vocabs: Optional[Sequence[Optional[str]]] = ...) -> Optional[Translation]: ...
    def understand(self, words: Words) -> Optional[Intent]: ...
    def substrings(self, words: Words) -> List[SubString]: ...
    def sentences(self, limit: int = ..., max_words: int = ..., max_loops: int = ...,
                  full: bool = ...) -> List[str]: ...
    def random(self, n: int = ..., seed: int = ...) -> List[Tuple[float, List[str]]]: ...
    def export(self, format: str, *, splice: bool = ..., lower: bool = ...,
               name: Optional[str] = ...) -> str: ...
    def export_symbols(self, *, splice: bool = ..., lower: bool = ...) -> str: ...
    @property
    def flags(self) -> Flag: ...
    @property
    def words(self) -> Tuple[Optional[str], ...]: ...
    @property
    def externs(self) -> Tuple[str, ...]: ...
    @property
    def networks(self) -> Tuple[Network, ...]: ...
    @property
    def states(self) -> Tuple[Tuple[Arc, ...], ...]: ...
    @property
    def sub_networks(self) -> Tuple[Network, ...]: ...
