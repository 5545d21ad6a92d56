"""A relogio-virtual daemon serving clock 1 with a log of seeded punches, for the benchmarks that
measure a whole collection over loopback."""

from __future__ import annotations

import contextlib
import os
import subprocess
from typing import Iterator, Tuple


@contextlib.contextmanager
def relogio_semeado(build: str, total: int, modelo: str) -> Iterator[Tuple[subprocess.Popen, int]]:
    """The daemon and the port of clock 1 (`modelo`, `total` punches); stopped on the way out."""
    daemon = subprocess.Popen(
        [os.path.join(build, "tools/relogio-virtual/relogio-virtual"), "--semear", str(total),
         "--relogio", f"codigo=1,porta=0,modelo={modelo},capacidade={total + 1000}"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        assert daemon.stdout is not None
        yield daemon, int(daemon.stdout.readline().rsplit(":", 1)[1])
    finally:
        daemon.terminate()
        daemon.wait()
