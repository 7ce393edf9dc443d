import sys

from tornquil_cli import main

sys.exit(main())
