"""A reader of state payloads written from docs/state-format.md alone: the
tests use it to look inside payloads (exact sums, counts) and so keep the
document true."""

from __future__ import annotations

import struct
import zlib

KINDS = {
    1: "PyCategoricalDataDrift", 2: "PyContinuousDataDrift", 3: "PyStreamingContinuousDataDriftFlush",
    4: "PyStreamingContinuousDataDriftDecay", 5: "PyStreamingCategoricalDataDriftFlush",
    6: "PyStreamingCategoricalDataDriftDecay", 7: "PyDataBiasStreaming", 8: "PyModelBiasStreaming",
    9: "PyBinaryClassificationStreaming", 10: "PyLinearRegressionStreaming", 11: "PyLogisticRegressionStreaming",
}
KIND_OF = {v: k for k, v in KINDS.items()}
HEADER = struct.Struct("<4sHBBQ")


class Body:
    def __init__(self, data: bytes, pos: int = 0):
        self.data, self.pos = data, pos

    def take(self, fmt: str):
        s = struct.Struct("<" + fmt)
        values = s.unpack_from(self.data, self.pos)
        self.pos += s.size
        return values if len(values) > 1 else values[0]

    def vec(self, t: str) -> list:
        n = self.take("Q")
        return list(self.take(f"{n}{t}")) if n != 1 else [self.take(t)]

    def text(self) -> str:
        n = self.take("I")
        s = self.data[self.pos:self.pos + n].decode("utf-8")
        self.pos += n
        return s


def continuous(b: Body) -> dict:
    return {"rule": b.take("B"), "scale": b.take("d"), "edges": b.vec("d"), "shares": b.vec("d")}


def categorical(b: Body) -> dict:
    labels = [b.text() for _ in range(b.take("Q"))]
    return {"labels": labels, "shares": b.vec("d")}


def stream(b: Body, flush: bool) -> dict:
    out = {"weights": b.vec("d"), "total": b.take("d")}
    if flush:
        out.update(rate=b.take("d"), cadence=(b.take("Q"), b.take("I")), elapsed_ns=b.take("Q"))
    else:
        out["decay"] = b.take("d")
    return out


def read(payload: bytes) -> dict:
    """The fields of a payload by the names of docs/state-format.md."""
    magic, version, kind, flags, length = HEADER.unpack_from(payload, 0)
    assert magic == b"QVST" and flags == 0 and version == 1
    assert len(payload) == 20 + length
    (crc,) = struct.unpack_from("<I", payload, 16 + length)
    assert crc == zlib.crc32(payload[:16 + length])
    b = Body(payload[16:16 + length])
    out = {"kind": KINDS[kind], "version": version}
    if kind in (2, 3, 4):
        out["baseline"] = continuous(b)
    elif kind in (1, 5, 6):
        out["baseline"] = categorical(b)
    if kind in (3, 4, 5, 6):
        out["stream"] = stream(b, flush=kind in (3, 5))
    if kind == 7:
        out.update(counts=list(b.take("4Q")), baseline=list(b.take("7f")), rules=[b.take("Bb"), b.take("Bb")])
    elif kind == 8:
        out.update(counts=list(b.take("8Q")), baseline=list(b.take("12f")),
                   rules=[b.take("Bb"), b.take("Bb"), b.take("Bb")])
    elif kind == 9:
        out.update(counts=list(b.take("4Q")), positive=b.take("i"), baseline=list(b.take("7f")))
    elif kind == 10:
        out.update(baseline=list(b.take("8f")), sums=list(b.take("10d")))
    elif kind == 11:
        out.update(baseline=list(b.take("8f")), counts=list(b.take("4Q")), log_loss=b.take("d"), eps=b.take("f"),
                   threshold=b.take("f"))
    assert b.pos == length, "the body ends where its last field does"
    return out


def seal(kind: str, body: bytes, version: int = 1, flags: int = 0) -> bytes:
    """A payload around `body`, as a writer makes it."""
    head = HEADER.pack(b"QVST", version, KIND_OF[kind], flags, len(body)) + body
    return head + struct.pack("<I", zlib.crc32(head))


def body_of(payload: bytes) -> bytes:
    return payload[16:-4]
