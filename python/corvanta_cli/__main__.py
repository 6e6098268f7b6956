import sys

from corvanta_cli.cli import main

sys.exit(main())
