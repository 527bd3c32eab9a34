"""Data logger: CSV bytes as the csv module writes them, files, closing, refusals and threads."""

import csv
import decimal
import errno
import fractions
import gc
import io
import os
import random
import struct
import subprocess
import sys
import threading

import pytest

import pyzelvo as z
from support.helpers import eventually

try:
    import numpy
except ImportError:  # numpy is optional
    numpy = None


@pytest.fixture
def dev():
    d = z.TavraA()
    yield d
    d.close()


# A NUL is an ordinary character to the csv module of Python 3.11 and later (the logger writes it
# as they do); 3.10's refuses it without an escape character, so the reference writes a stand-in
# that is just as ordinary and puts the NUL back.
NUL_STAND_IN = "\x01"


def csv_bytes(rows):
    out = io.StringIO(newline="")
    csv.writer(out).writerows([[v.replace("\x00", NUL_STAND_IN) if isinstance(v, str) else v for v in row]
                               for row in rows])
    return out.getvalue().replace(NUL_STAND_IN, "\x00").encode("utf-8")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Text(str):
    def __str__(self):
        return "not used"


TRICKY = [
    ["plain", "a,b", 'say "hi"', '"', "line\nbreak", "cr\ronly", "crlf\r\n", " spaced ", "\t", "a\x00b"],
    [""], [None], [], ["", ""], [None, None], ["", None, ""],
    [True, False, 0, -1, 2**63, -(2**64), 10**40],
    [0.1, 1e-05, 1e16, 1e15, 123.0, -0.0, float("inf"), float("-inf"), float("nan"), 5e-324, 1.7976931348623157e308],
    ["é€😀", "日本語", Text("sub,class")],
    [decimal.Decimal("1.10"), fractions.Fraction(1, 3), 1 + 2j],
]
if numpy is not None:
    TRICKY.append([numpy.float64(0.1), numpy.float32(0.1), numpy.int64(-5), numpy.uint8(255), numpy.bool_(True)])


@pytest.mark.parametrize("how", ["2d", "lists", "values"])
def test_rows_are_written_as_the_csv_module_writes_them(dev, tmp_path, how):
    path = tmp_path / "out.csv"
    assert dev.Logger_openFile(path, verbose=False) == 0
    if how == "2d":
        assert dev.Logger_write2DList(TRICKY) == 0
        expected = TRICKY
    elif how == "lists":
        assert dev.Logger_writeHeader(("a", "b")) == 0
        for row in TRICKY:
            assert dev.Logger_writeList(row) == 0
        expected = [("a", "b")] + TRICKY
    else:
        expected = [[v] for row in TRICKY for v in row]
        for [v] in expected:
            assert dev.Logger_writeValue(v) == 0
    dev._Logger_close()
    assert read(path) == csv_bytes(expected)


@pytest.mark.skipif(numpy is None, reason="needs numpy")
def test_numpy_arrays_are_written_as_the_csv_module_writes_them(dev, tmp_path):
    mat = numpy.random.default_rng(3).normal(size=(50, 8)) * 10.0 ** numpy.arange(-20, 20, 5)
    mat[0, :4] = [numpy.nan, numpy.inf, -0.0, 1e16]
    rows = [mat, mat[::3, ::-2], mat.T, mat.astype(numpy.float32), mat.astype(">f8"), numpy.arange(-8, 8).reshape(2, 8)]
    dev.Logger_openFile(tmp_path / "f.csv", verbose=False)
    for m in rows:
        dev.Logger_write2DList(m)
        dev.Logger_writeList(m[1])
    dev._Logger_close()
    assert read(tmp_path / "f.csv") == csv_bytes([r for m in rows for r in [*m, m[1]]])


def test_floats_are_written_in_their_shortest_round_trip_text(dev, tmp_path):
    rnd = random.Random(7)
    rows = [[struct.unpack("<d", struct.pack("<Q", rnd.getrandbits(64)))[0] for _ in range(8)] for _ in range(3000)]
    rows += [[s * m * 10.0**e for m in (1, 1.5, 1 / 3, 9.999999999999999)] for e in range(-25, 25) for s in (1, -1)]
    dev.Logger_openFile(tmp_path / "f.csv", verbose=False)
    dev.Logger_write2DList(rows)
    dev._Logger_close()
    assert read(tmp_path / "f.csv") == csv_bytes(rows)


@pytest.mark.parametrize("clear_old, expected", [(True, b"new\r\n"), (False, b"old\r\nnew\r\n")])
def test_opening_replaces_or_appends(dev, tmp_path, clear_old, expected):
    path = tmp_path / "f.csv"
    path.write_bytes(b"old\r\n")
    dev.Logger_openFile(str(path), clear_old=clear_old, verbose=False)
    dev.Logger_writeValue("new")
    dev._Logger_close()
    assert read(path) == expected


def test_rows_written_before_the_file_is_opened_reach_it(dev, tmp_path, capsys):
    dev.Logger_writeValue(1)
    dev.Logger_write2DList([[2], [3]])
    assert dev.f_handle is None and dev.filename is None
    dev.Logger_openFile(tmp_path / "f.csv")
    assert capsys.readouterr().out == f"Opened file name: ({tmp_path / 'f.csv'})\n"
    assert dev.f_handle == dev.filename == str(tmp_path / "f.csv")
    dev.Logger_openFile(tmp_path / "g.csv", verbose=False)
    assert capsys.readouterr().out == ""
    dev._Logger_close()
    assert read(tmp_path / "f.csv") == b"1\r\n2\r\n3\r\n"
    assert dev.f_handle is None and dev.filename == str(tmp_path / "g.csv")


def test_closing_without_a_file_reports_the_rows_not_written(dev, capsys):
    dev.Logger_write2DList([[1], [2]])
    assert dev._Logger_close() == 0
    assert capsys.readouterr().out == "Data logger closed without a file: 2 rows were not written.\n"


def close_logger(d):
    d._Logger_close()


def close_product(d):
    d.close()


@pytest.mark.parametrize("close", [close_logger, close_product])
def test_every_queued_row_reaches_the_file_before_it_is_closed(tmp_path, close):
    d = z.TavraA()
    d.Logger_openFile(tmp_path / "f.csv", verbose=False)
    for i in range(2000):
        d.Logger_write2DList([[i, "x" * 100]] * 10)
    close(d)
    assert read(tmp_path / "f.csv") == csv_bytes([[i, "x" * 100] for i in range(2000) for _ in range(10)])
    close(d)  # a second close is harmless
    assert d._Logger_close() == 0
    with pytest.raises(ValueError, match="closed"):
        d.Logger_writeValue(1)
    with pytest.raises(ValueError, match="closed"):
        d.Logger_openFile(tmp_path / "g.csv")
    d.close()


def test_a_collected_product_writes_its_rows(tmp_path):
    d = z.TavraA()
    d.Logger_openFile(tmp_path / "f.csv", verbose=False)
    d.Logger_write2DList([[i] for i in range(1000)])
    del d
    gc.collect()
    assert read(tmp_path / "f.csv") == csv_bytes([[i] for i in range(1000)])


EXIT_WITHOUT_CLOSE = """
import sys, pyzelvo
d = pyzelvo.TavraA()
d.Logger_openFile(sys.argv[1], verbose=False)
for i in range(20000):
    d.Logger_writeList([i, 0.5])
"""


def test_rows_reach_the_file_when_the_program_ends_without_close(tmp_path):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.run([sys.executable, "-c", EXIT_WITHOUT_CLOSE, str(tmp_path / "f.csv")],
                          capture_output=True, text=True, timeout=60, env=env)
    assert proc.returncode == 0, proc.stderr
    assert read(tmp_path / "f.csv") == csv_bytes([[i, 0.5] for i in range(20000)])


@pytest.mark.parametrize("same_name, clear_old", [(False, True), (True, True), (True, False)])
def test_a_second_open_writes_out_the_first_file(dev, tmp_path, same_name, clear_old):
    first, second = tmp_path / "a.csv", tmp_path / ("a.csv" if same_name else "b.csv")
    dev.Logger_openFile(first, verbose=False)
    dev.Logger_write2DList([["first"]] * 5000)
    dev.Logger_openFile(second, clear_old=clear_old, verbose=False)
    dev.Logger_writeValue("second")
    dev._Logger_close()
    if not same_name:
        assert read(first) == b"first\r\n" * 5000
    assert read(second) == b"first\r\n" * 5000 * (same_name and not clear_old) + b"second\r\n"


@pytest.mark.parametrize("call, arg", [
    ("Logger_writeList", "not a list"),
    ("Logger_writeList", [1, b"bytes"]),
    ("Logger_writeHeader", {"a": 1}),
    ("Logger_writeValue", object()),
    ("Logger_writeValue", [1, 2]),
    ("Logger_write2DList", [[1], 2]),
    ("Logger_write2DList", [[1], [2, {3}]]),
    ("Logger_write2DList", "ab"),
    ("Logger_write2DList", [b"ab"]),
    ("Logger_writeList", (v for v in [1])),
])
def test_rows_that_cannot_be_logged_are_refused_and_nothing_of_them_is_written(dev, tmp_path, call, arg):
    dev.Logger_openFile(tmp_path / "f.csv", verbose=False)
    with pytest.raises(z.InputTypeNotCorrectError):
        getattr(dev, call)(arg)
    dev.Logger_writeValue("after")
    dev._Logger_close()
    assert read(tmp_path / "f.csv") == b"after\r\n"


def test_text_that_cannot_be_encoded_is_refused(dev):
    with pytest.raises(z.InputDataNotInRangeError, match=r"value_list\[1\]"):
        dev.Logger_writeList(["ok", "\ud800"])


def test_concurrent_batches_stay_whole_and_in_order(dev, tmp_path):
    threads, batches, rows = 4, 200, 5
    start = threading.Barrier(threads)

    def produce(t):
        start.wait()
        for b in range(batches):
            dev.Logger_write2DList([[t, b, r] for r in range(rows)])

    dev.Logger_openFile(tmp_path / "f.csv", verbose=False)
    workers = [threading.Thread(target=produce, args=(t,)) for t in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    dev._Logger_close()
    got = [tuple(map(int, r)) for r in csv.reader(io.StringIO(read(tmp_path / "f.csv").decode()))]
    batches_seen = [got[i:i + rows] for i in range(0, len(got), rows)]
    assert all(batch == [(batch[0][0], batch[0][1], r) for r in range(rows)] for batch in batches_seen)
    for t in range(threads):
        assert [b for (tt, b, _), *_ in batches_seen if tt == t] == list(range(batches))


@pytest.mark.parametrize("name, error", [
    ("missing/f.csv", FileNotFoundError),
    (".", IsADirectoryError),
])
def test_a_file_that_cannot_be_opened_raises_and_the_open_file_stays(dev, tmp_path, name, error):
    dev.Logger_openFile(tmp_path / "good.csv", verbose=False)
    dev.Logger_writeValue(1)
    with pytest.raises(error) as info:
        dev.Logger_openFile(tmp_path / name)
    assert info.value.filename == str(tmp_path / name)
    dev.Logger_writeValue(2)
    assert dev.f_handle == str(tmp_path / "good.csv")
    dev._Logger_close()
    assert read(tmp_path / "good.csv") == b"1\r\n2\r\n"


@pytest.mark.parametrize("name, error", [(None, z.InputTypeNotCorrectError), (3, z.InputTypeNotCorrectError),
                                         ("a\x00b", ValueError)])
def test_file_names_of_the_wrong_kind_are_refused(dev, name, error):
    with pytest.raises(error):
        dev.Logger_openFile(name)
    assert dev.f_handle is None


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_a_failing_file_is_reported_once_and_later_rows_are_refused(dev, tmp_path, capsys):
    dev.Logger_openFile("/dev/full", verbose=False)

    def refused():
        try:
            dev.Logger_writeValue("x" * 100)
        except OSError as e:
            return e
        return None

    assert eventually(refused, within=10)
    err = refused()
    assert err.errno == 28 and err.filename == "/dev/full"
    assert capsys.readouterr().out.count("OSError: [Errno 28]") == 1
    dev.Logger_openFile(tmp_path / "f.csv", verbose=False)  # a new file is written again
    dev.Logger_writeValue("ok")
    dev._Logger_close()
    assert read(tmp_path / "f.csv") == b"ok\r\n"


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("close", [close_logger, close_product])
def test_rows_that_did_not_reach_the_file_are_raised_by_close(close):
    dev = z.TavraA()
    dev.Logger_openFile("/dev/full", verbose=False)
    dev.Logger_write2DList([[i] for i in range(1000)])
    with pytest.raises(OSError, match="1000 rows did not reach the file") as info:
        close(dev)
    assert info.value.errno == errno.ENOSPC and info.value.filename == "/dev/full"
    close(dev) if close is close_product else dev.close()  # reported once: closing again is quiet


def test_attributes(dev):
    assert dev.queue_timeout == 999999
    with pytest.raises(AttributeError):
        dev.f_handle = "x"
    assert not hasattr(dev, "Logger_writeList_async")
