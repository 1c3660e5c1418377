"""python -m gpu_inventory [ARGS]: the bundled inventory.exe with ARGS."""

import sys

from ._command import main

sys.exit(main())
