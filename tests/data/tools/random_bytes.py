#!/usr/bin/env python3
"""Write N pseudo-random bytes (Python random, seed 1).

Usage: random_bytes.py OUT [N]   (default N = 65536)
"""
import random
import sys

if len(sys.argv) not in (2, 3):
    sys.exit("usage: random_bytes.py OUT [N]")
n = int(sys.argv[2]) if len(sys.argv) == 3 else 65536
rng = random.Random(1)
with open(sys.argv[1], "wb") as f:
    f.write(rng.randbytes(n))
