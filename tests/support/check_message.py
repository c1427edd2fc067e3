"""Reads a message file with Python's email package and prints what it sees
as JSON: the decoded From, To and Subject, the tree of entities with their
types, parameters and decoded contents, and every defect the parser noted."""

import base64
import email
import email.policy
import json
import sys


def entity(part, defects):
    defects.extend(type(d).__name__ for d in part.defects)
    node = {
        "type": part.get_content_type(),
        "charset": part.get_param("charset") or "",
        "cid": str(part.get("Content-ID", "")).strip().removeprefix("<").removesuffix(">"),
        "filename": part.get_filename() or "",
        "children": [],
        "content": "",
    }
    if part.is_multipart():
        node["children"] = [entity(p, defects) for p in part.get_payload()]
    else:
        node["content"] = base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii")
    return node


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    defects = []
    root = entity(msg, defects)
    print(json.dumps({
        "from": str(msg.get("From", "")),
        "to": str(msg.get("To", "")),
        "subject": str(msg.get("Subject", "")),
        "root": root,
        "defects": defects,
    }))


if __name__ == "__main__":
    main()
