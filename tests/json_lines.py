# Reads mibwalk -Oj outputs from the files named: every line must be one JSON
# object in strict UTF-8 (RFC 8259), with no empty line, and a binding's value
# must agree with its hex. Prints "oid hex" per binding and "--" after each
# file; fails at a bad line.
import json
import sys


def dotted(b):  # X.690, 8.19: the content octets of an OBJECT IDENTIFIER
    arcs, v = [], 0
    for o in b:
        v = v << 7 | o & 0x7F
        if not o & 0x80:
            arcs, v = arcs + [v], 0
    first = min(arcs[0] // 40, 2)
    return ".".join(map(str, [first, arcs[0] - 40 * first] + arcs[1:]))


def check(text):
    assert text == "" or text.endswith("\n"), "the last line is not ended"
    for line in text.split("\n")[:-1]:
        o = json.loads(line)
        assert isinstance(o, dict), line
        if "row" in o:
            h, k, v = bytes.fromhex(o["hex"]), o["kind"], o["value"]
            as_text = {"OctetString": h.decode, "ObjectId": lambda: dotted(h),
                       "IpAddress": lambda: ".".join(map(str, h))}
            number = int.from_bytes(h, "big", signed=k == "Integer")
            assert v is None or v == (as_text[k]() if k in as_text else number), line
            print(o["oid"], o["hex"])
    print("--")


for name in sys.argv[1:]:
    check(open(name, "rb").read().decode("utf-8"))
