"""The README's demo: make a small public-domain book with the package's helpers, then run
the command line on it (info, toc, validate, and the first lines of markdown)."""
import os
import subprocess
import sys

import quirelo

# Lewis Carroll, "Alice's Adventures in Wonderland" (1865), public domain: the opening
# paragraphs of the first two chapters.
CHAPTERS = [
    ("Down the Rabbit-Hole", [
        "Alice was beginning to get very tired of sitting by her sister on the bank, and of having "
        "nothing to do: once or twice she had peeped into the book her sister was reading, but it had "
        "no pictures or conversations in it, \u201cand what is the use of a book,\u201d thought Alice "
        "\u201cwithout pictures or conversations?\u201d",
        "So she was considering in her own mind (as well as she could, for the hot day made her feel "
        "very sleepy and stupid), whether the pleasure of making a daisy-chain would be worth the "
        "trouble of getting up and picking the daisies, when suddenly a <em>White Rabbit</em> with "
        "pink eyes ran close by her.",
    ]),
    ("The Pool of Tears", [
        "\u201cCuriouser and curiouser!\u201d cried Alice (she was so much surprised, that for the "
        "moment she quite forgot how to speak good English); \u201cnow I\u2019m opening out like the "
        "largest telescope that ever was! Good-bye, feet!\u201d",
    ]),
]


def make_book(path):
    book = quirelo.new_book("Alice's Adventures in Wonderland", language="en",
                            identifier="urn:quirelo:demo:alice", authors=["Lewis Carroll"])
    quirelo.add_stylesheet(book, "style.css", "body { font-family: serif; } h1 { text-align: center; }")
    toc = []
    for number, (title, paragraphs) in enumerate(CHAPTERS, start=1):
        href = f"chapter{number}.xhtml"
        body = f'<h1>Chapter {number}: {title}</h1>\n' + "\n".join(f"<p>{p}</p>" for p in paragraphs)
        quirelo.add_chapter(book, href, body, title=title)
        toc.append((f"Chapter {number}: {title}", href))
    quirelo.set_spine(book, [f"chapter{n}" for n in range(1, len(CHAPTERS) + 1)])
    quirelo.set_toc(book, [("Alice's Adventures in Wonderland", "chapter1.xhtml", toc)])
    quirelo.write_epub(path, book)


def run(*args):
    print(f"\n$ python -m quirelo {' '.join(args)}", flush=True)
    result = subprocess.run([sys.executable, "-m", "quirelo", *args], capture_output=True, text=True)
    lines = result.stdout.splitlines()
    print("\n".join(lines[:14]) + ("\n..." if len(lines) > 14 else ""))
    if result.stderr:
        print(result.stderr, end="", file=sys.stderr)


def main():
    folder = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build", "demo")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "alice.epub")
    make_book(path)
    print(f"made {path} ({os.path.getsize(path)} bytes) with quirelo's helpers")
    run("info", path)
    run("toc", path)
    run("validate", path)
    run("markdown", path)


if __name__ == "__main__":
    main()
