#!/usr/bin/env bash
# Redraws the pictures in docs/ from the examples: for each example, docs/<name>-dot.png from its
# DOT text (Graphviz), docs/<name>-tikz.png from its LaTeX figure (pdflatex, poppler), and
# kelvora's own drawing, as the example writes it with export_svg(), as docs/<name>.svg (the
# trust game of symbolic.py as docs/trust.svg; the centipede also with its equilibrium drawn
# thick, as docs/centipede-equilibrium.svg); and kelvora's own tikzpictures of the games of
# examples/figures.py as docs/<name>-picture.png, beside their drawings as docs/<name>.svg.
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

# Draws $1.tex, a picture or a figure in $work, into docs/$2.png, on a page that holds only the
# picture: a figure float is set in place, in a box, and the page is cut to that box with a
# small border all round. The box is as wide as the picture, which may be as wide as the text.
crop() {
  cat >"$work/$1-page.tex" <<TEX
\\documentclass{article}
\\usepackage{tikz}
\\usetikzlibrary{calc}
\\pagestyle{empty}
\\renewenvironment{figure}[1][]{}{}
\\newsavebox\\figurebox
\\newlength\\border
\\setlength\\border{10pt}
\\begin{document}
\\sbox\\figurebox{\\input{$1.tex}}
\\pdfpagewidth=\\dimexpr\\wd\\figurebox+2\\border\\relax
\\pdfpageheight=\\dimexpr\\ht\\figurebox+\\dp\\figurebox+2\\border\\relax
\\hoffset=\\dimexpr\\border-1in\\relax
\\voffset=\\dimexpr\\border-1in\\relax
\\shipout\\hbox{\\usebox\\figurebox}
\\end{document}
TEX
  compile "$1-page"
  pdftoppm -png -r 150 -singlefile "$work/$1-page.pdf" "docs/$2"
}

compile() {
  if ! (cd "$work" && pdflatex -interaction=nonstopmode -halt-on-error "$1.tex" >/dev/null); then
    echo "pdflatex failed on $1.tex; the end of its log:" >&2
    tail -n 30 "$work/$1.log" >&2
    exit 1
  fi
}

for name in "${examples[@]}"; do
  "$python" "examples/$name.py" "$work" >"$work/$name.dot"
  dot -Tpng "$work/$name.dot" -o "docs/$name-dot.png"
  crop "$name" "$name-tikz"

  drawing=docs/$name.svg
  if [ "$name" = symbolic ]; then drawing=docs/trust.svg; fi
  cp "$work/$name.svg" "$drawing"
  if [ "$name" = centipede ]; then
    cp "$work/centipede-equilibrium.svg" docs/
    drawing="$drawing docs/centipede-equilibrium.svg"
  fi

  echo "docs/$name-dot.png docs/$name-tikz.png $drawing"
done

# kelvora's own tikzpictures of the textbook games, at their natural size and at most as wide as
# the text of an article: the document of examples/figures.py must compile without an overfull
# box, and each picture in it is drawn as docs/<name>-picture.png, beside its SVG drawing.
"$python" examples/figures.py "$work" >/dev/null
compile figures
if grep -q "Overfull" "$work/figures.log"; then
  echo "examples/figures.py: a picture is wider than the text" >&2
  exit 1
fi
for name in horse centipede trust ultimatum signalling poker specials; do
  crop "$name-picture" "$name-picture"
  cp "$work/$name.svg" "docs/$name.svg"
  echo "docs/$name-picture.png docs/$name.svg"
done

# A game of pygambit's catalog, read from its .efg file and drawn as docs/poker-efg.svg. The
# catalog is not part of this repository: .ci/corpus fetches it into build/corpus (or
# KELVORA_EFG_CORPUS names where it is); without it the picture is left as it is.
corpus=${KELVORA_EFG_CORPUS:-build/corpus}
catalog_game=$corpus/catalog/books/myerson1991/fig2_1.efg
if [ -f "$catalog_game" ]; then
  "$python" -c 'import sys, kelvora; kelvora.load_efg(sys.argv[1]).export_svg(sys.argv[2])' \
    "$catalog_game" docs/poker-efg.svg
  echo "docs/poker-efg.svg"
else
  echo "docs/poker-efg.svg left as it is: $catalog_game is missing (run .ci/corpus)" >&2
fi
