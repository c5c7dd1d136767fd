#!/usr/bin/env python3
"""Generates the JSON Schema of dmsim's vehicle profile from lib/services/catalogue.txt.

    generate_profile_schema.py --description lib/services/catalogue.txt --output vehicle.schema.json

Every identifier of the catalogue becomes a property of "dids" or "routines", every method a
property of its identifier, and "values" lists the method's output members in order, so an
editor completes identifiers and method names and checks the values against the record. The
schema (JSON Schema draft-07) says what a profile may hold; dmsim checks the same and more
(a key given twice, for one). The output depends on the description alone; the file is
rewritten only when its content changes. Python 3 standard library only.
"""

import argparse
import json
import os
import sys
from typing import Dict, List, Optional

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from service_description import (  # noqa: E402
    Catalogue, Entry, Method, Type, describe_types, read_description, write_if_changed)

# The longest "delay_ms" that dmsim accepts: one hour.
MAX_DELAY_MS = 3_600_000

HEX_BYTES = "^[ \\t]*([0-9A-Fa-f]{2}[ \\t]*)*$"
COMMENTS = {"^_": {"description": "a comment: keys starting with \"_\" are ignored"}}


def hex_of(count: Optional[int], what: str) -> dict:
    """A hex string of `count` bytes (any count when None); blanks between bytes allowed."""
    if count is None:
        return {"type": "string", "pattern": HEX_BYTES, "description": what}
    return {"type": "string", "pattern": f"^[ \\t]*([0-9A-Fa-f]{{2}}[ \\t]*){{{count}}}$",
            "description": what}


def member(t: Type) -> dict:
    if t.is_scalar:
        return {"type": "integer", "minimum": 0, "maximum": (1 << (8 * t.uds_width)) - 1,
                "description": t.name}
    if t.name == "array":
        return hex_of(t.size, f"u8[{t.size}]: a hex string of exactly {t.size} bytes")
    return hex_of(None, "bytes: a hex string")


def answer(entry: Entry, method: Method) -> dict:
    output = method.output or []
    layout = describe_types(output) if output else "nothing"
    values = {
        "type": "array",
        "minItems": len(output),
        "maxItems": len(output),
        "description": f"the {method.name} output's members in order: {layout}",
    }
    if output:
        values["items"] = [member(t) for t in output]
    return {
        "type": "object",
        "description": f"how {entry.name} answers {method.name}",
        "properties": {
            "values": values,
            "payload": {"$ref": "#/definitions/payload"},
            "error": {"$ref": "#/definitions/error"},
            "return_code": {"$ref": "#/definitions/return_code"},
            "delay_ms": {"$ref": "#/definitions/delay_ms"},
            "no_response": {"$ref": "#/definitions/no_response"},
        },
        "patternProperties": COMMENTS,
        "additionalProperties": False,
        "allOf": [{"$ref": "#/definitions/one_answer"}],
    }


def service(entry: Entry) -> dict:
    properties: Dict[str, dict] = {
        "offered": {"type": "boolean",
                    "description": "false: the service is never offered (NRC 10)"}}
    for method in entry.methods:
        properties[method.name] = answer(entry, method)
    return {"type": "object", "description": entry.name, "properties": properties,
            "patternProperties": COMMENTS, "additionalProperties": False}


def section(entries: List[Entry], what: str) -> dict:
    return {
        "type": "object",
        "description": f"{what}, keyed by identifier (four upper-case hex digits)",
        "properties": {f"{e.identifier:04X}": service(e) for e in entries},
        "patternProperties": COMMENTS,
        "additionalProperties": False,
    }


def schema(catalogue: Catalogue) -> dict:
    byte = {"type": "integer", "minimum": 0, "maximum": 255}
    only_one = [["values", "payload"], ["values", "error"], ["payload", "error"],
                ["error", "return_code"], ["values", "return_code"],
                ["no_response", "values"], ["no_response", "payload"], ["no_response", "error"],
                ["no_response", "return_code"], ["no_response", "delay_ms"]]
    return {
        "$schema": "http://json-schema.org/draft-07/schema#",
        "title": "dmsim vehicle profile",
        "description": "How each simulated application of the vehicle answers (dmsim --help, "
                       "dmsim --list). Generated from the service catalogue.",
        "type": "object",
        "properties": {
            "$schema": {"type": "string", "description": "this schema, for editors"},
            "instance": {"type": "string", "minLength": 1,
                         "description": "the instance the applications are offered under"},
            "dids": section(catalogue.dids, "data identifiers"),
            "routines": section(catalogue.rids, "routines"),
            "doip": {
                "type": "object",
                "description": "the DoIP entity's identity",
                "properties": {
                    "vin": {"type": "string", "minLength": 17, "maxLength": 17},
                    "logical_address": hex_of(2, "2 bytes in hex, like \"1000\""),
                    "eid": hex_of(6, "6 bytes in hex"),
                    "gid": hex_of(6, "6 bytes in hex"),
                },
                "patternProperties": COMMENTS,
                "additionalProperties": False,
            },
        },
        "patternProperties": COMMENTS,
        "additionalProperties": False,
        "definitions": {
            "payload": hex_of(None, "a raw response payload, sent as it is"),
            "error": {
                "description": "return code 2 (application error) with these bytes: the UDS "
                               "negative response code",
                "oneOf": [{"type": "array", "items": byte, "minItems": 1},
                          {"type": "string", "pattern": "^[ \\t]*([0-9A-Fa-f]{2}[ \\t]*)+$"}],
            },
            "return_code": dict(byte, description="any return code; with \"payload\" or an "
                                                  "empty payload"),
            "delay_ms": {"type": "integer", "minimum": 0, "maximum": MAX_DELAY_MS,
                         "description": "answer after this many milliseconds"},
            "no_response": {"type": "boolean", "description": "true: never answer"},
            "one_answer": {
                "description": "one kind of answer per method",
                "allOf": [{"not": {"required": pair}} for pair in only_one],
            },
        },
    }


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--description", required=True, help="the catalogue description file")
    parser.add_argument("--output", required=True, help="the schema file to write")
    args = parser.parse_args(argv)
    catalogue = read_description(args.description)
    if catalogue is None:
        return 1
    write_if_changed(os.path.abspath(args.output),
                     json.dumps(schema(catalogue), indent=2, ensure_ascii=False) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
