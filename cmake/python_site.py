# Prints where the Python module goes under the install prefix argv[1], as a
# path relative to it (so that --prefix at install time moves it): the site
# directory of this interpreter that lies under the prefix, the shallowest
# (/usr: lib/python3/dist-packages, not local/...). Where there is none,
# prints "!" and the interpreter's scheme path (lib/pythonX.Y/site-packages),
# which it then searches only through PYTHONPATH, and on a second line the
# site directory that it does search.
import os
import sys
import sysconfig

prefix = os.path.realpath(sys.argv[1])
sites = [sysconfig.get_path("platlib"), sysconfig.get_path("purelib")]
sites += [p for p in sys.path if os.path.basename(p) in ("site-packages", "dist-packages")]
under = [os.path.relpath(os.path.realpath(d), prefix) for d in sites]
under = [r for r in under if r != os.pardir and not r.startswith(os.pardir + os.sep)]
if under:
    print(min(under, key=lambda r: r.count(os.sep)))
    sys.exit(0)
print("!" + os.path.normpath(sysconfig.get_path("platlib", "posix_prefix", vars={"base": ".", "platbase": "."})))
print(sysconfig.get_path("platlib"))
