"""The error catalogue source against the id list the codes come from, and the generated table.

Every id that the runtime can raise (runtime/error_ids.def) must appear in library/errors.zem in the
same category and position, each with a message template, and datatypes/error_catalog.inc must be
generated from the current source.
"""
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
result = subprocess.run([sys.executable, str(ROOT / "tools" / "gen_error_catalog.py"), "--check"],
                        capture_output=True, text=True, timeout=60)
if result.returncode != 0:
    print(result.stderr)
    sys.exit(1)

# A template per id: a string or a block on the id's own line.
source = (ROOT / "library" / "errors.zem").read_text(encoding="utf-8")
missing = [line.strip() for line in source.splitlines()
           if line.startswith("\t\t") and line.rstrip().endswith(":")]
if missing:
    print("ids without a template:", missing)
    sys.exit(1)
