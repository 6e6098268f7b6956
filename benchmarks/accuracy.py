"""The accurate profile on GSC+: document, lenient and strict scores of the
exact profile, of each lever alone and of all together; and the speed of
`annotate(..., profile="accurate")` against plain `map_text` over the
MEDLINE abstracts, CPU time of this process, in the same run.

    python benchmarks/accuracy.py [--hpo hp.json] [--gold docs.jsonl]
                                  [--speed-corpus docs.jsonl] [--rounds 3] [--json]

The release defaults to the one embedded in the package. Speed is the best
of --rounds passes of each side, alternating, so that a busy machine slows
both alike; `annotate` with the exact profile is timed beside them, since
records cost time of their own. Both `annotate` runs leave out the assertion
status (assertion="library"): its cost is the same for either profile.
Speed is measured before the scores, and says whether the toolkit's compiled
helper (corvanta_tools._accurate) ran: from a source tree on the path
without it, the profile runs its Python twins.
"""
from __future__ import annotations

import argparse
import json
import pathlib
import time
from collections.abc import Callable

import corvanta
from corvanta_tools.accuracy.coordination import compiled_coordinations
from corvanta_tools.accuracy.recogniser import ACCURATE, Levers, accurate_recogniser
from corvanta_tools.embedded import default_release_path
from corvanta_tools.evaluate import LEVELS, Evaluation, found_mentions, profile_mentions, score
from corvanta_tools.gold import read_gold
from corvanta_tools.records import annotate
from corvanta_tools.releases import Release

SHARED = pathlib.Path(__file__).resolve().parents[1].parent / "shared"
NONE = Levers(False, False, False, False)
LEVERS = {
    "labels cluster": NONE._replace(labels_cluster=True),
    "one-word hits checked": NONE._replace(one_word_hits_checked=True),
    "coordination": NONE._replace(coordination=True),
    "predicative": NONE._replace(predicative=True),
    "accurate": ACCURATE,
    "accurate + predicative": ACCURATE._replace(predicative=True),
    "accurate + outside subtree": ACCURATE._replace(outside_subtree=True),
    "accurate + most specific": ACCURATE._replace(most_specific=True),
}


def scores(evaluation: Evaluation) -> dict[str, dict[str, float]]:
    return {level: {k: round(v, 4) for k, v in evaluation.total.level(level).as_json().items()
                    if k in ("precision", "recall", "f1")} for level in LEVELS}


def cpu_seconds(run: Callable[[], object]) -> float:
    start = time.process_time()
    run()
    return time.process_time() - start


def speed(hpo: str, texts: list[str], rounds: int) -> dict[str, float]:
    matcher = corvanta.Corvanta(hpo)
    release = Release(hpo)
    accurate_recogniser(hpo)  # built before timing
    chars = sum(map(len, texts))
    plain = exact = accurate = float("inf")
    for _ in range(rounds):
        plain = min(plain, cpu_seconds(lambda: [matcher.map_text(t) for t in texts]))
        exact = min(exact, cpu_seconds(
            lambda: [annotate(matcher, "", t, release=release, assertion="library")
                     for t in texts]))
        accurate = min(accurate, cpu_seconds(
            lambda: [annotate(matcher, "", t, release=release, assertion="library",
                              profile="accurate") for t in texts]))
    return {"characters": chars, "map_text_cpu_s": round(plain, 3),
            "exact_annotate_cpu_s": round(exact, 3),
            "accurate_annotate_cpu_s": round(accurate, 3),
            "map_text_mchar_s": round(chars / plain / 1e6, 2),
            "accurate_mchar_s": round(chars / accurate / 1e6, 2),
            "exact_annotate_ratio": round(plain / exact, 3),
            "ratio": round(plain / accurate, 3),
            "compiled_helper": compiled_coordinations is not None}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hpo", default=None)
    parser.add_argument("--gold", default=str(SHARED / "corpora/gsc_plus/docs.jsonl"))
    parser.add_argument("--speed-corpus",
                        default=str(SHARED / "corpora/medical_abstracts_tc/docs.jsonl"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    hpo = args.hpo or default_release_path()
    release = Release(hpo)
    with open(args.speed_corpus, encoding="utf-8") as file:
        texts = [json.loads(line)["text"] for line in file if line.strip()]
    # Speed first, while the process holds what a user's holds (one matcher,
    # one recogniser), not the data of every lever's recogniser besides.
    speed_results = speed(hpo, texts, args.rounds)
    gold = read_gold(args.gold)
    results: dict[str, object] = {
        "exact": scores(score(gold, found_mentions(corvanta.Corvanta(hpo), gold), release))}
    for name, levers in LEVERS.items():
        found = profile_mentions(accurate_recogniser(hpo, levers), gold)
        results[name] = scores(score(gold, found, release))
    results["speed"] = speed_results
    if args.json:
        print(json.dumps(results, indent=2))
        return
    print(f"HPO release {release.version}, {len(gold)} GSC+ documents")
    print(f"{'':28}" + "".join(f"{level:>22}" for level in LEVELS))
    for name, value in results.items():
        if name != "speed":
            print(f"{name:28}" + "".join(
                f"{value[lv]['precision']:7.3f}{value[lv]['recall']:7.3f}{value[lv]['f1']:7.3f} "
                for lv in LEVELS))
    print("speed:", json.dumps(results["speed"]))


if __name__ == "__main__":
    main()
