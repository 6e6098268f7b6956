import sys

from corvanta_tools.cli import main

sys.exit(main())
