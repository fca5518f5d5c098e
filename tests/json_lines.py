# Reads mibwalk -Oj outputs from the files named: every line must be one JSON
# object in strict UTF-8 (RFC 8259), with no empty line, and a binding's value
# but an ObjectId must agree with its hex (the walk's rows hold those). Prints
# "oid=hex" per binding and "--" after each file; fails at a bad line.
import json
import sys

for name in sys.argv[1:]:
    text = open(name, "rb").read().decode("utf-8")
    assert text == "" or text.endswith("\n"), "the last line is not ended"
    for o in map(json.loads, text.split("\n")[:-1]):
        assert isinstance(o, dict), o
        if "row" in o:
            h, k, v = bytes.fromhex(o["hex"]), o["kind"], o["value"]
            as_text = {"OctetString": h.decode, "IpAddress": lambda: ".".join(map(str, h))}
            number = int.from_bytes(h, "big", signed=k == "Integer")
            if k != "ObjectId":
                assert v is None or v == (as_text[k]() if k in as_text else number), o
            print(o["oid"] + "=" + o["hex"])
    print("--")
