"""What every example does with its game: prints the DOT text, and writes the LaTeX figure to
<example>.tex and kelvora's own drawing to <example>.svg in the directory given as the first
argument (the current directory by default)."""

import sys
from pathlib import Path


def draw(game, script):
    out_dir = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out_dir.mkdir(parents=True, exist_ok=True)
    stem = Path(script).stem
    print(game.export(), end="")
    game.export_latex(filename=str(out_dir / f"{stem}.tex"))
    game.export_svg(out_dir / f"{stem}.svg")
    print(f"LaTeX figure and SVG drawing written to {out_dir / stem}.tex and .svg", file=sys.stderr)
