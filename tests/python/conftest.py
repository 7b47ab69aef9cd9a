import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The folder holding the package under test: the checkout, or a sanitizer build's copy.
PACKAGE_ROOT = os.environ.get("QUIRELO_PACKAGE_ROOT", ROOT)
SANITIZED = bool(os.environ.get("QUIRELO_SANITIZED"))
# The module lands in the package folder; importing it bare needs that folder on the path.
sys.path.insert(0, os.path.join(PACKAGE_ROOT, "quirelo"))
sys.path.insert(0, PACKAGE_ROOT)

CORPUS = os.path.join(os.path.dirname(ROOT), "shared", "corpus")


def corpus_books():
    if not os.path.isdir(CORPUS):
        return []
    return sorted(os.path.join(CORPUS, name) for name in os.listdir(CORPUS) if name.endswith(".epub"))


@pytest.fixture
def corpus():
    books = corpus_books()
    if not books:
        pytest.skip(f"no corpus at {CORPUS}")
    return books
