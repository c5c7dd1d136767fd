#!/usr/bin/env python3
"""The vehicle profile's JSON Schema: every shipped profile is valid, names it and runs, and
it accepts and refuses the profiles of the table that dmsim's checker is tested with
(tests/support/bad_profiles.txt) as the checker does, where a schema can say so. Runs with
Debian's python3-jsonschema.

    profile_schema_test.py --schema build/default/sim/vehicle.schema.json \
                           --profiles sim/profiles --dmsim build/default/sim/dmsim \
                           --bad-profiles tests/support/bad_profiles.txt
"""

import argparse
import glob
import json
import os
import subprocess
import sys
import unittest

import jsonschema

ARGS = None


def dmsim(*args):
    return subprocess.run([ARGS.dmsim, *args], capture_output=True, text=True, timeout=60)


class Profile_schema_test(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ARGS.schema, encoding="utf-8") as f:
            cls.schema = json.load(f)
        jsonschema.Draft7Validator.check_schema(cls.schema)
        cls.validator = jsonschema.Draft7Validator(cls.schema)

    def test_every_shipped_profile_is_valid_names_the_schema_and_runs(self):
        profiles = sorted(glob.glob(os.path.join(ARGS.profiles, "*.json")))
        self.assertTrue(profiles)
        for path in profiles:
            with open(path, encoding="utf-8") as f:
                profile = json.load(f)
            errors = [f"{'.'.join(map(str, e.path))}: {e.message}"
                      for e in self.validator.iter_errors(profile)]
            self.assertEqual(errors, [], path)
            self.assertEqual(profile.get("$schema"), os.path.basename(ARGS.schema), path)
            result = dmsim("--vehicle", path, "22 F1 90")
            self.assertEqual(result.returncode, 0, result.stderr)

    def test_the_schema_follows_the_rules_by_example(self):
        refused = 0
        with open(ARGS.bad_profiles, encoding="utf-8") as table:
            for line in table:
                if line.startswith("#") or not line.strip():
                    continue
                who, message, text = line.rstrip("\n").split(" <= ", 2)
                if who != "checker":
                    with self.subTest(message=message, text=text):
                        self.assertEqual(self.validator.is_valid(json.loads(text)),
                                         who == "accepted")
                        refused += who == "schema"
        self.assertGreater(refused, 40)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--schema", required=True)
    parser.add_argument("--profiles", required=True)
    parser.add_argument("--dmsim", required=True)
    parser.add_argument("--bad-profiles", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
