"""Copies the built libquorvel.so into the package, so the installed package carries it.

Where it comes from: QUORVEL_BIBLIOTECA_CONSTRUIDA, else ../build/libquorvel.so (the tree's
`make` build). Without either, the package is built without it and finds the library through
QUORVEL_BIBLIOTECA or the system's library path at import."""

import os
import shutil
import subprocess
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py


class BuildComBiblioteca(build_py):
    def run(self) -> None:
        super().run()
        aqui = Path(__file__).resolve().parent
        origem = os.environ.get("QUORVEL_BIBLIOTECA_CONSTRUIDA") or str(
            aqui.parent / "build" / "libquorvel.so")
        if not Path(origem).exists():
            print(f"quorvel: {origem} não existe; o pacote vai sem a biblioteca")
            return
        destino = Path(self.build_lib) / "quorvel" / "libquorvel.so"
        shutil.copyfile(Path(origem).resolve(), destino)
        if shutil.which("strip"):
            subprocess.run(["strip", "--strip-debug", str(destino)], check=False)


setup(cmdclass={"build_py": BuildComBiblioteca})
