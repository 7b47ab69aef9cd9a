"""What the Python benchmarks share: the corpus of real books beside the project, and the
best of several timed rounds."""
import os
import time

CORPUS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "shared", "corpus")


def corpus_paths():
    """The corpus's books in name order; empty when there is no corpus."""
    if not os.path.isdir(CORPUS):
        return []
    return sorted(os.path.join(CORPUS, name) for name in os.listdir(CORPUS) if name.endswith(".epub"))


def best_of(rounds, work):
    """The shortest wall time of `rounds` calls of work."""
    best = float("inf")
    for _ in range(rounds):
        started = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - started)
    return best
