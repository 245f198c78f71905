# load-json and to-json of a generated 10 MB document (twin of json_codec.zem): json.loads and
# json.dumps (compact, non-ASCII kept).
import json
import time


def main():
    rec = '{"id": 12345, "name": "item \\"12345\\"", "price": 12.5, "tags": ["a", "bc", "d\\u00e9f"], "ok": true, "note": null},'
    text = "[" + rec * 95000 + '{"last": []}]'
    t = time.perf_counter()
    v = json.loads(text)
    t1 = time.perf_counter()
    out = json.dumps(v, separators=(",", ":"), ensure_ascii=False)
    t2 = time.perf_counter()
    print(len(text), len(v), len(out))
    print("json.loads", t1 - t, "json.dumps", t2 - t1)


main()
