"""decode-url against python3's urllib.parse.urlsplit and unquote: for a table of URLs (user-info,
IP literals, ports, queries, fragments, mailto-like and file URLs, percent escapes) each part of the
result equals python3's, for the url! and for the same text as a string; encode-url of the result
gives the URL back when it holds no escape; ports above 65535 and of six digits are refused."""
import json
import os
import subprocess
import sys
import tempfile
from urllib.parse import unquote, urlsplit
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from driver import ZEM_RUN, check, finish  # noqa: E402


URLS = [
    "http://example.com", "http://example.com/", "https://example.com/a/b/c.html",
    "ftp://u:p@host.example:8080/a/b.html?x=1#top", "http://user@h/p", "http://u:@h/",
    "http://[::1]/x", "http://[2001:db8::7]:8080/a?b#c", "http://h:0/", "http://h:65535/p",
    "http://h/?", "http://h/#", "http://h?q=1&r=2", "http://h#frag/with?marks", "http://h/a/b/",
    "mailto:user@example.com", "news:comp.lang.misc", "file:///etc/hosts", "file://host/share/x",
    "http://h%41st/p%20q/r%2Es?a%3Db#f%21", "http://h/~user/a-b_c.d", "svn+ssh://h/repo",
    "http://h/a;b=c/d,e", "http://h/a:b@c", "tel:+1-816-555-1212", "x-y.z://h:1/",
]

with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "t.zem")
    script = "Zem []\nforeach u [" + " ".join(json.dumps(u) for u in URLS) + """][
    ;-- the url! as the lexer reads it, its escapes decoded (a ";" would start a comment there)
    foreach v reduce [u either all [not find u ";"  url? x: attempt [load u]] [x][to url! u]][
        o: decode-url v
        print to-json/ascii either object? o [
            reduce [form o/scheme o/user-info o/host o/port
                if o/path [form o/path] if o/target [form o/target] o/query o/fragment
                either any [find u "%" find u "["] [none][u = form encode-url o]]
        ][none]
    ]
]
foreach u [http://h:123456/ http://h:65536/ http://h:99999/a "http://h:65536"][print mold decode-url u]
"""
    with open(path, "w", encoding="utf-8") as f:
        f.write(script)
    r = subprocess.run([ZEM_RUN, path], cwd=tmp, capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
    check("script", r.returncode == 0, r.stderr.decode(errors="replace"))
    out = r.stdout.decode().splitlines()
    for i, u in enumerate(URLS):
        s = urlsplit(u)
        netloc = s.netloc
        has_authority = u.split(":", 1)[1].startswith("//")
        user, _, hostport = netloc.rpartition("@")
        host = hostport
        port = s.port
        if port is not None or hostport.endswith(":"):
            host = hostport[: hostport.rfind(":")]
        want_path = unquote(s.path)
        for j, kind in enumerate(("string", "url!")):
            got = json.loads(out[2 * i + j]) if 2 * i + j < len(out) else "missing"
            if not isinstance(got, list):
                check(f"{u} as {kind}", False, f"refused: {got}")
                continue
            scheme, g_user, g_host, g_port, g_path, g_target, g_query, g_fragment, round_trip = got
            check(f"{u} scheme", scheme == s.scheme, scheme)
            check(f"{u} user-info ({kind})", g_user == (unquote(user) if "@" in netloc else None), g_user)
            check(f"{u} host ({kind})", g_host == (unquote(host) if has_authority else None), g_host)
            check(f"{u} port ({kind})", g_port == port, g_port)
            joined = None if g_path is None and g_target is None else \
                ("" if g_path in (None, "./") else g_path) + (g_target or "")
            check(f"{u} path ({kind})", joined == (want_path or None), f"{g_path!r} {g_target!r}")
            check(f"{u} query ({kind})", g_query == (unquote(s.query) if "?" in u.split("#")[0] else None), g_query)
            check(f"{u} fragment ({kind})", g_fragment == (unquote(s.fragment) if "#" in u else None), g_fragment)
            check(f"{u} encode-url ({kind})", round_trip is not False, "encode-url gave another URL")
    check("ports", out[2 * len(URLS):] == ["none"] * 4, out[2 * len(URLS):])

finish()
