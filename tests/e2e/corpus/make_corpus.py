#!/usr/bin/env python3
"""Writes the corpus of damaged and unusual settings files that Koemado must start on.

Run from this folder: python3 make_corpus.py. The files are kept in the repository; the
end-to-end test copies each one to Koemado.ini in the Windows directory."""
import random

def sj(text):
    return text.encode("cp932")

CRLF = b"\r\n"
files = {}
files["missing_sections.ini"] = b"[other]" + CRLF + b"x=1" + CRLF
files["many_keys.ini"] = (sj("[読み方]") + CRLF + sj("1=あ,いち") + CRLF +
                          b"".join(sj(f"{k}=字,よみ{k}") + CRLF for k in range(2, 10001)) +
                          sj("[声の設定]") + CRLF + sj("速度=201") + CRLF)
# key 600 is beyond the 500 keys that are read
files["many_keys.ini"] = files["many_keys.ini"].replace(sj("600=字,よみ600"), sj("600=か,ろっぴゃく"))
files["long_values.ini"] = (sj("[読み方]") + CRLF + sj("1=あ,") + b"x" * 2997 + CRLF +
                            sj("[声の設定]") + CRLF + sj("ピッチ=") + b"9" * 3000 + CRLF)
files["nul_bytes.ini"] = (sj("[読み方]") + CRLF + sj("1=あ,い\0う") + CRLF +
                          sj("[声の設定]") + CRLF + sj("速度=1\x0023") + CRLF)
rng = random.Random(4711)
files["binary_junk.ini"] = bytes(rng.randrange(256) for _ in range(4096))
files["utf8_bom.ini"] = (b"\xef\xbb\xbf" + "[声の設定]\r\n速度=202\r\n[読み方]\r\n1=あ,ビーオーエム\r\n".encode("utf-8"))
files["lf_only.ini"] = sj("[声の設定]\n速度=203\nピッチ=-3\n[読み方]\n1=あ,エルエフ\n")
files["duplicates.ini"] = sj("[声の設定]\r\n速度=111\r\n速度=222\r\n[読み方]\r\n1=あ,一\r\n1=あ,二\r\n"
                             "[声の設定]\r\n音量=5\r\n")
files["huge_ints.ini"] = sj("[声の設定]\r\n速度=99999999999\r\nピッチ=0xFFFFFFFF\r\n音量=-2147483648\r\n")
files["odd_ints.ini"] = sj("[声の設定]\r\n速度=+12\r\nピッチ=$1f\r\n音量=1e3\r\n")
for name, data in files.items():
    with open(name, "wb") as f:
        f.write(data)
