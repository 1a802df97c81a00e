#!/usr/bin/env python3
"""The toolkit's MD5, HMAC-MD5, DES and printable cipher (hash_probe.exe under Wine, argument 1)
against Python's hashlib and hmac and OpenSSL's DES (legacy provider, when there) on random inputs."""
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
    cases = []  # (request, expected answer)
    for _ in range(CASES):
        text = random_bytes(1, 255, 300)  # C strings: no zero byte inside
        cases.append((f"md5 {hexed(text)}", hashlib.md5(text).hexdigest().upper()))
    for _ in range(CASES):
        text, key = random_bytes(1, 255, 200), random_bytes(1, 255, 150)
        cases.append((f"hmac {hexed(text)} {hexed(key)}",
                      hmac.new(key, text, hashlib.md5).hexdigest().upper()))

    if openssl_des(bytes(8), bytes(8), True) is not None:
        for _ in range(CASES):
            key = random_bytes(0, 255, 8, 8)
            blocks = bytes(rng.randint(0, 255) for _ in range(8 * rng.randint(1, 6)))
            tail = random_bytes(0, 255, 7)
            encrypt = rng.random() < 0.5
            cases.append((f"des {hexed(key)} {hexed(blocks + tail)} {int(encrypt)}",
                          hexed(openssl_des(key, blocks, encrypt) + tail)))
        for _ in range(CASES // 3):
            key, plain = random_bytes(0, 255, 8, 8), random_bytes(0, 255, 40, 1)
            whole = len(plain) // 8 * 8
            mixed = (openssl_des(key, plain[:whole], True) if whole else b"") + plain[whole:]
            # The printable cipher scrambles DES's output with (position + 8) & 0xFF.
            cipher = bytes(b ^ ((i + 8) & 0xFF) for i, b in enumerate(mixed))
            cases.append((f"kvencode {hexed(key)} {hexed(plain)}", f"{hexed(cipher)} {hexed(plain)}"))
    else:
        print("SKIPPED: OpenSSL's legacy provider (DES) is not available; DES not cross-checked")

    run = subprocess.run(["wine", sys.argv[1]], input="".join(r + "\n" for r, _ in cases),
                         capture_output=True, text=True, timeout=240)
    answers = [line.strip() for line in run.stdout.splitlines() if line.strip()]
    if len(answers) != len(cases):
        print(f"probe answered {len(answers)} of {len(cases)} requests; stderr: {run.stderr[-2000:]}")
        return 1
    failures = [(r, want, got) for (r, want), got in zip(cases, answers) if want != got]
    for request, want, got in failures[:10]:
        print(f"MISMATCH {request[:200]}\n  expected {want}\n  got      {got}")
    print(f"{len(cases) - len(failures)} of {len(cases)} answers agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
