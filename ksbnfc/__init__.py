"""Not the Python module: this folder holds the library's C++ sources.

Python finds this folder when it runs from the root of the source tree (the
current directory comes first on sys.path), and without this file would
import it as an empty namespace package. The module is built from python/:
this file hands the import over to the first ksbnfc found elsewhere on
sys.path (installed by `pip install .`, or build/python on PYTHONPATH) and
raises ImportError, saying how to build one, when there is none. CMake
compiles only the *.cpp files here, and the built module lives elsewhere.
"""
import importlib.machinery
import importlib.util
import os
import sys


def _hand_over():
    here = os.path.dirname(os.path.realpath(__file__))
    source_root = os.path.dirname(here)
    rest = [p for p in sys.path if os.path.realpath(p or os.curdir) != source_root]
    found = importlib.machinery.PathFinder.find_spec(__name__, rest)
    if found is None or found.loader is None or found.origin is None:
        raise ImportError(
            "%s is the C++ source folder of libksbnfc, not the Python module ksbnfc "
            "(Python looked there because it runs from the root of the source tree), "
            "and no built module ksbnfc is on sys.path. Build and install the module "
            "with `pip install --no-build-isolation .` in the source tree, or build it "
            "with CMake and run with PYTHONPATH=build/python (README.md, \"Python\")." % here,
            name=__name__)
    module = importlib.util.module_from_spec(found)
    # The import statement returns what sys.modules holds once this file has run.
    sys.modules[__name__] = module
    found.loader.exec_module(module)


_hand_over()
