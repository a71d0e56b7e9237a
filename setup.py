"""Packages the Python module ksbnfc, built by the project's own CMake build.

    pip install --no-build-isolation .         (or: pip wheel --no-build-isolation .)

Debian 12 has no scikit-build-core, so build_ext drives CMake itself: it
configures this source tree without the tests and install rules, builds the
target ksbnfc_python (the C++ half, _ksbnfc, with the library linked in
statically) for the interpreter that runs this file, and puts the extension
beside the Python half, python/ksbnfc, in the package. It needs CMake, a
C++17 compiler, the interpreter's headers and pybind11 (Debian 12: cmake g++
python3-dev pybind11-dev). setuptools' build folders are under
build/setuptools; CMake's build is kept there between runs.
"""
import glob
import os
import re
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))

# pip builds through bdist_wheel, which setuptools before 70.1 leaves to the
# package wheel: without it the build stops at "invalid command 'bdist_wheel'".
try:
    import wheel  # noqa: F401
except ImportError:
    try:
        from setuptools.command import bdist_wheel  # noqa: F401
    except ImportError:
        sys.exit("ksbnfc: building the package needs `wheel` in %s (Debian 12: apt-get install "
                 "python3-wheel, and make the virtual environment with Debian's interpreter: "
                 "/usr/bin/python3 -m venv --system-site-packages)" % sys.executable)


def version():
    with open(os.path.join(ROOT, "include", "ksbnfc.h")) as f:
        return re.search(r'^#define KSBNFC_VERSION "([0-9.]+)"', f.read(), re.M).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.path.join(os.path.abspath(self.build_temp), "cmake")
        jobs = os.environ.get("KSBNFC_JOBS") or str(os.cpu_count() or 2)
        self.spawn(["cmake", "-S", ROOT, "-B", build_dir,
                    "-DCMAKE_BUILD_TYPE=Release", "-DKSBNFC_BUILD_TESTS=OFF",
                    "-DKSBNFC_INSTALL=OFF", "-DPython3_EXECUTABLE=" + sys.executable])
        if not os.path.isdir(os.path.join(build_dir, "python", "CMakeFiles", "ksbnfc_python.dir")):
            sys.exit("ksbnfc: CMake left the Python module out; its line 'Python module: skipped (...)' "
                     "above says what is missing (Debian 12: apt-get install python3-dev pybind11-dev)")
        self.spawn(["cmake", "--build", build_dir, "--target", "ksbnfc_python", "-j" + jobs])
        # pybind11 names the extension with this interpreter's suffix, as setuptools does.
        built = glob.glob(os.path.join(build_dir, "python", "ksbnfc", "_ksbnfc*.so"))
        if len(built) != 1:
            sys.exit("ksbnfc: expected one built _ksbnfc extension, found %r" % built)
        target = self.get_ext_fullpath(ext.name)
        self.mkpath(os.path.dirname(target))
        self.copy_file(built[0], target)


setup(
    name="ksbnfc",
    version=version(),
    description="Compile BNF grammars into finite-state grammars and match word strings",
    packages=["ksbnfc"],
    package_dir={"ksbnfc": "python/ksbnfc"},
    package_data={"ksbnfc": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("ksbnfc._ksbnfc", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.7",
    zip_safe=False,
    options={"build": {"build_base": "build/setuptools"}},
)
