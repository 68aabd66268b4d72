# SPDX-License-Identifier: MIT
from os import PathLike
from typing import Any, Iterable, Literal, Optional, Sequence, Union

from . import Setting

StrPath = Union[str, PathLike[str]]

class FileReport:
    input: str
    output: str
    ok: bool
    error: str
    summary: str
    seconds: float
    worker: str

def correct_files(
    inputs: Iterable[StrPath],
    out_dir: StrPath,
    *,
    client: Optional[Any] = ...,
    command: Literal["auto", "correct"] = ...,
    quality: int = ...,
    overwrite: bool = ...,
    workers: Optional[int] = ...,
    max_megapixels: float = ...,
    max_memory: float = ...,
    **settings: Setting,
) -> list[FileReport]: ...
def main(argv: Optional[Sequence[str]] = ...) -> int: ...
