# Verifies every DKIM signature of each message file with dkimpy, the keys
# handed to it through its DNS hook from a JSON file of name -> TXT value.
#   dkim_verify.py records.json message.eml...
# Prints one line per file: the file, a colon, then "pass" or "fail" for each
# signature, comma-separated ("none" when it has no signature).
import json
import sys

import dkim

records = json.load(open(sys.argv[1], encoding="utf-8"))


def dnsfunc(name, timeout=5):
    key = name.decode() if isinstance(name, bytes) else name
    value = records.get(key.rstrip("."))
    return value.encode() if value is not None else None


for path in sys.argv[2:]:
    message = open(path, "rb").read()
    headers, _ = dkim.rfc822_parse(message)
    count = sum(1 for name, _ in headers if name.lower() == b"dkim-signature")
    verdicts = []
    for i in range(count):
        try:
            ok = dkim.DKIM(message, minkey=2048).verify(idx=i, dnsfunc=dnsfunc)
            verdicts.append("pass" if ok else "fail")
        except Exception as e:  # a verdict, not a crash of the whole batch
            verdicts.append("fail(%s)" % str(e).replace(",", ";"))
    print("%s: %s" % (path, ",".join(verdicts) or "none"), flush=True)
