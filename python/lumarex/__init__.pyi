# SPDX-License-Identifier: MIT
from os import PathLike
from typing import Any, Callable, Literal, Optional, Sequence, Union, overload

import numpy as np
import numpy.typing as npt

# Settings take the command's words or numbers: "auto", "on", True, 0.3, 60,
# and numpy scalars as the Python values they stand for.
Setting = Union[str, int, float, bool, np.bool_, np.integer[Any], np.floating[Any]]
Progress = Optional[Callable[[float], Any]]
Image8 = npt.NDArray[np.uint8]
Image = Union[npt.NDArray[np.uint8], npt.NDArray[np.uint16]]

class Cancelled(Exception): ...

def version() -> str: ...
def settings(command: Literal["auto", "correct"] = ...) -> list[dict[str, str]]: ...
def auto(
    image: Image8,
    *,
    profile: Optional[bytes] = ...,
    out: Optional[Image8] = ...,
    progress: Progress = ...,
    **settings: Setting,
) -> Image8: ...

class Analysis:
    def __init__(self, image: Image, *, profile: Optional[bytes] = ..., progress: Progress = ...) -> None: ...
    @property
    def bits(self) -> Literal[8, 16]: ...
    @property
    def record(self) -> dict[str, Any]: ...
    @property
    def closed(self) -> bool: ...
    def apply(
        self,
        image: Optional[Image] = ...,
        *,
        region: Optional[Sequence[int]] = ...,
        out: Optional[Image] = ...,
        progress: Progress = ...,
        **settings: Setting,
    ) -> Image: ...
    def close(self) -> None: ...
    def __enter__(self) -> Analysis: ...
    def __exit__(self, *exc: object) -> Literal[False]: ...

def analyse(image: Image, *, profile: Optional[bytes] = ..., progress: Progress = ...) -> Analysis: ...
def detect_noise(image: Image, **settings: Setting) -> bool: ...
@overload
def read_photo(
    path: Union[str, PathLike[str]],
    *,
    bits: Literal[8, 16] = ...,
    progress: Progress = ...,
    with_profile: Literal[False] = ...,
) -> Image: ...
@overload
def read_photo(
    path: Union[str, PathLike[str]],
    *,
    bits: Literal[8, 16] = ...,
    progress: Progress = ...,
    with_profile: Literal[True],
) -> tuple[Image, Optional[bytes]]: ...
