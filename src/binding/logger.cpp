// The data logger's operations. Values become their CSV text here, while the interpreter lock is
// held (a value's text is what str() gives, as the csv module writes it); the writer thread only
// ever sees bytes. A row with a value that cannot be logged is refused at the call, so nothing bad
// reaches the writer.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/analog/data_logger.hpp"

namespace zelvo::py {
namespace {

// What every logger operation returns.
constexpr int kDone = 0;
constexpr const char* kAcceptedValues = "a logged value is a str, a number, a bool or None";

// numbers.Number, looked up once when the binding is built. Never released: values may still be
// checked while the interpreter shuts down.
PyObject* g_number_class = nullptr;

// Where a value sits in the caller's argument, for error messages: "value_mat[2][0]".
struct Where {
  const char* arg;
  Py_ssize_t row = -1;  // index of the row in a list of rows
  Py_ssize_t col = -1;  // index of the value in its row

  std::string text() const {
    std::string s = arg;
    if (row >= 0) s += "[" + std::to_string(row) + "]";
    if (col >= 0) s += "[" + std::to_string(col) + "]";
    return s;
  }
};

std::string typeName(PyObject* v) { return Py_TYPE(v)->tp_name; }

// numpy's bool is not a numbers.Number; it counts when numpy is loaded.
bool isNumpyBool(PyObject* v) {
  nb::object numpy = nb::steal(PyImport_GetModule(nb::str("numpy").ptr()));
  if (!numpy.is_valid()) {
    PyErr_Clear();
    return false;
  }
  nb::object cls = nb::getattr(numpy, "bool_", nb::none());
  if (cls.is_none()) return false;
  const int r = PyObject_IsInstance(v, cls.ptr());
  if (r < 0) throw nb::python_error();
  return r == 1;
}

bool isNumber(PyObject* v) {
  if (PyFloat_Check(v) || PyLong_Check(v)) return true;
  const int r = PyObject_IsInstance(v, g_number_class);
  if (r < 0) throw nb::python_error();
  return r == 1 || isNumpyBool(v);
}

// The UTF-8 text of a str; a text that has none (lone surrogates) is refused.
std::string_view utf8(PyObject* s, const Where& where) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(s, &size);
  if (!data) {
    PyErr_Clear();
    throw Error(Err::InputDataNotInRangeError, where.text() + " is not encodable text.");
  }
  return {data, static_cast<std::size_t>(size)};
}

// Adds one value as a field: None as an empty field, a str as it is, anything else as its str()
// (ints and floats are written without calling Python, as their str() is).
void addValue(CsvRows& rows, PyObject* v, const Where& where) {
  if (v == Py_None) return rows.field({});
  if (PyUnicode_Check(v)) return rows.field(utf8(v, where));
  if (PyBool_Check(v)) return rows.field(v == Py_True ? "True" : "False");
  if (PyFloat_CheckExact(v)) return rows.number(PyFloat_AS_DOUBLE(v));
  if (PyLong_CheckExact(v)) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (overflow == 0) return rows.number(n);
  }
  if (!isNumber(v))
    throw Error(Err::InputTypeNotCorrectError,
                where.text() + " (" + typeName(v) + ") cannot be logged: " + kAcceptedValues + ".");
  nb::object text = nb::steal(PyObject_Str(v));
  if (!text.is_valid()) throw nb::python_error();
  rows.field(utf8(text.ptr(), where));
}

// A row, or a list of rows: a list, a tuple or another sequence (a numpy array, ...), but not a
// text or bytes, which would be split into characters. Returns it as a list or a tuple.
nb::object sequenceOf(PyObject* v, const Where& where, const char* what) {
  if (PySequence_Check(v) && !PyUnicode_Check(v) && !PyBytes_Check(v) && !PyByteArray_Check(v)) {
    nb::object seq = nb::steal(PySequence_Fast(v, "not iterable"));
    if (seq.is_valid()) return seq;
    PyErr_Clear();
  }
  throw Error(Err::InputTypeNotCorrectError,
              where.text() + " (" + typeName(v) + ") must be a list, a tuple or an array of " + what + ".");
}

// Float64 arrays (numpy arrays, array.array, ...) of `ndim` dimensions are read straight from their
// memory, one row per line; their items' str() is the shortest round-trip text, as a float's.
// False, with nothing added, for anything else.
bool addFloatArray(CsvRows& rows, PyObject* v, int ndim) {
  if (PyList_Check(v) || PyTuple_Check(v) || !PyObject_CheckBuffer(v)) return false;
  Py_buffer view;
  if (PyObject_GetBuffer(v, &view, PyBUF_RECORDS_RO) != 0) {
    PyErr_Clear();
    return false;
  }
  const std::unique_ptr<Py_buffer, decltype(&PyBuffer_Release)> release(&view, &PyBuffer_Release);
  const std::string_view format = view.format ? view.format : "";
  const bool little = std::endian::native == std::endian::little;
  const bool native_double = format == "d" || format == "@d" || format == "=d" || format == (little ? "<d" : ">d");
  if (!native_double || view.itemsize != sizeof(double) || view.ndim != ndim) return false;
  const Py_ssize_t n_rows = ndim == 2 ? view.shape[0] : 1;
  const Py_ssize_t n_cols = view.shape[ndim - 1];
  const Py_ssize_t row_step = ndim == 2 ? view.strides[0] : 0;
  const Py_ssize_t col_step = view.strides[ndim - 1];
  const char* base = static_cast<const char*>(view.buf);
  for (Py_ssize_t r = 0; r < n_rows; ++r) {
    for (Py_ssize_t c = 0; c < n_cols; ++c) {
      double x = 0;
      std::memcpy(&x, base + r * row_step + c * col_step, sizeof x);
      rows.number(x);
    }
    rows.endRow();
  }
  return true;
}

// Adds one row. Items are read one at a time (a value's str() could change a list while it is
// read).
void addRow(CsvRows& rows, PyObject* row, Where where) {
  if (addFloatArray(rows, row, 1)) return;
  const nb::object values = sequenceOf(row, where, "values");
  for (where.col = 0; where.col < PySequence_Fast_GET_SIZE(values.ptr()); ++where.col) {
    nb::object v = nb::borrow(PySequence_Fast_GET_ITEM(values.ptr(), where.col));
    addValue(rows, v.ptr(), where);
  }
  rows.endRow();
}

// The rows of a write operation's argument (named `arg` in error messages).
using RowsOf = CsvRows (*)(PyObject* value, const char* arg);

CsvRows oneRow(PyObject* row, const char* arg) {
  CsvRows rows;
  addRow(rows, row, Where{arg});
  return rows;
}

CsvRows oneValue(PyObject* value, const char* arg) {
  CsvRows rows;
  addValue(rows, value, Where{arg});
  rows.endRow();
  return rows;
}

CsvRows manyRows(PyObject* list, const char* arg) {
  Where where{arg};
  CsvRows rows;
  if (addFloatArray(rows, list, 2)) return rows;
  const nb::object all = sequenceOf(list, where, "rows");
  for (where.row = 0; where.row < PySequence_Fast_GET_SIZE(all.ptr()); ++where.row) {
    nb::object row = nb::borrow(PySequence_Fast_GET_ITEM(all.ptr(), where.row));
    addRow(rows, row.ptr(), where);
  }
  return rows;
}

// A path as open() takes it: str, bytes or os.PathLike, in the file-system encoding.
std::string fsPath(nb::handle h) {
  nb::object p = nb::steal(PyOS_FSPath(h.ptr()));
  if (!p.is_valid()) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
    PyErr_Clear();
    throw Error(Err::InputTypeNotCorrectError, "filename (" + typeName(h.ptr()) + ") must be a str or a path.");
  }
  PyObject* raw = nullptr;
  if (!PyUnicode_FSConverter(p.ptr(), &raw)) throw nb::python_error();  // ValueError: embedded null byte
  nb::object bytes = nb::steal(raw);
  return std::string(PyBytes_AS_STRING(raw), static_cast<std::size_t>(PyBytes_GET_SIZE(raw)));
}

nb::object pathText(const std::optional<std::string>& path) {
  if (!path) return nb::none();
  nb::object s = nb::steal(PyUnicode_DecodeFSDefaultAndSize(path->data(), static_cast<Py_ssize_t>(path->size())));
  if (!s.is_valid()) throw nb::python_error();
  return s;
}

// A file that cannot be opened or written raises OSError (FileNotFoundError, PermissionError,
// ... by its error number) with the path; a closed logger raises ValueError, like a closed file.
void translateLoggerErrors(const std::exception_ptr& p, void*) {
  try {
    std::rethrow_exception(p);
  } catch (const LoggerFileError& e) {
    nb::object path = pathText(e.path());
    nb::object exc = nb::steal(PyObject_CallFunction(PyExc_OSError, "isO", e.err(), e.what(), path.ptr()));
    if (exc.is_valid()) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  } catch (const LoggerClosedError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  }
}

void prepare() {
  if (g_number_class) return;
  nb::object number = nb::module_::import_("numbers").attr("Number");
  g_number_class = number.release().ptr();
  nb::register_exception_translator(&translateLoggerErrors);
}

// The arguments of the logger's members, each converted where the call arrives: a path, and
// rows made by one of the conversions above, with the Python type the signature shows.
struct FsPath {
  std::string path;
};
template <RowsOf Convert, const char* PyName>
struct Rows {
  CsvRows rows;
};
constexpr char kRowType[] = "collections.abc.Sequence[typing.Any]";
constexpr char kRowOrArrayType[] = "collections.abc.Sequence[typing.Any] | numpy.typing.NDArray[typing.Any]";
constexpr char kValueType[] = "typing.Any";
constexpr char kRowsOrArrayType[] =
    "collections.abc.Sequence[collections.abc.Sequence[typing.Any]] | numpy.typing.NDArray[typing.Any]";
// The text of a path the logger keeps (None when it has none).
struct PathText {
  std::optional<std::string> path;
};

}  // namespace

template <>
struct Arg<FsPath> {
  static constexpr const char* pyName = "str | os.PathLike[str]";
  static FsPath from(nb::handle h, const char*) { return FsPath{fsPath(h)}; }
};
template <RowsOf Convert, const char* PyName>
struct Arg<Rows<Convert, PyName>> {
  static constexpr const char* pyName = PyName;
  static Rows<Convert, PyName> from(nb::handle h, const char* name) { return {Convert(h.ptr(), name)}; }
};
template <>
struct Result<PathText> {
  static constexpr const char* pyName = "str | None";
  static nb::object to(const PathText& p) { return pathText(p.path); }
};

namespace {

int openFile(Device& d, FsPath filename, bool clear_old, bool verbose) {
  moduleOf<DataLogger>(d).openFile(filename.path, !clear_old, verbose);
  return kDone;
}

template <class R>
int queue(Device& d, R rows) {
  moduleOf<DataLogger>(d).write(std::move(rows.rows));
  return kDone;
}

int closeLogger(Device& d, bool verbose) {
  moduleOf<DataLogger>(d).close(verbose);
  return kDone;
}

}  // namespace

void bindDataLogger(nb::handle cls) {
  prepare();
  OpSignature<3> open({"filename", "clear_old", "verbose"});
  open.defaults = {nb::object(), nb::bool_(true), nb::bool_(true)};
  defCheckWith<&openFile>(
      cls, "Logger_openFile", open,
      "Opens the CSV file the rows go to (replacing its contents, or appending when clear_old is false)\n"
      "and prints 'Opened file name: (filename)' when verbose. Rows queued before the first file is\n"
      "opened are written to it; a file already open is closed once its queued rows are written.\n"
      "OSError (FileNotFoundError, PermissionError, ...) when the file cannot be opened.");
  // The write operations: each turns its argument into rows and queues them.
  defCheck<&queue<Rows<&oneRow, kRowType>>>(cls, "Logger_writeHeader", {"header"},
                                            "Queues a header row (as Logger_writeList).");
  defCheck<&queue<Rows<&oneRow, kRowOrArrayType>>>(
      cls, "Logger_writeList", {"value_list"},
      "Queues one row: a list, tuple or numpy array of str, numbers, bools or None (an empty field).");
  defCheck<&queue<Rows<&oneValue, kValueType>>>(cls, "Logger_writeValue", {"value"}, "Queues a row of one value.");
  defCheck<&queue<Rows<&manyRows, kRowsOrArrayType>>>(
      cls, "Logger_write2DList", {"value_mat"},
      "Queues rows (a list of rows, or a 2-D numpy array), written together and in order. Returns at\n"
      "once; nothing is written when a value cannot be logged (InputTypeNotCorrectError).");
  OpSignature<1> close({"verbose"});
  close.defaults = {nb::bool_(true)};
  defCheckWith<&closeLogger>(cls, "_Logger_close", close,
                             "Writes every queued row, closes the file and ends the writer thread (close() does this too);\n"
                             "later writes raise ValueError. A second call does nothing.");

  defState<DataLogger>(cls, "filename", [](const DataLogger& l) { return PathText{l.filename()}; },
                       "The file name given to the last Logger_openFile that succeeded (None before).");
  defState<DataLogger>(cls, "f_handle", [](const DataLogger& l) { return PathText{l.openPath()}; },
                       "The name of the file open now, None when no file is open.");
  defState<DataLogger>(cls, "queue_timeout", [](const DataLogger&) { return DataLogger::QUEUE_TIMEOUT_S; },
                       "999999: the writer waits for rows without a time-out and ends only when the logger is closed.");
}

}  // namespace zelvo::py
