import os
import sys

# The module under test is the one the build made; ctest passes its folder.
_dir = os.environ.get("HX_MODULE_DIR")
if _dir:
    sys.path.insert(0, _dir)
