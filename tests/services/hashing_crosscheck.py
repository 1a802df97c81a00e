#!/usr/bin/env python3
"""Compares the toolkit's MD5, HMAC-MD5, DES and printable cipher with independent implementations
on random inputs: Python's hashlib and hmac, and OpenSSL's DES (legacy provider) when it is there.

Usage: hashing_crosscheck.py PATH/TO/hash_probe.exe
The probe runs under Wine in the build's prefix (WINEPREFIX and friends come from the test
environment) and answers one request a line.
"""
import hashlib
import hmac
import random
import subprocess
import sys

CASES = 150
rng = random.Random(20260107)


def text_bytes(max_length):
    # C strings: no zero byte inside.
    return bytes(rng.randint(1, 255) for _ in range(rng.randint(0, max_length)))


def hexed(data):
    return data.hex().upper() or "-"


def openssl_des(key, data, encrypt):
    command = ["openssl", "enc", "-des-ecb", "-nopad", "-K", key.hex(),
               "-provider", "legacy", "-provider", "default"]
    if not encrypt:
        command.insert(2, "-d")
    result = subprocess.run(command, input=data, capture_output=True)
    return result.stdout if result.returncode == 0 else None


def easy_encode(data):
    return bytes(b ^ ((i + 8) & 0xFF) for i, b in enumerate(data))


def main():
    probe = sys.argv[1]
    requests, expected, labels = [], [], []

    for _ in range(CASES):
        text = text_bytes(300)
        requests.append(f"md5 {hexed(text)}")
        expected.append(hashlib.md5(text).hexdigest().upper())
        labels.append(f"md5 of {len(text)} bytes")
    for _ in range(CASES):
        text, key = text_bytes(200), text_bytes(150)
        requests.append(f"hmac {hexed(text)} {hexed(key)}")
        expected.append(hmac.new(key, text, hashlib.md5).hexdigest().upper())
        labels.append(f"hmac of {len(text)} bytes, key of {len(key)}")

    des_available = openssl_des(bytes(8), bytes(8), True) is not None
    if des_available:
        for _ in range(CASES):
            key = bytes(rng.randint(0, 255) for _ in range(8))
            blocks = bytes(rng.randint(0, 255) for _ in range(8 * rng.randint(1, 6)))
            tail = bytes(rng.randint(0, 255) for _ in range(rng.randint(0, 7)))
            encrypt = rng.random() < 0.5
            requests.append(f"des {hexed(key)} {hexed(blocks + tail)} {1 if encrypt else 0}")
            expected.append(hexed(openssl_des(key, blocks, encrypt) + tail))
            labels.append(f"des {'encrypt' if encrypt else 'decrypt'} {len(blocks)}+{len(tail)} bytes")
        for _ in range(CASES // 3):
            key = bytes(rng.randint(0, 255) for _ in range(8))
            plain = bytes(rng.randint(0, 255) for _ in range(rng.randint(1, 40)))
            whole = len(plain) // 8 * 8
            des_part = openssl_des(key, plain[:whole], True) if whole else b""
            cipher = hexed(easy_encode(des_part + plain[whole:]))
            requests.append(f"kvencode {hexed(key)} {hexed(plain)}")
            expected.append(f"{cipher} {hexed(plain)}")
            labels.append(f"kvencode of {len(plain)} bytes")
    else:
        print("SKIPPED: OpenSSL's legacy provider (DES) is not available; DES not cross-checked")

    run = subprocess.run(["wine", probe], input="\n".join(requests) + "\n", capture_output=True,
                         text=True, timeout=240)
    answers = [line.strip() for line in run.stdout.splitlines() if line.strip()]
    if len(answers) != len(requests):
        print(f"probe answered {len(answers)} of {len(requests)} requests; stderr: {run.stderr[-2000:]}")
        return 1
    failures = 0
    for label, request, want, got in zip(labels, requests, expected, answers):
        if want != got:
            failures += 1
            if failures <= 10:
                print(f"MISMATCH {label}\n  request {request[:200]}\n  expected {want}\n  got      {got}")
    print(f"{len(requests) - failures} of {len(requests)} answers agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
