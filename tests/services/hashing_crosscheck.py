#!/usr/bin/env python3
"""The toolkit's MD5, HMAC-MD5, DES and printable cipher ("kvtesthelper.exe hash" under Wine,
argument 1) against Python's hashlib and hmac and OpenSSL's DES (legacy provider) on random inputs."""
import hashlib
import hmac
import random
import subprocess
import sys

CASES = 150
rng = random.Random(20260107)


def random_bytes(low, high, max_length, min_length=0):
    return bytes(rng.randint(low, high) for _ in range(rng.randint(min_length, max_length)))


def hexed(data):
    return data.hex().upper() or "-"


def openssl_des(key, data, encrypt):
    command = ["openssl", "enc", "-des-ecb", "-nopad", "-K", key.hex(),
               "-provider", "legacy", "-provider", "default"] + ([] if encrypt else ["-d"])
    result = subprocess.run(command, input=data, capture_output=True)
    return result.stdout if result.returncode == 0 else None


def main():
    if openssl_des(bytes(8), bytes(8), True) is None:
        print("OpenSSL's legacy provider (DES) is missing: nothing to compare DES with")
        return 1
    cases = []  # (request, expected answer); texts are C strings, with no zero byte inside
    for _ in range(CASES):
        text = random_bytes(1, 255, 300)
        cases.append((f"md5 {hexed(text)}", hashlib.md5(text).hexdigest().upper()))
        text, key = random_bytes(1, 255, 200), random_bytes(1, 255, 150)
        cases.append((f"hmac {hexed(text)} {hexed(key)}", hmac.new(key, text, hashlib.md5).hexdigest().upper()))
        key, blocks = random_bytes(0, 255, 8, 8), random_bytes(0, 255, 48, 8)
        blocks, tail, encrypt = blocks[:len(blocks) // 8 * 8], random_bytes(0, 255, 7), rng.random() < 0.5
        cases.append((f"des {hexed(key)} {hexed(blocks + tail)} {int(encrypt)}",
                      hexed(openssl_des(key, blocks, encrypt) + tail)))
        key, plain = random_bytes(0, 255, 8, 8), random_bytes(0, 255, 40)
        whole = len(plain) // 8 * 8
        mixed = (openssl_des(key, plain[:whole], True) if whole else b"") + plain[whole:]
        # The printable cipher scrambles DES's output with (position + 8) & 0xFF.
        cipher = bytes(b ^ ((i + 8) & 0xFF) for i, b in enumerate(mixed))
        cases.append((f"kvencode {hexed(key)} {hexed(plain)}", f"{hexed(cipher)} {hexed(plain)}"))

    run = subprocess.run(["wine", sys.argv[1], "hash"], input="".join(r + "\n" for r, _ in cases),
                         capture_output=True, text=True, timeout=240)
    answers = [line.strip() for line in run.stdout.splitlines() if line.strip()]
    failures = [(r, want, got) for (r, want), got in zip(cases, answers) if want != got]
    for request, want, got in failures[:10]:
        print(f"MISMATCH {request[:200]}\n  expected {want}\n  got      {got}")
    print(f"{len(answers) - len(failures)} of {len(cases)} answers agree; stderr: {run.stderr[-500:]}")
    return 0 if len(answers) == len(cases) and not failures else 1


if __name__ == "__main__":
    sys.exit(main())
