#!/usr/bin/env python3
"""The interface description (lib/services/catalogue.txt): its data model and its reader,
shared by the tools that generate from it (generate_services.py, generate_profile_schema.py).

    catalogue = Reader("lib/services/catalogue.txt").read()   # raises Description_error
    for entry in catalogue.rids: print(entry.kind, describe_types(entry.methods[-1].output or []))

The reader validates as it goes and reports every error as "file:line: error: ..." before
giving up. Python 3 standard library only.
"""

import os
import re
import sys
import tempfile
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple


# ----------------------------------------------------------------------------------------------
# Data model
# ----------------------------------------------------------------------------------------------


@dataclass(frozen=True)
class Type:
    """One member or parameter type: u8, u16, u32, array (u8[size]) or bytes."""

    name: str
    size: int = 0  # element count of an array

    @property
    def notation(self) -> str:
        return f"u8[{self.size}]" if self.name == "array" else self.name

    @property
    def cpp(self) -> str:
        return {
            "u8": "std::uint8_t",
            "u16": "std::uint16_t",
            "u32": "std::uint32_t",
            "array": f"std::array<std::uint8_t, {self.size}>",
            "bytes": "std::vector<std::uint8_t>",
        }[self.name]

    @property
    def parameter(self) -> str:
        """The type as a method parameter: scalars by value, sequences by const reference."""
        return self.cpp if self.is_scalar else f"const {self.cpp}&"

    @property
    def is_scalar(self) -> bool:
        return self.name in ("u8", "u16", "u32")

    @property
    def uds_width(self) -> int:
        """Fixed UDS width; bytes contributes n on top."""
        return {"u8": 1, "u16": 2, "u32": 4, "array": self.size, "bytes": 0}[self.name]

    @property
    def someip_width(self) -> int:
        """Fixed SOME/IP width: sequences carry a 4-byte length field."""
        return self.uds_width + (0 if self.is_scalar else 4)


@dataclass(frozen=True)
class Length:
    """A length as the tables write it: fixed bytes, plus n when a byte sequence is present."""

    fixed: int
    plus_n: bool

    def __str__(self) -> str:
        if not self.plus_n:
            return str(self.fixed)
        return "n" if self.fixed == 0 else f"{self.fixed}+n"


@dataclass
class Method:
    name: str  # Cancel, Read, RequestResults, Start, Stop
    id: int
    inputs: List[Type] = field(default_factory=list)
    output: Optional[List[Type]] = None  # None: no result (void)


@dataclass
class Entry:
    kind: str  # did, short, full
    identifier: int
    name: str
    line: int
    index: int  # position in its identifier list
    methods: List[Method] = field(default_factory=list)

    @property
    def namespace(self) -> str:
        return f"{'d' if self.kind == 'did' else 'r'}_{self.identifier:04x}"

    @property
    def qualified_name(self) -> str:
        return f"orlak::services::diag::{self.namespace}::{self.name}"

    @property
    def extension(self) -> str:
        return f"{self.name}_extension"

    @property
    def is_did(self) -> bool:
        return self.kind == "did"

    @property
    def error_codes(self) -> List[str]:
        """Members of UDSServiceFailed: one code, or one per method that returns data."""
        if self.kind == "full":
            return ["request_results_code", "start_code", "stop_code"]
        return ["code"]


@dataclass
class Catalogue:
    dids: List[Entry]
    rids: List[Entry]

    @property
    def entries(self) -> List[Entry]:
        return self.dids + self.rids


# ----------------------------------------------------------------------------------------------
# Reading and validating the description
# ----------------------------------------------------------------------------------------------


class Description_error(Exception):
    pass


class Reader:
    """Parses the description; collects every error with its line before giving up."""

    IDENTIFIER = re.compile(r"^0x([0-9A-Fa-f]{4})$")
    NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
    ITEM = re.compile(r"^(?P<type>[^\s]+?)(?:\s*x\s*(?P<count>\d+))?$")
    ARRAY = re.compile(r"^u8\[(\d+)\]$")
    LENGTH = re.compile(r"^(?:(?P<fixed>\d+)\s*\+\s*n|(?P<only>\d+)|n)$")
    WITH_LENGTH = re.compile(r"^(?P<members>.*?)\s*\((?P<length>[^()]*)\)$")
    # "[did 83]"; "[rid 26: 16 short, 10 full]"
    HEADER = re.compile(r"\[(did|rid) (\d+)(?:: (?P<short>\d+) short, (?P<full>\d+) full)?\]")

    def __init__(self, path: str):
        self.declared: Dict[str, int] = {}
        self.path = path
        self.display = os.path.basename(path)
        self.errors: List[str] = []

    def error(self, line: Optional[int], message: str) -> None:
        """Records an error of one line, or of the whole description when `line` is None."""
        where = self.display if line is None else f"{self.display}:{line}"
        self.errors.append(f"{where}: error: {message}")

    def read(self) -> Catalogue:
        try:
            with open(self.path, encoding="utf-8") as f:
                text = f.read()
        except OSError as e:
            raise Description_error(f"{self.path}: error: cannot read the description: {e}")
        dids: List[Entry] = []
        rids: List[Entry] = []
        section = None
        seen_sections = set()
        for number, raw in enumerate(text.splitlines(), start=1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                header = self.HEADER.fullmatch(line)
                if not header:
                    self.error(number, f"unknown section {line} (expected [did N] or "
                                       f"[rid N: S short, F full], N the number of rows)")
                    section = None
                elif f"[{header.group(1)}]" in seen_sections:
                    self.error(number, f"section [{header.group(1)}] appears twice")
                    section = None
                else:
                    section = f"[{header.group(1)}]"
                    seen_sections.add(section)
                    self.declared[section] = int(header.group(2))
                    if section == "[rid]" and header.group("short") is None:
                        self.error(number, "the [rid] header names its short and full "
                                           "routines: [rid N: S short, F full]")
                    if header.group("short") is not None:
                        self.declared["short"] = int(header.group("short"))
                        self.declared["full"] = int(header.group("full"))
                continue
            columns = [c.strip() for c in line.split("|")]
            if section == "[did]":
                entry = self.did_row(number, columns, len(dids))
                if entry:
                    dids.append(entry)
            elif section == "[rid]":
                entry = self.rid_row(number, columns, len(rids))
                if entry:
                    rids.append(entry)
            else:
                self.error(number, "row outside a [did] or [rid] section")
        for missing in sorted({"[did]", "[rid]"} - seen_sections):
            self.error(None, f"section {missing} is missing")
        catalogue = Catalogue(dids, rids)
        self.validate(catalogue)
        if self.errors:
            raise Description_error("\n".join(self.errors))
        return catalogue

    # -- rows -------------------------------------------------------------------------------

    def did_row(self, line: int, columns: List[str], index: int) -> Optional[Entry]:
        if len(columns) != 5:
            self.error(line, f"a [did] row has 5 columns (identifier | name | Read output | "
                             f"UDS bytes | SOME/IP bytes), found {len(columns)}")
            return None
        identifier = self.identifier(line, columns[0])
        name = self.name(line, columns[1], "DataIdentifier_")
        output = self.types(line, columns[2], "Read output", parameters=False)
        uds = self.length(line, columns[3])
        someip = self.length(line, columns[4])
        if identifier is None or name is None or output is None:
            return None
        if not output:
            self.error(line, "the Read output needs at least one member")
            return None
        self.check_length(line, "UDS bytes", uds, uds_length(output))
        self.check_length(line, "SOME/IP bytes", someip, someip_length(output))
        entry = Entry("did", identifier, name, line, index)
        entry.methods = [Method("Cancel", 0), Method("Read", 1, output=output)]
        return entry

    def rid_row(self, line: int, columns: List[str], index: int) -> Optional[Entry]:
        if len(columns) != 8:
            self.error(line, f"a [rid] row has 8 columns (identifier | name | kind | Start "
                             f"parameters | UDS request | Start output | RequestResults output "
                             f"| Stop output), found {len(columns)}")
            return None
        identifier = self.identifier(line, columns[0])
        name = self.name(line, columns[1], "RoutineService_")
        kind = columns[2]
        if kind not in ("short", "full"):
            self.error(line, f"unknown routine kind '{kind}' (expected short or full)")
            return None
        inputs = [] if columns[3] == "-" else self.types(line, columns[3], "Start parameters",
                                                          parameters=True)
        request = self.length(line, columns[4])
        if inputs is not None:
            self.check_length(line, "UDS request", request, uds_length(inputs))
        start = self.output(line, columns[5], "Start output")
        if kind == "short":
            for column, what in ((columns[6], "RequestResults"), (columns[7], "Stop")):
                if column != "-":
                    self.error(line, f"a short routine has no {what}: write '-'")
            request_results = stop = None
        else:
            request_results = self.output(line, columns[6], "RequestResults output")
            stop = None if columns[7] == "void" else self.output(line, columns[7], "Stop output")
        if identifier is None or name is None or inputs is None or start is None:
            return None
        entry = Entry(kind, identifier, name, line, index)
        if kind == "short":
            entry.methods = [Method("Cancel", 0), Method("Start", 1, inputs, start)]
        else:
            if request_results is None:
                return None
            if stop is None and columns[7] != "void":
                return None
            entry.methods = [Method("Cancel", 0), Method("RequestResults", 1, output=request_results),
                             Method("Start", 2, inputs, start), Method("Stop", 3, output=stop)]
        return entry

    # -- cells ------------------------------------------------------------------------------

    def identifier(self, line: int, text: str) -> Optional[int]:
        match = self.IDENTIFIER.match(text)
        if not match:
            self.error(line, f"identifier '{text}' is not written as 0x followed by 4 hex digits")
            return None
        return int(match.group(1), 16)

    def name(self, line: int, text: str, prefix: str) -> Optional[str]:
        if not self.NAME.match(text):
            self.error(line, f"interface name '{text}' is not a C++ identifier")
            return None
        if not text.startswith(prefix) or text == prefix:
            self.error(line, f"interface name '{text}' does not start with {prefix}")
            return None
        return text

    def types(self, line: int, text: str, what: str, parameters: bool) -> Optional[List[Type]]:
        result: List[Type] = []
        items = [i.strip() for i in text.split(",")]
        for position, item in enumerate(items):
            match = self.ITEM.match(item)
            if not item or not match:
                self.error(line, f"{what}: cannot read '{item}'")
                return None
            type_ = self.type(line, match.group("type"), what, parameters)
            if type_ is None:
                return None
            count = int(match.group("count") or "1")
            if count < 1:
                self.error(line, f"{what}: repeat count of '{item}' must be at least 1")
                return None
            if type_.name == "bytes" and (count > 1 or position != len(items) - 1):
                self.error(line, f"{what}: a byte sequence (bytes) may only be the last member")
                return None
            result.extend([type_] * count)
        return result

    def type(self, line: int, text: str, what: str, parameters: bool) -> Optional[Type]:
        array = self.ARRAY.match(text)
        if array:
            size = int(array.group(1))
            if size < 1:
                self.error(line, f"{what}: array type '{text}' needs at least one element")
                return None
            return Type("array", size)
        allowed = ("u8", "u16", "bytes") if parameters else ("u8", "u16", "u32", "bytes")
        if text not in allowed:
            self.error(line, f"{what}: unknown type '{text}' (known: "
                             f"{', '.join(allowed[:-1])}, u8[N], bytes)")
            return None
        return Type(text)

    def output(self, line: int, text: str, what: str) -> Optional[List[Type]]:
        if text in ("-", "void"):
            self.error(line, f"{what}: a record is required here, found '{text}'")
            return None
        match = self.WITH_LENGTH.match(text)
        if not match:
            self.error(line, f"{what}: write the members followed by their UDS length in "
                             f"parentheses, e.g. 'u8 x2, bytes (2+n)'")
            return None
        members = self.types(line, match.group("members"), what, parameters=False)
        length = self.length(line, match.group("length"))
        if members is not None:
            self.check_length(line, f"{what} UDS bytes", length, uds_length(members))
        return members

    def length(self, line: int, text: str) -> Optional[Length]:
        match = self.LENGTH.match(text.strip())
        if not match:
            self.error(line, f"cannot read the length '{text}' (expected e.g. 8, n or 1+n)")
            return None
        if match.group("fixed") is not None:
            return Length(int(match.group("fixed")), True)
        if match.group("only") is not None:
            return Length(int(match.group("only")), False)
        return Length(0, True)

    def check_length(self, line: int, what: str, given: Optional[Length], computed: Length) -> None:
        if given is not None and given != computed:
            self.error(line, f"{what} is {given}, but the members make {computed}")

    # -- the whole catalogue ----------------------------------------------------------------

    def validate(self, catalogue: Catalogue) -> None:
        # The section headers declare the row counts, so a lost or doubled row is noticed.
        for section, entries in (("[did]", catalogue.dids), ("[rid]", catalogue.rids)):
            declared = self.declared.get(section)
            if declared is not None and len(entries) != declared:
                self.error(None, f"the {section} section holds {len(entries)} identifiers, "
                                 f"expected {declared}")
        # The [rid] header declares the split into short and full routines as well.
        for kind in ("short", "full"):
            declared = self.declared.get(kind)
            found = sum(entry.kind == kind for entry in catalogue.rids)
            if declared is not None and found != declared:
                self.error(None, f"the [rid] section holds {found} {kind} routines, "
                                 f"expected {declared}")
        identifiers: Dict[int, Entry] = {}
        names: Dict[str, Entry] = {}
        for entry in catalogue.entries:
            first = identifiers.setdefault(entry.identifier, entry)
            if first is not entry:
                self.error(entry.line, f"identifier 0x{entry.identifier:04X} already listed on "
                                       f"line {first.line}")
            first = names.setdefault(entry.name, entry)
            if first is not entry:
                self.error(entry.line, f"interface name {entry.name} already used on line "
                                       f"{first.line}")


def read_description(path: str) -> Optional[Catalogue]:
    """The catalogue, or None after printing the description's errors to stderr."""
    try:
        return Reader(path).read()
    except Description_error as e:
        print(e, file=sys.stderr)
        return None


def uds_length(types: List[Type]) -> Length:
    return Length(sum(t.uds_width for t in types), any(t.name == "bytes" for t in types))


def someip_length(types: List[Type]) -> Length:
    return Length(sum(t.someip_width for t in types), any(t.name == "bytes" for t in types))


def describe_types(types: List[Type]) -> str:
    """The table notation of a member list: 'u8[5] x2, u8[3], u8'."""
    groups: List[Tuple[Type, int]] = []
    for t in types:
        if groups and groups[-1][0] == t:
            groups[-1] = (t, groups[-1][1] + 1)
        else:
            groups.append((t, 1))
    return ", ".join(t.notation + (f" x{k}" if k > 1 else "") for t, k in groups)



def write_if_changed(path: str, content: str) -> bool:
    data = content.encode("utf-8")
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return False
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fd, temporary = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    return True
