#!/usr/bin/env bash
# Redraws the pictures in docs/ from the examples: for each example, docs/<name>-dot.png from its
# DOT text (Graphviz), docs/<name>-tikz.png from its LaTeX figure (pdflatex, poppler), and
# kelvora's own drawing, as the example writes it with export_svg(), as docs/<name>.svg (the
# trust game of symbolic.py as docs/trust.svg).
#
# Run from anywhere with kelvora importable, e.g. after `pip install .`:
#     bash docs/regenerate.sh
# or against a build tree:
#     PYTHONPATH=/path/to/build bash docs/regenerate.sh
# PYTHON names the interpreter (python3 by default).
set -euo pipefail

cd "$(dirname "$0")/.."
python=${PYTHON:-python3}
examples=(entry matching_pennies symbolic horse centipede)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for name in "${examples[@]}"; do
  "$python" "examples/$name.py" "$work" >"$work/$name.dot"
  dot -Tpng "$work/$name.dot" -o "docs/$name-dot.png"

  # A page that holds only the figure: the float is set in place, in a box, and the page is
  # cut to that box with a small border all round.
  cat >"$work/$name-page.tex" <<TEX
\\documentclass{article}
\\usepackage{tikz}
\\usetikzlibrary{calc}
\\pagestyle{empty}
\\renewenvironment{figure}[1][]{}{}
\\newsavebox\\figurebox
\\newlength\\border
\\setlength\\border{10pt}
\\begin{document}
\\sbox\\figurebox{\\input{$name.tex}}
\\pdfpagewidth=\\dimexpr\\wd\\figurebox+2\\border\\relax
\\pdfpageheight=\\dimexpr\\ht\\figurebox+\\dp\\figurebox+2\\border\\relax
\\hoffset=\\dimexpr\\border-1in\\relax
\\voffset=\\dimexpr\\border-1in\\relax
\\shipout\\hbox{\\usebox\\figurebox}
\\end{document}
TEX
  if ! (cd "$work" && pdflatex -interaction=nonstopmode -halt-on-error "$name-page.tex" >/dev/null); then
    echo "pdflatex failed on the figure of examples/$name.py; the end of its log:" >&2
    tail -n 30 "$work/$name-page.log" >&2
    exit 1
  fi
  pdftoppm -png -r 150 -singlefile "$work/$name-page.pdf" "docs/$name-tikz"

  drawing=docs/$name.svg
  if [ "$name" = symbolic ]; then drawing=docs/trust.svg; fi
  cp "$work/$name.svg" "$drawing"

  echo "docs/$name-dot.png docs/$name-tikz.png $drawing"
done
