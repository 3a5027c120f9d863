"""What every example does with its game: prints the DOT text and writes the LaTeX figure to
<example>.tex in the directory given as the first argument (the current directory by default)."""

import sys
from pathlib import Path


def draw(game, script):
    out_dir = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out_dir.mkdir(parents=True, exist_ok=True)
    tex = out_dir / f"{Path(script).stem}.tex"
    print(game.export(), end="")
    game.export_latex(filename=str(tex))
    print(f"LaTeX figure written to {tex}", file=sys.stderr)
