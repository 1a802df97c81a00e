#!/usr/bin/env python3
"""MD5, HMAC-MD5 and DES of "kvtesthelper.exe hash" (argument 1, under Wine) against hashlib, hmac and OpenSSL's DES
(its legacy provider) on random texts without zero bytes, keys, blocks and tails."""
import hashlib, hmac, random, subprocess, sys

rng = random.Random(20260107)
some = lambda most, least=0, low=0: bytes(rng.randint(low, 255) for _ in range(rng.randint(least, most)))
hexed = lambda data: data.hex().upper() or "-"
des = lambda key, data, encrypt=True: subprocess.run(
    ["openssl", "enc", "-des-ecb", "-nopad", "-K", key.hex(), "-provider", "legacy", "-provider", "default"] +
    ([] if encrypt else ["-d"]), input=data, capture_output=True, check=True).stdout
cases = []
for _ in range(150):
    text, key, des_key, tail, encrypt = some(300, low=1), some(150, low=1), some(8, 8), some(7), rng.random() < .5
    blocks = (b := some(48, 8))[:len(b) // 8 * 8]
    cases += [(f"md5 {hexed(text)}", hashlib.md5(text).hexdigest().upper()),
              (f"hmac {hexed(text)} {hexed(key)}", hmac.new(key, text, hashlib.md5).hexdigest().upper()),
              (f"des {hexed(des_key)} {hexed(blocks + tail)} {int(encrypt)}",
               hexed(des(des_key, blocks, encrypt) + tail))]
run = subprocess.run(["wine", sys.argv[1], "hash"], input="".join(r + "\n" for r, _ in cases), capture_output=True,
                     text=True, timeout=240)
answers = [line.strip() for line in run.stdout.splitlines() if line.strip()]
failures = [f"MISMATCH {r[:200]}\n  expected {w}\n  got      {g}" for (r, w), g in zip(cases, answers) if w != g]
print(*failures[:10], f"{len(answers) - len(failures)} of {len(cases)} answers agree {run.stderr[-500:]}", sep="\n")
sys.exit(0 if len(answers) == len(cases) and not failures else 1)
