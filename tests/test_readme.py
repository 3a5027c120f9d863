"""The examples in the README run as shown."""

import doctest
import re
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_examples():
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)
    assert blocks
    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    # The blocks read as one session: names carry over from one block to the next.
    session = {}
    for number, block in enumerate(blocks):
        test = parser.get_doctest(block, session, f"README block {number}", str(README), 0)
        runner.run(test, clear_globs=False)
        session = test.globs
    assert runner.failures == 0
