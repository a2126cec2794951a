#!/usr/bin/env python3
"""Checks JSON lines against the schema of brindlemark-cli --json.

usage: validate-json-lines.py SCHEMA FILE
Prints each line that does not match, with why; exits 1 when any does not, 0 otherwise.
"""
import json
import sys

import jsonschema


def main() -> int:
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator = jsonschema.Draft7Validator(schema)
    bad = 0
    with open(sys.argv[2], encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if not line.strip():
                continue
            errors = list(validator.iter_errors(json.loads(line)))
            if errors:
                bad += 1
                best = jsonschema.exceptions.best_match(errors)
                print(f"line {number}: {best.message}: {line.strip()}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
