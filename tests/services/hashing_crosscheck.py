#!/usr/bin/env python3
"""MD5, HMAC-MD5, DES and the printable cipher of "kvtesthelper.exe hash" (argument 1, under Wine) against Python's
hashlib and hmac and OpenSSL's DES (its legacy provider) on random inputs: texts without zero bytes, keys, blocks, tails."""
import hashlib, hmac, random, subprocess, sys

rng = random.Random(20260107)


def some(most, least=0, low=0):
    return bytes(rng.randint(low, 255) for _ in range(rng.randint(least, most)))


def des(key, data, encrypt=True):
    run = subprocess.run(["openssl", "enc", "-des-ecb", "-nopad", "-K", key.hex(), "-provider", "legacy", "-provider", "default"]
                         + ([] if encrypt else ["-d"]), input=data, capture_output=True, check=True)
    return run.stdout


def main():
    cases, hexed = [], lambda data: data.hex().upper() or "-"
    for _ in range(150):
        text, key = some(300, low=1), some(150, low=1)
        cases.append((f"md5 {hexed(text)}", hashlib.md5(text).hexdigest().upper()))
        cases.append((f"hmac {hexed(text)} {hexed(key)}", hmac.new(key, text, hashlib.md5).hexdigest().upper()))
        key, blocks, tail, encrypt = some(8, 8), (b := some(48, 8))[:len(b) // 8 * 8], some(7), rng.random() < 0.5
        cases.append((f"des {hexed(key)} {hexed(blocks + tail)} {int(encrypt)}", hexed(des(key, blocks, encrypt) + tail)))
        plain = some(40)
        whole = len(plain) // 8 * 8
        mixed = (des(key, plain[:whole]) if whole else b"") + plain[whole:]  # then scrambled with (position + 8) & 0xFF
        cases.append((f"kvencode {hexed(key)} {hexed(plain)}", f"{hexed(bytes(b ^ (i + 8) & 0xFF for i, b in enumerate(mixed)))} {hexed(plain)}"))
    run = subprocess.run(["wine", sys.argv[1], "hash"], input="".join(r + "\n" for r, _ in cases), capture_output=True, text=True, timeout=240)
    answers = [line.strip() for line in run.stdout.splitlines() if line.strip()]
    failures = [(r, want, got) for (r, want), got in zip(cases, answers) if want != got]
    for request, want, got in failures[:10]:
        print(f"MISMATCH {request[:200]}\n  expected {want}\n  got      {got}")
    print(f"{len(answers) - len(failures)} of {len(cases)} answers agree {run.stderr[-500:]}")
    return 0 if len(answers) == len(cases) and not failures else 1


if __name__ == "__main__":
    sys.exit(main())
